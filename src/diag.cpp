#include "diag.h"

#include <GL/gl.h>
#include <GL/glu.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "world.h"

namespace {

struct ErrorLog {
    std::string path = world::kErrorLogName;  // empty: no file
    std::string folderToMake;                 // before the first entry
    bool toStandardError = false;
};

ErrorLog& errorLog() {
    static ErrorLog log;
    return log;
}

// Makes folder and its missing parents, each private to the user; true when it is a folder then.
bool makePrivateFolder(const std::string& folder) {
    for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string prefix = folder.substr(0, slash);
        if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) {
            return false;
        }
        if (slash == std::string::npos) {
            break;
        }
    }
    struct stat status {};
    return ::stat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// One write per entry on a descriptor of its own. Non-blocking and without following links, so
// a FIFO can't stall the viewer and a link planted in a downloaded world can't point the log at
// another file.
void appendEntry(const std::string& entry) {
    ErrorLog& log = errorLog();
    if (!log.folderToMake.empty()) {
        if (!makePrivateFolder(log.folderToMake)) {
            log.path.clear();
        }
        log.folderToMake.clear();
    }
    if (log.path.empty()) {
        return;
    }
    const int descriptor =
        ::open(log.path.c_str(),
               O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (descriptor < 0) {
        return;
    }
    struct stat status {};
    if (fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode)) {
        const std::string line = entry + "\n";
        [[maybe_unused]] const ssize_t written = ::write(descriptor, line.data(), line.size());
    }
    ::close(descriptor);
}

}  // namespace

void setErrorLogFolder(const std::string& folder) {
    errorLog() = {world::errorLogPath(folder), "", false};
}

std::string stateLogFolder(const char* stateHome, const char* home) {
    const auto absolute = [](const char* folder) { return folder != nullptr && folder[0] == '/'; };
    if (absolute(stateHome)) {
        return world::inFolder(stateHome, "groundview");
    }
    return absolute(home) ? world::inFolder(home, ".local/state/groundview") : "";
}

void setStateErrorLog(const std::string& folder) {
    errorLog() = {folder.empty() ? "" : world::errorLogPath(folder), folder, true};
}

void openMissingStandardDescriptors() {
    for (int descriptor = 0; descriptor <= 2; ++descriptor) {
        if (fcntl(descriptor, F_GETFD) == -1) {
            // open() takes the lowest free number, which is this one.
            ::open("/dev/null", descriptor == 0 ? O_RDONLY : O_WRONLY);
        }
    }
}

void writeMessages(const std::vector<LoadMessage>& messages) {
    for (const LoadMessage& message : messages) {
        if (message.channel == LoadMessage::Channel::ErrorLog) {
            logError(message.text);
        } else {
            std::cerr << message.text << std::endl;
        }
    }
}

void logError(const std::string& message) {
    appendEntry(message);
}

int exitStatusForGLError(unsigned int code) {
    const int lowByte = static_cast<int>(code & 0xFFu);
    return lowByte != 0 ? lowByte : kGLErrorStatusLowByteZero;
}

std::string glErrorText(unsigned int code) {
    const GLubyte* text = gluErrorString(code);
    if (text != nullptr) {
        return reinterpret_cast<const char*>(text);
    }
    char fallback[40];
    std::snprintf(fallback, sizeof fallback, "unknown OpenGL error 0x%04X", code);
    return fallback;
}

std::vector<std::string> glErrorEntries(unsigned int code) {
    return {"OpenGL error:", glErrorText(code)};
}

bool checkGLError(bool exitOnError) {
    const GLenum code = glGetError();
    if (code == GL_NO_ERROR) {
        return false;
    }
    for (const std::string& entry : glErrorEntries(code)) {
        logError(entry);
    }
    if (errorLog().toStandardError) {
        std::cerr << "groundview: OpenGL error: " << glErrorText(code) << std::endl;
    }
    if (exitOnError) {
        std::exit(exitStatusForGLError(code));
    }
    return true;
}
