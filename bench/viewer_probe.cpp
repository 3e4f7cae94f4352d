// viewer_probe: runs the real viewer on an X display over the largest world (127 x 127 grid,
// 1024 x 1024 texture) and reports, as JSON on standard output, the time from its start to its
// first drawn frame, its CPU share and resident memory over a stretch of running, and the frame
// period it achieves; then, over an elevation source whose pyramid must be built first, the time
// from its start to its window being mapped, and that Esc cancels the build. Frame times come from
// the frame-log shim preloaded into the viewer; at the end the screen must show the terrain and Esc
// must end the viewer with status 0. The viewer is started, logged and looked at with the
// end-to-end tests' harness.
//
// viewer_probe --display :N [--seconds S] [--viewer PATH] [--shim PATH]

#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <numeric>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app.h"
#include "bench_files.h"
#include "child_process.h"
#include "frame_log.h"
#include "test_files.h"
#include "x_screen.h"

namespace {

constexpr double kFramePeriodMs = static_cast<double>(app::kFramePeriodMs);
constexpr int kFirstFrameTimeoutMs = 30000;
constexpr Pixel kSky{app::kSkyRgb8[0], app::kSkyRgb8[1], app::kSkyRgb8[2]};
// The source built into a pyramid: samples a side, 16-bit, all zero (a sparse file: written at
// once, and read as fast as the page cache gives zeros, so the build is the pyramid's own work).
constexpr long long kBuildSide = 20000;

struct Options {
    std::string display;
    double seconds = 20.0;
    std::string viewer = GROUNDVIEW_VIEWER;
    std::string shim = FrameLogFile::kShimPath;
};

// steady_clock is CLOCK_MONOTONIC on Linux, the clock the shim logs.
std::int64_t ns(std::chrono::steady_clock::time_point time) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch()).count();
}

std::int64_t nowNs() {
    return ns(std::chrono::steady_clock::now());
}

double ms(std::int64_t ns) {
    return static_cast<double>(ns) / 1e6;
}

// User plus system time of every thread of the process, in seconds.
double cpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // The command name in parentheses may hold spaces; the fields after it don't.
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::vector<std::string> values{std::istream_iterator<std::string>(fields),
                                    std::istream_iterator<std::string>()};
    constexpr std::size_t kUtime = 11, kStime = 12;  // fields 14 and 15, counted from "state"
    if (values.size() <= kStime) {
        return -1.0;
    }
    return static_cast<double>(std::stoll(values[kUtime]) + std::stoll(values[kStime])) /
           static_cast<double>(sysconf(_SC_CLK_TCK));
}

// A "VmRSS:"-style line of /proc/PID/status, in KiB.
long statusKiB(pid_t pid, const std::string& key) {
    for (const std::string& line : readLines("/proc/" + std::to_string(pid) + "/status")) {
        if (line.rfind(key + ":", 0) == 0) {
            return std::stol(line.substr(key.size() + 1));
        }
    }
    return -1;
}

struct Summary {
    double median = 0, mean = 0, p95 = 0, max = 0;
};

Summary summarise(std::vector<double> values) {
    Summary summary;
    if (values.empty()) {
        return summary;
    }
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    summary.median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    summary.mean = std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(n);
    summary.p95 = values[std::min(n - 1, static_cast<std::size_t>(0.95 * static_cast<double>(n)))];
    summary.max = values.back();
    return summary;
}

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string json(const Summary& s) {
    std::ostringstream out;
    out << "{\"median\": " << s.median << ", \"mean\": " << s.mean << ", \"p95\": " << s.p95
        << ", \"max\": " << s.max << "}";
    return out.str();
}

int fail(const std::string& why, const ChildProcess& viewer) {
    std::cout << "{\"error\": " << quoted(why)
              << ", \"viewer_output\": " << quoted(viewer.standardError()) << "}\n";
    return 1;
}

// The share of the screen that is not sky: the terrain, fogged or not.
double groundShare(const XScreen& screen) {
    const Picture picture = screen.capture();
    const std::int64_t ground = picture.count(0, 0, picture.width(), picture.height(),
                                              [](Pixel pixel) { return pixel != kSky; });
    return static_cast<double>(ground) / (static_cast<double>(picture.width()) * picture.height());
}

// An EHdr raster of kBuildSide x kBuildSide Int16 zeros, "<folder>/large.bil"; false when it
// cannot be written.
bool writeLargeSource(const std::string& folder) {
    std::ofstream header(folder + "/large.hdr");
    header << "NROWS " << kBuildSide << "\nNCOLS " << kBuildSide
           << "\nNBANDS 1\nNBITS 16\nPIXELTYPE SIGNEDINT\nBYTEORDER I\nLAYOUT BIL\n";
    header.close();
    const int file = open((folder + "/large.bil").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const bool sized = file >= 0 && ftruncate(file, kBuildSide * kBuildSide * 2) == 0;
    return close(file) == 0 && sized && header.good();
}

struct BuildWindow {
    std::string error;  // empty when the window came and Esc ended the viewer
    double startToMappedMs = 0;
    std::string said;  // the viewer's standard error
};

// Starts the viewer on the large source, its cache in folder, and measures the time from its start
// to its window being mapped while the pyramid is built; then Esc must end it with status 0.
BuildWindow buildWindow(const Options& options, const std::string& folder, XScreen& screen) {
    BuildWindow result;
    ChildOptions start;
    start.executable = options.viewer;
    start.workingFolder = folder;
    start.arguments = {"--window=640x480", "large.bil"};
    start.environment = {"DISPLAY=" + options.display, "XDG_CACHE_HOME=" + folder + "/cache"};
    ChildProcess viewer(start);
    const std::int64_t started = ns(viewer.startTime());
    std::optional<WindowGeometry> window;
    while (!window && viewer.running() && ms(nowNs() - started) < kFirstFrameTimeoutMs) {
        for (const WindowGeometry& shown : screen.topLevelWindows()) {
            window = shown.mapped ? std::optional<WindowGeometry>(shown) : window;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    result.startToMappedMs = ms(nowNs() - started);
    if (!window) {
        result.error = "no window during the pyramid build";
        result.said = viewer.standardError();
        return result;
    }
    XSetInputFocus(screen.display(), window->id, RevertToPointerRoot, CurrentTime);
    XSync(screen.display(), False);
    screen.tapKey(XK_Escape);
    // A guard against a viewer that never ends, not a figure.
    const std::optional<ExitStatus> exit = viewer.waitForExit(std::chrono::seconds(30));
    result.said = viewer.standardError();
    if (!exit || !(*exit == ExitStatus::withCode(0))) {
        result.error = "Esc did not end the pyramid build with status 0";
    }
    return result;
}

bool parse(int argc, char** argv, Options& options) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        const std::string value = argv[i + 1];
        if (flag == "--display") {
            options.display = value;
        } else if (flag == "--seconds") {
            options.seconds = std::stod(value);
        } else if (flag == "--viewer") {
            options.viewer = value;
        } else if (flag == "--shim") {
            options.shim = value;
        } else {
            return false;
        }
    }
    return argc % 2 == 1 && !options.display.empty() && options.seconds > 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options)) {
        std::cerr << "usage: viewer_probe --display :N [--seconds S] [--viewer PATH] [--shim PATH]"
                  << std::endl;
        return 2;
    }
    TemporaryFolder folder;
    bench::writeWorld(folder.path());
    const FrameLogFile frameLog(geteuid());
    XScreen screen(options.display);
    ChildOptions start;
    start.executable = options.viewer;
    start.workingFolder = folder.path();
    start.environment = frameLog.viewerEnvironment(options.shim);
    start.environment.push_back("DISPLAY=" + options.display);
    ChildProcess viewer(start);
    const std::int64_t started = ns(viewer.startTime());

    FrameLog log;
    while (log.frames.empty()) {
        if (!viewer.running()) {
            return fail("the viewer ended before its first frame", viewer);
        }
        if (ms(nowNs() - started) > kFirstFrameTimeoutMs) {
            return fail("no frame within 30 s", viewer);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        log = frameLog.read();
    }

    const std::int64_t measureStart = nowNs();
    const double cpuStart = cpuSeconds(viewer.pid());
    std::this_thread::sleep_for(std::chrono::duration<double>(options.seconds));
    const std::int64_t measureEnd = nowNs();
    const double cpuEnd = cpuSeconds(viewer.pid());
    const long rss = statusKiB(viewer.pid(), "VmRSS");
    const long peakRss = statusKiB(viewer.pid(), "VmHWM");
    if (!viewer.running() || cpuStart < 0 || cpuEnd < 0) {
        return fail("the viewer ended while being measured", viewer);
    }
    const double ground = groundShare(screen);
    screen.tapKey(XK_Escape);
    // A guard against a viewer that never ends, not a figure: a loaded machine may take seconds.
    const std::optional<ExitStatus> exit = viewer.waitForExit(std::chrono::seconds(30));
    if (ground < 0.01) {
        return fail("the screen shows no terrain", viewer);
    }
    if (!exit || !(*exit == ExitStatus::withCode(0))) {
        return fail("Esc did not end the viewer with status 0", viewer);
    }

    if (!writeLargeSource(folder.path())) {
        return fail("cannot write the large source", viewer);
    }
    const BuildWindow build = buildWindow(options, folder.path(), screen);
    if (!build.error.empty()) {
        std::cout << "{\"error\": " << quoted(build.error)
                  << ", \"viewer_output\": " << quoted(build.said) << "}\n";
        return 1;
    }

    log = frameLog.read();
    std::vector<double> periods, work, slack;
    for (std::size_t i = 0; i < log.frames.size(); ++i) {
        const Span& frame = log.frames[i];
        if (frame.start < measureStart || frame.start > measureEnd) {
            continue;
        }
        work.push_back(ms(frame.end - frame.start));
        if (i + 1 < log.frames.size()) {
            const Span& next = log.frames[i + 1];
            periods.push_back(ms(next.start - frame.start));
            slack.push_back(ms(next.start - frame.end) - kFramePeriodMs);
        }
    }
    const double wall = static_cast<double>(measureEnd - measureStart) / 1e9;
    const Span first = log.frames.front();
    const Span display = log.displays.empty() ? Span{started, started} : log.displays.front();

    std::cout << "{\n"
              << "  \"renderer\": " << quoted(log.renderer) << ",\n"
              << "  \"depth_bits\": " << log.depthBits << ",\n"
              << "  \"start_to_first_frame_ms\": " << ms(first.end - started) << ",\n"
              << "  \"start_to_display_ms\": " << ms(display.start - started) << ",\n"
              << "  \"display_load_ms\": " << ms(display.end - display.start) << ",\n"
              << "  \"first_frame_work_ms\": " << ms(first.end - first.start) << ",\n"
              << "  \"displays\": " << log.displays.size() << ",\n"
              << "  \"measured_seconds\": " << wall << ",\n"
              << "  \"cpu_share\": " << (cpuEnd - cpuStart) / wall << ",\n"
              << "  \"rss_kib\": " << rss << ",\n"
              << "  \"peak_rss_kib\": " << peakRss << ",\n"
              << "  \"ground_share\": " << ground << ",\n"
              << "  \"frames\": " << work.size() << ",\n"
              << "  \"period_ms\": " << json(summarise(periods)) << ",\n"
              << "  \"frame_work_ms\": " << json(summarise(work)) << ",\n"
              << "  \"timer_slack_ms\": " << json(summarise(slack)) << ",\n"
              << "  \"build_side\": " << kBuildSide << ",\n"
              << "  \"start_to_build_window_ms\": " << build.startToMappedMs << "\n"
              << "}\n";
    return 0;
}
