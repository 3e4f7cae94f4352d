#pragma once
// The viewer started with the frame-log shim preloaded, so a test can see it draw frames and take
// display events, optionally as an unprivileged user: the tests run as root, which opens files
// and writes folders whatever their permissions.

#include <sys/types.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "child_process.h"
#include "e2e_setup.h"
#include "frame_log.h"
#include "x_screen.h"

struct UserIds {
    uid_t uid = 0;
    gid_t gid = 0;
};

// Someone whom file permissions bind: nothing when this process is not root, else the user
// "nobody" with its group; throws std::runtime_error when the system has none.
std::optional<UserIds> unprivilegedUser();

class CountedViewer {
  public:
    // Starts the viewer on screen (whose display is display) in folder, once no window of an
    // earlier run is left there; as user when given, else as this process's user; with the
    // descriptors closedDescriptors closed.
    CountedViewer(const XScreen& screen, const std::string& display, const std::string& folder,
                  std::optional<UserIds> user = std::nullopt,
                  const std::vector<int>& closedDescriptors = {});

    ChildProcess& process() { return *process_; }
    FrameLog log() const { return log_.read(); }
    std::size_t frames() const { return log().frames.size(); }
    // Whether count frames have been drawn within timeout; false at once when the viewer ends.
    bool waitForFrames(std::size_t count, Milliseconds timeout);

  private:
    // The viewer and the shim copied where any user can run them: the build folder may sit in a
    // folder only root can enter (a clone in a mktemp -d folder, say).
    class SharedCopies {
      public:
        SharedCopies();
        ~SharedCopies();
        SharedCopies(const SharedCopies&) = delete;
        SharedCopies& operator=(const SharedCopies&) = delete;
        std::string viewer() const { return folder_ + "/groundview"; }
        std::string shim() const { return folder_ + "/frame_log_shim.so"; }

      private:
        std::string folder_;
    };

    std::unique_ptr<SharedCopies> copies_;
    FrameLogFile log_;
    std::unique_ptr<ChildProcess> process_;
};
