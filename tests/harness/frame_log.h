#pragma once
// The viewer's frames seen from outside: the frame-log shim, preloaded into the viewer, appends a
// line for each frame-timer callback ("frame <start ns> <end ns>", ended by the buffer swap) and
// for each display callback ("display <start ns> <end ns>"), on CLOCK_MONOTONIC; and at the
// first swap "gl <depth bits> <renderer>".

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

struct Span {
    std::int64_t start = 0;  // ns, CLOCK_MONOTONIC (std::chrono::steady_clock on Linux)
    std::int64_t end = 0;
};

struct FrameLog {
    std::vector<Span> frames;
    std::vector<Span> displays;  // display callbacks, each reloading the terrain
    std::string renderer;        // empty until the first swap
    int depthBits = -1;          // of the viewer's window, from the first swap on
};

// The quiet time between one frame's swap and the next frame's start. One timer chain re-arms
// 50 ms after each frame ends, so every gap is about 50 ms; a second chain would put two frames
// of each period within (50 ms - drawing time) / 2 of each other.
struct FrameGaps {
    std::size_t count = 0;
    double minMs = 0, medianMs = 0, maxMs = 0;
};
FrameGaps frameGaps(const std::vector<Span>& frames);

// Shorter gaps than this mean more than one chain of frames: freeglut's millisecond timers may
// fire a millisecond early, never ten.
constexpr double kOneChainMinGapMs = 40.0;

// A temporary file for the shim to append to, removed with the object. owner is the user the
// viewer runs as, so it can open the file whatever /tmp's protections.
class FrameLogFile {
  public:
    explicit FrameLogFile(uid_t owner);
    ~FrameLogFile();
    FrameLogFile(const FrameLogFile&) = delete;
    FrameLogFile& operator=(const FrameLogFile&) = delete;

    const std::string& path() const { return path_; }
    FrameLog read() const;
    // The variables that make the viewer log to this file through the shim at shimPath.
    std::vector<std::string> viewerEnvironment(const std::string& shimPath = kShimPath) const;

    static constexpr const char* kShimPath = GROUNDVIEW_FRAME_LOG_SHIM;

  private:
    std::string path_;
};
