#pragma once
// Diagnostics: the append-only error log "errorlog.txt" (in the working folder unless told
// otherwise; in the user's state folder for elevation rasters), and the check of the OpenGL error
// flag that can end the process.

#include <string>
#include <vector>

#include "load_report.h"

// Each entry is one line, appended through a descriptor opened for that entry alone, so a crash
// never loses an entry already written. The log is written only when it is a regular file reached
// without a symbolic link; an unwritable log, a link, a FIFO or a folder loses entries silently.
void logError(const std::string& message);

// The folder errorlog.txt is written in from now on; "." is the working folder.
void setErrorLogFolder(const std::string& folder);

// Where elevation mode keeps its log: $XDG_STATE_HOME/groundview, else
// $HOME/.local/state/groundview; empty when neither gives an absolute folder. The arguments are
// the two variables' values, null when unset.
std::string stateLogFolder(const char* stateHome, const char* home);
// From now on OpenGL errors also go to standard error, and errorlog.txt is in folder, made with
// mode 0700 (missing parents too) when the first entry comes. An empty folder, or one that can't
// be made, leaves standard error alone. setErrorLogFolder undoes this.
void setStateErrorLog(const std::string& folder);

// Opens /dev/null on any of descriptors 0, 1 and 2 that is closed, so that a file or connection
// opened later can't take one of their numbers and receive what is meant for standard error.
void openMissingStandardDescriptors();

// The process exit status for an OpenGL error code. Only the low 8 bits of a status reach the
// parent, so a code whose low byte is 0 (GL_INVALID_ENUM, 0x500) would read as success; such
// codes end with kGLErrorStatusLowByteZero instead. Every other code keeps its low byte.
constexpr int kGLErrorStatusLowByteZero = 8;
int exitStatusForGLError(unsigned int code);

// The text for an OpenGL error code: GLU's description, or "unknown OpenGL error 0x0NNN" when
// GLU has none.
std::string glErrorText(unsigned int code);

// The two entries the frame check logs for an OpenGL error code: "OpenGL error:" and its text.
std::vector<std::string> glErrorEntries(unsigned int code);

// Reads one pending OpenGL error. When there is one, appends "OpenGL error:" and its text as two
// entries (and says it on standard error after setStateErrorLog) and, if exitOnError, ends the
// process with exitStatusForGLError. Returns whether an error was pending.
bool checkGLError(bool exitOnError);
