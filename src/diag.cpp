#include "diag.h"

#include <GL/gl.h>
#include <GL/glu.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "world.h"

namespace {

constexpr char kDetailSeparator = '|';

std::string& errorLogPath() {
    static std::string path = world::kErrorLogName;
    return path;
}

// One write per entry on a descriptor of its own. Non-blocking and without following links, so
// a FIFO can't stall the viewer and a link planted in a downloaded world can't point the log at
// another file.
void appendEntry(const std::string& entry) {
    const int descriptor =
        ::open(errorLogPath().c_str(),
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
    errorLogPath() = world::errorLogPath(folder);
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

void logError(const unsigned char* message) {
    logError(std::string(message ? reinterpret_cast<const char*>(message) : ""));
}

void logError(const std::string& message, const std::string& detail) {
    appendEntry(message + kDetailSeparator + detail);
}

void logError(const std::string& message, long value) {
    appendEntry(message + kDetailSeparator + std::to_string(value));
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
    if (exitOnError) {
        std::exit(exitStatusForGLError(code));
    }
    return true;
}
