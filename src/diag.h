#pragma once
// Diagnostics: the append-only error log "errorlog.txt" in the working folder, a trace hook that
// marks progress points, and the check of the OpenGL error flag that can end the process.

#include <functional>
#include <string>

// Each entry is one line, appended through a stream opened for that entry alone, so a crash
// never loses an entry already written. An unwritable log loses entries silently.
void logError(const std::string& message);
void logError(const unsigned char* message);  // the text gluErrorString returns
void logError(const std::string& message, const std::string& detail);
void logError(const std::string& message, long value);

// Sends every entry to sink instead of the file, for tools that report what the viewer would log;
// an empty sink restores the file.
using ErrorLogSink = std::function<void(const std::string& entry)>;
void redirectErrorLog(ErrorLogSink sink);

// Progress marks with no effect; they document where the loaders are.
inline void trace(const char*) {}
inline void trace(const char*, const std::string&) {}
inline void trace(const char*, long) {}
inline void trace(const void*) {}

// The process exit status for an OpenGL error code. Only the low 8 bits of a status reach the
// parent, so a code whose low byte is 0 (GL_INVALID_ENUM, 0x500) would read as success; such
// codes end with kGLErrorStatusLowByteZero instead. Every other code keeps its low byte.
constexpr int kGLErrorStatusLowByteZero = 8;
int exitStatusForGLError(unsigned int code);

// The text for an OpenGL error code: GLU's description, or "unknown OpenGL error 0x0NNN" when
// GLU has none.
std::string glErrorText(unsigned int code);

// Reads one pending OpenGL error. When there is one, appends "OpenGL error:" and its text as two
// entries and, if exitOnError, ends the process with exitStatusForGLError. Returns whether an
// error was pending.
bool checkGLError(bool exitOnError);
