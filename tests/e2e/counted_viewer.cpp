#include "counted_viewer.h"

#include <pwd.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr Milliseconds kLeftoverTimeout{3000};
// util-linux, part of every Debian system.
constexpr const char* kSetpriv = "/usr/bin/setpriv";

}  // namespace

std::optional<UserIds> unprivilegedUser() {
    if (geteuid() != 0) {
        return std::nullopt;
    }
    const passwd* entry = getpwnam("nobody");
    if (entry == nullptr) {
        throw std::runtime_error("no user nobody to run the viewer as");
    }
    return UserIds{entry->pw_uid, entry->pw_gid};
}

CountedViewer::SharedCopies::SharedCopies() {
    std::string pattern = "/tmp/groundview-programs-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot make a folder for the viewer's copy");
    }
    folder_ = pattern;
    const auto everyoneRuns = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec;
    fs::permissions(folder_, everyoneRuns);
    fs::copy_file(viewerExecutable(), viewer());
    fs::copy_file(FrameLogFile::kShimPath, shim());
    fs::permissions(viewer(), everyoneRuns);
    fs::permissions(shim(), everyoneRuns);
}

CountedViewer::SharedCopies::~SharedCopies() {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
}

CountedViewer::CountedViewer(const XScreen& screen, const std::string& display,
                             const std::string& folder, std::optional<UserIds> user)
    : log_(user ? user->uid : geteuid()) {
    if (!pollUntil([&] { return !hasMappedWindow(screen); }, kLeftoverTimeout)) {
        throw std::runtime_error("a window of an earlier run stays on " + display);
    }
    if (!user) {
        process_ =
            std::make_unique<ViewerProcess>(viewerExecutable(), display, folder,
                                            std::vector<std::string>{}, log_.viewerEnvironment());
        return;
    }
    // setpriv drops to the user and execs the viewer in place, so the process id stays the
    // viewer's.
    copies_ = std::make_unique<SharedCopies>();
    const std::vector<std::string> arguments = {"--reuid=" + std::to_string(user->uid),
                                                "--regid=" + std::to_string(user->gid),
                                                "--clear-groups", "--", copies_->viewer()};
    process_ = std::make_unique<ViewerProcess>(kSetpriv, display, folder, arguments,
                                               log_.viewerEnvironment(copies_->shim()));
}

bool CountedViewer::waitForFrames(std::size_t count, Milliseconds timeout) {
    return pollUntil([&] { return frames() >= count || !process_->running(); }, timeout) &&
           frames() >= count;
}
