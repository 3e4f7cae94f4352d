#include "file_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "tool_error.h"

namespace fs = std::filesystem;

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

}  // namespace

StagedOutput::~StagedOutput() {
    for (const Staged& file : staged_) {
        unlink(file.temporary.c_str());
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
    const fs::path target(path);
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::string temporary = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    const int descriptor = mkstemp(temporary.data());
    if (descriptor < 0) {
        throw ToolError(fileError("cannot write", path, errno));
    }
    const bool written = fchmod(descriptor, creationMode()) == 0 && writeAll(descriptor, bytes);
    const int writeErrno = errno;
    if (close(descriptor) != 0 || !written) {
        const int error = written ? errno : writeErrno;
        unlink(temporary.c_str());
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
    for (std::size_t i = 0; i < staged_.size(); ++i) {
        const Staged& file = staged_[i];
        if (rename(file.temporary.c_str(), file.path.c_str()) != 0) {
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
