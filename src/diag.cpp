#include "diag.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <utility>

namespace {

constexpr const char* kErrorLogName = "errorlog.txt";
constexpr char kDetailSeparator = '|';

ErrorLogSink& errorLogSink() {
    static ErrorLogSink sink;
    return sink;
}

template <typename Writer>
void appendEntry(Writer write) {
    if (errorLogSink()) {
        std::ostringstream entry;
        write(entry);
        errorLogSink()(entry.str());
        return;
    }
    std::ofstream log(kErrorLogName, std::ios::out | std::ios::app);
    if (!log) {
        return;
    }
    write(log);
    log << std::endl;
}

}  // namespace

void redirectErrorLog(ErrorLogSink sink) {
    errorLogSink() = std::move(sink);
}

void logError(const std::string& message) {
    appendEntry([&](std::ostream& out) { out << message; });
}

void logError(const unsigned char* message) {
    logError(std::string(message ? reinterpret_cast<const char*>(message) : ""));
}

void logError(const std::string& message, const std::string& detail) {
    appendEntry([&](std::ostream& out) { out << message << kDetailSeparator << detail; });
}

void logError(const std::string& message, long value) {
    appendEntry([&](std::ostream& out) { out << message << kDetailSeparator << value; });
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

bool checkGLError(bool exitOnError) {
    const GLenum code = glGetError();
    if (code == GL_NO_ERROR) {
        return false;
    }
    logError("OpenGL error:");
    logError(glErrorText(code));
    if (exitOnError) {
        std::exit(exitStatusForGLError(code));
    }
    return true;
}
