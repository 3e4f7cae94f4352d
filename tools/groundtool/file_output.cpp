#include "file_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <memory>
#include <utility>

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

// The interruptions that end the process: Ctrl-C, kill, and a closed terminal.
constexpr int kInterruptions[] = {SIGINT, SIGTERM, SIGHUP};

sigset_t interruptions() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : kInterruptions) {
        sigaddset(&set, signal);
    }
    return set;
}

// Holds the interruptions back while it lives; one that came meanwhile is delivered at its end.
class HeldInterruptions {
  public:
    HeldInterruptions() {
        const sigset_t set = interruptions();
        pthread_sigmask(SIG_BLOCK, &set, &before_);
    }
    ~HeldInterruptions() { pthread_sigmask(SIG_SETMASK, &before_, nullptr); }
    HeldInterruptions(const HeldInterruptions&) = delete;
    HeldInterruptions& operator=(const HeldInterruptions&) = delete;

  private:
    sigset_t before_;
};

}  // namespace

// A temporary file, or a folder the process made, that the signal handler removes. Any number of
// them are listed: each is made whole before it is linked in and none is ever taken out or freed,
// so the handler walks the list without allocating and never meets a half-made entry, whichever
// thread it runs on. A command lists a few thousand at most, some 100 bytes each.
struct Leftover {
    Leftover(std::string where, bool isFolder) : path(std::move(where)), folder(isFolder) {}
    std::string path;
    const bool folder;
    std::atomic<bool> present{true};
    Leftover* next = nullptr;
};

namespace {

std::atomic<Leftover*> leftovers{nullptr};

// Called with the interruptions held, once the path exists.
Leftover* list(std::unique_ptr<Leftover> entry) {
    entry->next = leftovers.load();
    leftovers.store(entry.get());
    return entry.release();
}

extern "C" void removeLeftoversAndExit(int signal) {
    const Leftover* const first = leftovers.load();
    for (const Leftover* entry = first; entry != nullptr; entry = entry->next) {
        if (!entry->folder && entry->present.load()) {
            unlink(entry->path.c_str());
        }
    }
    // After its temporaries are gone; rmdir removes only an empty folder.
    for (const Leftover* entry = first; entry != nullptr; entry = entry->next) {
        if (entry->folder && entry->present.load()) {
            rmdir(entry->path.c_str());
        }
    }
    _exit(128 + signal);
}

void catchInterruptions() {
    static const bool installed = [] {
        struct sigaction action {};
        action.sa_handler = removeLeftoversAndExit;
        action.sa_mask = interruptions();  // one clean-up at a time
        for (const int signal : kInterruptions) {
            struct sigaction before {};
            if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler != SIG_IGN) {
                sigaction(signal, &action, nullptr);
            }
        }
        return true;
    }();
    static_cast<void>(installed);
}

// Temporaries of a fixed short name, so that a target name of the longest length the file system
// takes (NAME_MAX, 255 bytes) leaves room for them; hidden, and naming the tool that left one.
constexpr const char* kTemporaryName = ".groundtool-XXXXXX";

}  // namespace

OutputFolder::OutputFolder(const std::string& folder) {
    struct stat status {};
    if (stat(folder.c_str(), &status) != 0) {
        if (errno != ENOENT) {
            throw ToolError(fileError("cannot make the folder", folder, errno));
        }
        catchInterruptions();
        auto entry = std::make_unique<Leftover>(folder, true);
        const HeldInterruptions held;  // no moment when the folder exists unlisted
        if (mkdir(folder.c_str(), 0777) != 0) {
            throw ToolError(fileError("cannot make the folder", folder, errno));
        }
        made_ = list(std::move(entry));
        return;
    }
    if (!S_ISDIR(status.st_mode)) {
        throw ToolError("cannot write into " + folder + ": not a folder");
    }
    if (access(folder.c_str(), W_OK | X_OK) != 0) {
        throw ToolError(fileError("cannot write into", folder, errno));
    }
}

OutputFolder::~OutputFolder() {
    if (made_ != nullptr) {
        rmdir(made_->path.c_str());  // fails, keeping the folder, once anything is in it
        made_->present = false;
    }
}

StagedOutput::~StagedOutput() {
    for (const Staged& file : staged_) {
        unlink(file.temporary->path.c_str());
        file.temporary->present = false;
    }
}

void StagedOutput::checkTarget(const std::string& path) const {
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0) {
        if (errno == ENAMETOOLONG) {
            throw ToolError(fileError("cannot write", path, errno));
        }
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
    catchInterruptions();
    auto entry =
        std::make_unique<Leftover>(world::inFolder(world::folderOf(path), kTemporaryName), false);
    int descriptor = -1;
    Leftover* temporary = nullptr;
    {
        const HeldInterruptions held;  // no moment when the file exists unlisted
        descriptor = mkstemp(entry->path.data());
        if (descriptor < 0) {
            throw ToolError(fileError("cannot write", path, errno));
        }
        temporary = list(std::move(entry));
    }
    const bool written = fchmod(descriptor, creationMode()) == 0 && writeAll(descriptor, bytes);
    const int writeErrno = errno;
    if (close(descriptor) != 0 || !written) {
        const int error = written ? errno : writeErrno;
        unlink(temporary->path.c_str());
        temporary->present = false;
        throw ToolError(fileError("cannot write", path, error));
    }
    staged_.push_back({path, temporary, pathExists(path)});
}

void StagedOutput::commit() {
    // Every target once more before the first rename, so that one refused target leaves all the
    // others as they were.
    for (const Staged& file : staged_) {
        checkTarget(file.path);
    }
    const HeldInterruptions held;
    for (std::size_t i = 0; i < staged_.size(); ++i) {
        const Staged& file = staged_[i];
        if (rename(file.temporary->path.c_str(), file.path.c_str()) == 0) {
            file.temporary->present = false;
            continue;
        }
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
    staged_.clear();
}

}  // namespace groundtool
