#include "viewer_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace {

// The parent's environment with DISPLAY and the given "NAME=value" entries replaced.
std::vector<std::string> childEnvironment(const std::string& display,
                                          const std::vector<std::string>& extra) {
    std::vector<std::string> replacing = extra;
    replacing.push_back("DISPLAY=" + display);
    const auto replaced = [&](const char* entry) {
        for (const std::string& variable : replacing) {
            const std::size_t nameEnd = variable.find('=') + 1;
            if (std::strncmp(entry, variable.c_str(), nameEnd) == 0) {
                return true;
            }
        }
        return false;
    };
    std::vector<std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (!replaced(*entry)) {
            variables.emplace_back(*entry);
        }
    }
    variables.insert(variables.end(), replacing.begin(), replacing.end());
    return variables;
}

std::vector<char*> pointersTo(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& text : strings) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace

std::ostream& operator<<(std::ostream& out, const ExitStatus& status) {
    return out << describe(status);
}

std::string describe(const ExitStatus& status) {
    std::ostringstream text;
    if (status.exited) {
        text << "exit status " << status.code;
    } else {
        text << "signal " << status.signal << " (" << strsignal(status.signal) << ")";
    }
    return text.str();
}

ViewerProcess::ViewerProcess(const std::string& executable, const std::string& display,
                             const std::string& workingFolder,
                             const std::vector<std::string>& arguments,
                             const std::vector<std::string>& environment) {
    // Standard error goes to a file outside the working folder, so the viewer's own files are
    // the only ones there.
    std::string stderrPattern = "/tmp/groundview-stderr-XXXXXX";
    const int stderrFile = mkostemp(stderrPattern.data(), O_CLOEXEC);
    if (stderrFile < 0) {
        throw std::runtime_error("cannot create a file for the viewer's standard error");
    }
    stderrPath_ = stderrPattern;

    // Everything the child needs is built before fork, so the child only calls what is safe
    // there.
    std::vector<std::string> argumentStrings = {executable};
    argumentStrings.insert(argumentStrings.end(), arguments.begin(), arguments.end());
    std::vector<std::string> environmentStrings = childEnvironment(display, environment);
    std::vector<char*> argv = pointersTo(argumentStrings);
    std::vector<char*> envp = pointersTo(environmentStrings);
    const int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);

    startTime_ = std::chrono::steady_clock::now();
    pid_ = fork();
    if (pid_ == 0) {
        if (chdir(workingFolder.c_str()) != 0 || dup2(stderrFile, STDERR_FILENO) < 0 ||
            (devNull >= 0 && dup2(devNull, STDIN_FILENO) < 0)) {
            _exit(126);
        }
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    const int forkError = errno;
    close(stderrFile);
    if (devNull >= 0) {
        close(devNull);
    }
    if (pid_ < 0) {
        unlink(stderrPath_.c_str());
        throw std::runtime_error(std::string("cannot start the viewer: ") +
                                 std::strerror(forkError));
    }
}

ViewerProcess::~ViewerProcess() {
    kill();
    unlink(stderrPath_.c_str());
}

bool ViewerProcess::reap(bool block) {
    if (status_ || pid_ <= 0) {
        return true;
    }
    int raw = 0;
    pid_t result;
    do {
        result = waitpid(pid_, &raw, block ? 0 : WNOHANG);
    } while (result < 0 && errno == EINTR);
    if (result != pid_) {
        return false;
    }
    ExitStatus status;
    status.exited = WIFEXITED(raw);
    status.code = status.exited ? WEXITSTATUS(raw) : 0;
    status.signal = WIFSIGNALED(raw) ? WTERMSIG(raw) : 0;
    status_ = status;
    return true;
}

bool ViewerProcess::running() {
    return !reap(false);
}

std::optional<ExitStatus> ViewerProcess::waitForExit(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!reap(false)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return status_;
}

void ViewerProcess::kill() {
    if (pid_ <= 0 || status_) {
        return;
    }
    ::kill(pid_, SIGKILL);
    reap(true);
}

std::string ViewerProcess::standardError() const {
    std::ifstream in(stderrPath_);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> ViewerProcess::standardErrorLines() const {
    std::istringstream in(standardError());
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}
