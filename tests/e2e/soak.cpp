// e2e_soak: the viewer over its largest world (127 x 127 grid, 1024 x 1024 texture) on an X
// display while random keys are typed and its window is exposed again and again. It must keep
// drawing in one chain of frames, hold its resident memory flat, log nothing and leave with
// status 0 on Esc at the end. Prints the figures; exits 1 when a check fails.
//
//   e2e_soak (--display :N | --display-file FILE) [--seconds S] [--seed N]
// The length defaults to $GROUNDVIEW_SOAK_SECONDS, else 120 s.

#include <X11/keysym.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "counted_viewer.h"
#include "disturbance.h"
#include "resident_memory.h"
#include "scenes.h"
#include "test_files.h"

namespace {

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

constexpr double kDefaultSeconds = 120.0;
const Milliseconds kFirstFrameTimeout = kHangGuard;
const Milliseconds kExitTimeout = kHangGuard;

// Between keys, and how many keys per exposure on average: about 30 keys and 5 exposures a
// second.
constexpr int kMinPauseMs = 10, kMaxPauseMs = 40;
constexpr int kKeysPerExposure = 6;

// Frames come every 50 ms plus drawing time; a pause this long means the viewer stopped.
constexpr double kMaxGapMs = 2000.0;

// Every display event frees and allocates the 3 MiB bitmap and the 4 MiB texture again, and
// glibc's heap takes a while to settle around them: it has been seen to grow by up to 12 MiB in
// the first 100 s, in steps of up to 9 MiB late in a two-minute run, and then stay flat for half
// an hour. So the end may lie up to 32 MiB above the figure at 10 s, and the highest figure of
// the second half at most 24 MiB above the highest of the first. A leak of one bitmap or texture
// per display event, or of 32 KiB per frame, breaks both within two minutes.
constexpr double kSampleEverySeconds = 2.0;
constexpr double kBaselineSeconds = 10.0;
constexpr long kMaxSettlingKiB = 32 * 1024;
constexpr long kMaxLaterGrowthKiB = 24 * 1024;

struct Options {
    std::string display;
    double seconds = kDefaultSeconds;
    std::uint32_t seed = std::random_device{}();
};

bool parse(int argc, char** argv, Options& options) {
    if (const char* seconds = std::getenv("GROUNDVIEW_SOAK_SECONDS")) {
        options.seconds = std::atof(seconds);
    }
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        const std::string value = argv[i + 1];
        if (flag == "--display") {
            options.display = value;
        } else if (flag == "--display-file") {
            std::ifstream(value) >> options.display;
        } else if (flag == "--seconds") {
            options.seconds = std::atof(value.c_str());
        } else if (flag == "--seed") {
            options.seed = static_cast<std::uint32_t>(std::stoul(value));
        } else {
            return false;
        }
    }
    return argc % 2 == 1 && !options.display.empty() && options.seconds > 0;
}

// What one soak saw.
struct Soak {
    double seconds = 0;
    std::vector<Span> frames;  // started during the soak
    double tailMs = 0;         // from the last frame's end to the soak's end
    FrameGaps gaps;            // over every frame of the run
    long displays = 0;         // display callbacks during the soak
    long exposures = 0;
    long keys = 0;
    double furthest = 0;
    std::vector<MemorySample> memory;
    std::optional<ExitStatus> endedEarly;
    std::optional<ExitStatus> afterEsc;
    std::vector<std::string> viewerLines;  // on standard error, freeglut's own left out
    std::optional<std::vector<std::string>> errorLog;
};

std::int64_t ns(Clock::time_point time) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch()).count();
}

// Throws std::runtime_error when the viewer never gets going.
Soak soak(const Options& options) {
    XScreen screen(options.display);
    TemporaryFolder folder;
    writeLargestWorld(folder.path());
    CountedViewer viewer(screen, options.display, folder.path());
    if (!viewer.waitForFrames(1, kFirstFrameTimeout)) {
        throw std::runtime_error("no first frame; standard error:\n" +
                                 viewer.process().standardError());
    }
    const std::optional<WindowGeometry> window = waitForMappedWindow(screen, kFirstFrameTimeout);
    if (!window) {
        throw std::runtime_error("no viewer window");
    }
    Disturbance disturbance(screen, window->id, options.seed);
    std::mt19937 random(options.seed + 1);
    std::uniform_int_distribution<int> pause(kMinPauseMs, kMaxPauseMs);
    std::uniform_int_distribution<int> exposeNow(1, kKeysPerExposure);

    Soak soak;
    const Clock::time_point start = Clock::now();
    const auto since = [&] { return Seconds(Clock::now() - start).count(); };
    for (double nextSample = 0; since() < options.seconds;) {
        if (!viewer.process().running()) {
            soak.endedEarly = viewer.process().waitForExit(kExitTimeout);
            break;
        }
        if (since() >= nextSample) {
            soak.memory.push_back({since(), residentKiB(viewer.process().pid())});
            nextSample += kSampleEverySeconds;
        }
        disturbance.pressKey();
        if (exposeNow(random) == 1) {
            disturbance.exposeWindow();
        }
        std::this_thread::sleep_for(Milliseconds(pause(random)));
    }
    const Clock::time_point end = Clock::now();
    soak.seconds = Seconds(end - start).count();
    if (!soak.endedEarly) {
        soak.memory.push_back({since(), residentKiB(viewer.process().pid())});
        screen.tapKey(XK_Escape);
        soak.afterEsc = viewer.process().waitForExit(kExitTimeout);
    }

    const FrameLog log = viewer.log();
    for (const Span& frame : log.frames) {
        if (frame.start >= ns(start) && frame.start <= ns(end)) {
            soak.frames.push_back(frame);
        }
    }
    soak.tailMs = soak.frames.empty() ? soak.seconds * 1000
                                      : static_cast<double>(ns(end) - soak.frames.back().end) / 1e6;
    soak.gaps = frameGaps(log.frames);
    soak.displays = std::count_if(log.displays.begin(), log.displays.end(), [&](const Span& d) {
        return d.start >= ns(start) && d.start <= ns(end);
    });
    soak.exposures = disturbance.exposures();
    soak.keys = disturbance.keysPressed();
    soak.furthest = disturbance.furthest();
    for (const std::string& line : viewer.process().standardErrorLines()) {
        if (line.rfind("freeglut", 0) != 0) {
            soak.viewerLines.push_back(line);
        }
    }
    if (fileExists(folder.path() + "/errorlog.txt")) {
        soak.errorLog = readLines(folder.path() + "/errorlog.txt");
    }
    return soak;
}

double mib(long kib) {
    return static_cast<double>(kib) / 1024.0;
}

void printFigures(const Soak& soak, const MemoryFigures& memory) {
    std::cout << "soak: length " << soak.seconds << " s; frames drawn " << soak.frames.size()
              << " (" << static_cast<double>(soak.frames.size()) / soak.seconds << " a second)\n"
              << "soak: between frames min " << soak.gaps.minMs << " ms, median "
              << soak.gaps.medianMs << " ms, max " << std::max(soak.gaps.maxMs, soak.tailMs)
              << " ms\n"
              << "soak: display events " << soak.displays << " (exposures forced " << soak.exposures
              << "), keys pressed " << soak.keys << " (the camera went up to " << soak.furthest
              << " units from its start)\n"
              << "soak: RSS at start " << mib(memory.startKiB) << " MiB, at "
              << memory.baselineSeconds << " s " << mib(memory.baselineKiB) << " MiB, at the end "
              << mib(memory.endKiB) << " MiB; peak of the first half "
              << mib(memory.firstHalfPeakKiB) << " MiB, of the second "
              << mib(memory.secondHalfPeakKiB) << " MiB (trend "
              << memory.secondHalfSlopeKiBPerMinute << " KiB/min)\n"
              << "soak: RSS over the run (MiB):";
    constexpr std::size_t kShown = 20;
    for (std::size_t i = 0; i <= kShown && !soak.memory.empty(); ++i) {
        std::cout << ' ' << mib(soak.memory[(soak.memory.size() - 1) * i / kShown].kib);
    }
    std::cout << std::endl;
}

int check(const Soak& soak, const MemoryFigures& memory) {
    bool passed = true;
    const auto expect = [&](bool holds, const std::string& what) {
        if (!holds) {
            std::cout << "soak: FAILED: " << what << std::endl;
            passed = false;
        }
    };
    expect(!soak.endedEarly, "the viewer ended during the soak with " +
                                 (soak.endedEarly ? describe(*soak.endedEarly) : std::string()));
    expect(soak.endedEarly || (soak.afterEsc && *soak.afterEsc == ExitStatus::withCode(0)),
           "Esc did not end the viewer with status 0 but with " +
               (soak.afterEsc ? describe(*soak.afterEsc) : std::string("none: it ran on")));
    expect(!soak.frames.empty() && soak.gaps.maxMs <= kMaxGapMs && soak.tailMs <= kMaxGapMs,
           "the viewer stopped drawing for over 2 s");
    expect(soak.gaps.minMs >= kOneChainMinGapMs,
           "two frames " + std::to_string(soak.gaps.minMs) + " ms apart: more than one chain");
    expect(soak.displays * 2 >= soak.exposures,
           "fewer than half of the exposures reached the viewer as display events");
    expect(memory.baselineKiB > 0 && memory.endKiB <= memory.baselineKiB + kMaxSettlingKiB,
           "resident memory at the end is over 32 MiB above the figure at 10 s");
    expect(memory.secondHalfPeakKiB <= memory.firstHalfPeakKiB + kMaxLaterGrowthKiB,
           "resident memory grew by over 24 MiB in the second half");
    std::string logged;
    for (const std::string& line : soak.errorLog.value_or(std::vector<std::string>{})) {
        logged += "\n  " + line;
    }
    expect(!soak.errorLog, "errorlog.txt was written:" + logged);
    for (const std::string& line : soak.viewerLines) {
        expect(false, "the viewer said: " + line);
    }
    std::cout << (passed ? "soak: passed" : "soak: failed") << std::endl;
    return passed ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options)) {
        std::cerr << "usage: e2e_soak (--display :N | --display-file FILE) [--seconds S] "
                     "[--seed N]\n  the length defaults to $GROUNDVIEW_SOAK_SECONDS, else 120 s"
                  << std::endl;
        return 2;
    }
    std::cout << std::fixed << std::setprecision(1) << "soak: " << options.seconds << " s on "
              << options.display << ", seed " << options.seed << std::endl;
    try {
        const Soak result = soak(options);
        const MemoryFigures memory = memoryFigures(result.memory, result.seconds, kBaselineSeconds);
        printFigures(result, memory);
        return check(result, memory);
    } catch (const std::exception& error) {
        std::cout << "soak: FAILED: " << error.what() << std::endl;
        return 1;
    }
}
