#pragma once
// The one way the tests, the benchmarks and their tools start a program: a child process with
// its own arguments, working folder and environment, standard input on /dev/null and standard
// output and error captured in files; waited for with a timeout, and killed if still running
// when the object goes. Nothing passes through a shell, so no path needs quoting.

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

struct ChildOptions {
    std::string executable;
    std::vector<std::string> arguments;
    std::string workingFolder;  // empty: this process's own
    // "NAME=value" entries, each replacing a variable of that name this process has.
    std::vector<std::string> environment;
    // Descriptors the child starts with closed (2 for a shell's "2>&-"); what it would have
    // written there is not captured.
    std::vector<int> closedDescriptors;
};

class ChildProcess {
  public:
    // Throws std::runtime_error when the program cannot be started.
    explicit ChildProcess(const ChildOptions& options);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    std::chrono::steady_clock::time_point startTime() const { return startTime_; }

    // Whether the process has not ended yet; reaps it when it has.
    bool running();
    // The exit status once the process has ended, or nothing when timeout passes first.
    std::optional<ExitStatus> waitForExit(std::chrono::milliseconds timeout);
    // Ends the process with SIGKILL if it still runs, and reaps it.
    void kill();

    // Everything the process has written to standard output or error so far.
    std::string standardOutput() const;
    std::string standardError() const;
    std::vector<std::string> standardErrorLines() const;

  private:
    bool reap(bool block);

    pid_t pid_ = -1;
    std::optional<ExitStatus> status_;
    std::string stdoutPath_;
    std::string stderrPath_;
    std::chrono::steady_clock::time_point startTime_;
};
