#include "counted_viewer.h"

#include <pwd.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <vector>

namespace fs = std::filesystem;

namespace {

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
                             const std::string& folder, std::optional<UserIds> user,
                             const std::vector<int>& closedDescriptors)
    : log_(user ? user->uid : geteuid()) {
    waitForEmptyScreen(screen, display);
    ChildOptions options = viewerOptions(display, folder);
    options.closedDescriptors = closedDescriptors;
    std::string shim = FrameLogFile::kShimPath;
    if (user) {
        // setpriv drops to the user and execs the viewer in place, so the process id stays the
        // viewer's.
        copies_ = std::make_unique<SharedCopies>();
        options.executable = kSetpriv;
        options.arguments = {"--reuid=" + std::to_string(user->uid),
                             "--regid=" + std::to_string(user->gid), "--clear-groups", "--",
                             copies_->viewer()};
        shim = copies_->shim();
    }
    const std::vector<std::string> preload = log_.viewerEnvironment(shim);
    options.environment.insert(options.environment.end(), preload.begin(), preload.end());
    process_ = std::make_unique<ChildProcess>(options);
}

bool CountedViewer::waitForFrames(std::size_t count, Milliseconds timeout) {
    return pollUntil([&] { return frames() >= count || !process_->running(); }, timeout) &&
           frames() >= count;
}
