#include "child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace {

// This process's environment with the given "NAME=value" entries replacing their names.
std::vector<std::string> childEnvironment(const std::vector<std::string>& replacing) {
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

// A file for one captured stream, outside the child's working folder so the program's own files
// are the only ones there. The descriptor is the parent's; the child gets a duplicate.
int captureFile(std::string& path, const char* stream) {
    path =
        (std::filesystem::temp_directory_path() / (std::string("groundview-") + stream + "-XXXXXX"))
            .string();
    const int descriptor = mkostemp(path.data(), O_CLOEXEC);
    if (descriptor < 0) {
        path.clear();
        throw std::runtime_error(std::string("cannot create a file for a child's ") + stream);
    }
    return descriptor;
}

std::string contents(const std::string& path) {
    if (path.empty()) {
        return "";
    }
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// posix_spawn's file actions as an object, so every way out of the constructor frees them.
class FileActions {
  public:
    FileActions() { posix_spawn_file_actions_init(&actions_); }
    ~FileActions() { posix_spawn_file_actions_destroy(&actions_); }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;
    posix_spawn_file_actions_t* get() { return &actions_; }

  private:
    posix_spawn_file_actions_t actions_;
};

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

ChildProcess::ChildProcess(const ChildOptions& options) {
    const auto closed = [&](int descriptor) {
        return std::find(options.closedDescriptors.begin(), options.closedDescriptors.end(),
                         descriptor) != options.closedDescriptors.end();
    };
    std::vector<int> parentFiles;
    const auto closeParentFiles = [&] {
        for (const int descriptor : parentFiles) {
            close(descriptor);
        }
    };
    FileActions actions;
    try {
        if (!closed(STDIN_FILENO)) {
            posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        }
        if (!closed(STDOUT_FILENO)) {
            parentFiles.push_back(captureFile(stdoutPath_, "stdout"));
            posix_spawn_file_actions_adddup2(actions.get(), parentFiles.back(), STDOUT_FILENO);
        }
        if (!closed(STDERR_FILENO)) {
            parentFiles.push_back(captureFile(stderrPath_, "stderr"));
            posix_spawn_file_actions_adddup2(actions.get(), parentFiles.back(), STDERR_FILENO);
        }
    } catch (...) {
        closeParentFiles();
        unlink(stdoutPath_.c_str());
        throw;
    }
    for (const int descriptor : options.closedDescriptors) {
        posix_spawn_file_actions_addclose(actions.get(), descriptor);
    }
    if (!options.workingFolder.empty()) {
        posix_spawn_file_actions_addchdir_np(actions.get(), options.workingFolder.c_str());
    }

    std::vector<std::string> argumentStrings = {options.executable};
    argumentStrings.insert(argumentStrings.end(), options.arguments.begin(),
                           options.arguments.end());
    std::vector<std::string> environmentStrings = childEnvironment(options.environment);
    std::vector<char*> argv = pointersTo(argumentStrings);
    std::vector<char*> envp = pointersTo(environmentStrings);

    startTime_ = std::chrono::steady_clock::now();
    // glibc reports a failed chdir or exec here rather than through the child's status.
    const int failure =
        posix_spawn(&pid_, argv[0], actions.get(), nullptr, argv.data(), envp.data());
    closeParentFiles();
    if (failure != 0) {
        pid_ = -1;
        unlink(stdoutPath_.c_str());
        unlink(stderrPath_.c_str());
        throw std::runtime_error(
            "cannot start " + options.executable +
            (options.workingFolder.empty() ? "" : " in " + options.workingFolder) + ": " +
            std::strerror(failure));
    }
}

ChildProcess::~ChildProcess() {
    kill();
    if (!stdoutPath_.empty()) {
        unlink(stdoutPath_.c_str());
    }
    if (!stderrPath_.empty()) {
        unlink(stderrPath_.c_str());
    }
}

bool ChildProcess::reap(bool block) {
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

bool ChildProcess::running() {
    return !reap(false);
}

std::optional<ExitStatus> ChildProcess::waitForExit(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!reap(false)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return status_;
}

void ChildProcess::kill() {
    if (pid_ <= 0 || status_) {
        return;
    }
    ::kill(pid_, SIGKILL);
    reap(true);
}

std::string ChildProcess::standardOutput() const {
    return contents(stdoutPath_);
}

std::string ChildProcess::standardError() const {
    return contents(stderrPath_);
}

std::vector<std::string> ChildProcess::standardErrorLines() const {
    std::istringstream in(standardError());
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}
