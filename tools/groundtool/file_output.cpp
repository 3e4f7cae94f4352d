#include "file_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "tool_error.h"
#include "world.h"

namespace groundtool {

namespace {

bool pathExists(const std::string& path) {
    struct stat status {};
    return lstat(path.c_str(), &status) == 0;
}

// mkstemp creates files readable by the owner alone; outputs get the usual mode instead.
mode_t creationMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

bool writeAll(int descriptor, const Bytes& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = write(descriptor, bytes.data() + done, bytes.size() - done);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<std::size_t>(written);
    }
    return true;
}

// The temporaries alive now, kept where a signal handler can reach them without allocating.
constexpr std::size_t kMaxTemporaries = 64;
constexpr std::size_t kMaxTemporaryPath = 4096;
std::array<std::array<char, kMaxTemporaryPath>, kMaxTemporaries> temporaries{};
std::array<volatile std::sig_atomic_t, kMaxTemporaries> temporaryInUse{};

extern "C" void removeTemporariesAndExit(int signal) {
    for (std::size_t i = 0; i < kMaxTemporaries; ++i) {
        if (temporaryInUse[i]) {
            unlink(temporaries[i].data());
        }
    }
    _exit(128 + signal);
}

void catchInterruptions() {
    static const bool installed = [] {
        struct sigaction action {};
        action.sa_handler = removeTemporariesAndExit;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, nullptr);
        sigaction(SIGTERM, &action, nullptr);
        return true;
    }();
    static_cast<void>(installed);
}

// Called with the template before mkstemp, so there is no moment when a file exists unlisted.
std::size_t listTemporary(const std::string& path) {
    catchInterruptions();
    for (std::size_t i = 0; i < kMaxTemporaries; ++i) {
        if (!temporaryInUse[i] && path.size() < kMaxTemporaryPath) {
            std::memcpy(temporaries[i].data(), path.c_str(), path.size() + 1);
            temporaryInUse[i] = 1;
            return i;
        }
    }
    return kMaxTemporaries;  // not listed: an interruption leaves this one behind
}

void unlistTemporary(std::size_t slot) {
    if (slot < kMaxTemporaries) {
        temporaryInUse[slot] = 0;
    }
}

// The signal handler must see the name mkstemp filled in, so the listed copy is refreshed.
void refreshTemporary(std::size_t slot, const std::string& path) {
    if (slot < kMaxTemporaries) {
        temporaryInUse[slot] = 0;
        std::memcpy(temporaries[slot].data(), path.c_str(), path.size() + 1);
        temporaryInUse[slot] = 1;
    }
}

}  // namespace

void prepareOutputFolder(const std::string& folder) {
    struct stat status {};
    if (stat(folder.c_str(), &status) != 0) {
        if (errno != ENOENT || mkdir(folder.c_str(), 0777) != 0) {
            throw ToolError(fileError("cannot make the folder", folder, errno));
        }
        return;
    }
    if (!S_ISDIR(status.st_mode)) {
        throw ToolError("cannot write into " + folder + ": not a folder");
    }
    if (access(folder.c_str(), W_OK | X_OK) != 0) {
        throw ToolError(fileError("cannot write into", folder, errno));
    }
}

StagedOutput::~StagedOutput() {
    for (const Staged& file : staged_) {
        unlink(file.temporary.c_str());
        unlistTemporary(file.slot);
    }
}

void StagedOutput::checkTarget(const std::string& path) const {
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0) {
        return;  // absent, or a folder on the way that stage() reports
    }
    // Renaming over a device, a FIFO, a link or a folder would replace a thing that is not the
    // user's file (as root, /dev/stdout) or fail half-way through a batch.
    if (!S_ISREG(status.st_mode)) {
        throw ToolError("cannot write " + path + ": it exists and is not a regular file");
    }
    if (!overwrite_) {
        throw ToolError(path + " already exists; use --force to replace it");
    }
}

void StagedOutput::stage(const std::string& path, const Bytes& bytes) {
    checkTarget(path);
    std::string temporary =
        world::inFolder(world::folderOf(path), "." + world::nameOf(path) + ".XXXXXX");
    const std::size_t slot = listTemporary(temporary);
    const int descriptor = mkstemp(temporary.data());
    if (descriptor < 0) {
        const int error = errno;
        unlistTemporary(slot);
        throw ToolError(fileError("cannot write", path, error));
    }
    refreshTemporary(slot, temporary);
    const bool written = fchmod(descriptor, creationMode()) == 0 && writeAll(descriptor, bytes);
    const int writeErrno = errno;
    if (close(descriptor) != 0 || !written) {
        const int error = written ? errno : writeErrno;
        unlink(temporary.c_str());
        unlistTemporary(slot);
        throw ToolError(fileError("cannot write", path, error));
    }
    staged_.push_back({path, temporary, pathExists(path), slot});
}

void StagedOutput::commit() {
    // Every target once more before the first rename, so that one refused target leaves all the
    // others as they were.
    for (const Staged& file : staged_) {
        checkTarget(file.path);
    }
    for (std::size_t i = 0; i < staged_.size(); ++i) {
        const Staged& file = staged_[i];
        const bool renamed = rename(file.temporary.c_str(), file.path.c_str()) == 0;
        if (renamed) {
            unlistTemporary(file.slot);
        }
        if (!renamed) {
            const int error = errno;
            for (std::size_t j = 0; j < i; ++j) {
                if (!staged_[j].existed) {
                    unlink(staged_[j].path.c_str());
                }
            }
            const std::string failed = file.path;
            // What is left to clean up is the temporaries from this one on.
            staged_.erase(staged_.begin(), staged_.begin() + static_cast<std::ptrdiff_t>(i));
            throw ToolError(fileError("cannot write", failed, error));
        }
    }
    staged_.clear();
}

}  // namespace groundtool
