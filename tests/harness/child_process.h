#pragma once
// The real viewer binary run as a child process on a given X display, in a given working folder,
// with its standard error captured; waited for with a timeout and killed if still running when
// the object goes.

#include <sys/types.h>

#include <chrono>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

struct ExitStatus {
    bool exited = false;  // through exit(); otherwise ended by a signal
    int code = 0;         // the status the parent sees (low 8 bits), when exited
    int signal = 0;       // the signal's number, when not exited
    bool operator==(const ExitStatus& other) const {
        return exited == other.exited && code == other.code && signal == other.signal;
    }
    static ExitStatus withCode(int code) { return ExitStatus{true, code, 0}; }
};

std::string describe(const ExitStatus& status);  // "exit status 0", "signal 6 (Aborted)"
std::ostream& operator<<(std::ostream& out, const ExitStatus& status);

class ViewerProcess {
  public:
    // Starts executable with DISPLAY set to display and workingFolder as its working folder;
    // throws std::runtime_error when the process cannot be started. environment holds further
    // "NAME=value" entries, each replacing a variable of that name the parent has.
    ViewerProcess(const std::string& executable, const std::string& display,
                  const std::string& workingFolder, const std::vector<std::string>& arguments = {},
                  const std::vector<std::string>& environment = {});
    ~ViewerProcess();
    ViewerProcess(const ViewerProcess&) = delete;
    ViewerProcess& operator=(const ViewerProcess&) = delete;

    pid_t pid() const { return pid_; }
    std::chrono::steady_clock::time_point startTime() const { return startTime_; }

    // Whether the process has not ended yet; reaps it when it has.
    bool running();
    // The exit status once the process has ended, or nothing when timeout passes first.
    std::optional<ExitStatus> waitForExit(std::chrono::milliseconds timeout);
    // Ends the process with SIGKILL if it still runs, and reaps it.
    void kill();

    // Everything the process has written to standard error so far.
    std::string standardError() const;
    std::vector<std::string> standardErrorLines() const;

  private:
    bool reap(bool block);

    pid_t pid_ = -1;
    std::optional<ExitStatus> status_;
    std::string stderrPath_;
    std::chrono::steady_clock::time_point startTime_;
};
