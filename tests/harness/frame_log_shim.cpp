// A measuring tool for the end-to-end tests and scripts/bench, never part of the viewer:
// preloaded into the viewer, it logs when each frame-timer callback starts and when its buffer
// swap returns, to the file named by GROUNDVIEW_FRAME_LOG, as "frame <start ns> <end ns>" on
// CLOCK_MONOTONIC; each display callback (which loads the terrain) as "display <start ns>
// <end ns>"; and at the first swap "gl <depth bits> <renderer>". Without the variable it only
// passes the calls through. The log is opened at the first display callback, not at load, so a
// viewer started with a standard descriptor closed finds it closed, as it would without the shim.

#include <GL/gl.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace {

using TimerCallback = void (*)(int);
using TimerFunc = void (*)(unsigned int, TimerCallback, int);
using SwapFunc = void (*)();
using DisplayCallback = void (*)();
using DisplayFunc = void (*)(DisplayCallback);

std::int64_t nowNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

template <typename F>
F realFunction(const char* name) {
    void* address = dlsym(RTLD_NEXT, name);
    if (address == nullptr) {
        std::fprintf(stderr, "frame log: no %s to wrap\n", name);
        std::abort();
    }
    return reinterpret_cast<F>(address);
}

int logFile() {
    static const int fd = [] {
        const char* path = std::getenv("GROUNDVIEW_FRAME_LOG");
        return path == nullptr ? -1 : open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    }();
    return fd;
}

// One line per write, so a reader polling the file never sees half a line.
void logLine(const std::string& line) {
    if (logFile() >= 0) {
        const std::string text = line + "\n";
        if (write(logFile(), text.data(), text.size()) < 0) {
            // Nothing to do: a lost line only shortens the measurement.
        }
    }
}

// GLUT hands a timer callback one int; the wrapper passes a slot number instead and keeps the
// program's own callback and value in the slot. All of this runs on the GLUT thread.
struct PendingTimer {
    TimerCallback callback = nullptr;
    int value = 0;
};
std::vector<PendingTimer> pendingTimers;
std::vector<int> freeSlots;

bool inTimer = false;
std::int64_t timerStart = 0;
bool glLogged = false;
DisplayCallback displayCallback = nullptr;

void timerTrampoline(int slot) {
    const PendingTimer timer = pendingTimers[slot];
    freeSlots.push_back(slot);
    const bool outer = !inTimer;
    if (outer) {
        inTimer = true;
        timerStart = nowNs();
    }
    timer.callback(timer.value);
    if (outer) {
        inTimer = false;
    }
}

void displayTrampoline() {
    const std::int64_t start = nowNs();
    displayCallback();
    logLine("display " + std::to_string(start) + " " + std::to_string(nowNs()));
}

}  // namespace

// GLUT refuses a null display callback itself; that call passes through unchanged.
extern "C" void glutDisplayFunc(DisplayCallback callback) {
    static const DisplayFunc real = realFunction<DisplayFunc>("glutDisplayFunc");
    displayCallback = callback;
    real(callback != nullptr ? displayTrampoline : nullptr);
}

extern "C" void glutTimerFunc(unsigned int milliseconds, TimerCallback callback, int value) {
    static const TimerFunc real = realFunction<TimerFunc>("glutTimerFunc");
    int slot;
    if (freeSlots.empty()) {
        slot = static_cast<int>(pendingTimers.size());
        pendingTimers.emplace_back();
    } else {
        slot = freeSlots.back();
        freeSlots.pop_back();
    }
    pendingTimers[slot] = {callback, value};
    real(milliseconds, timerTrampoline, slot);
}

extern "C" void glutSwapBuffers() {
    static const SwapFunc real = realFunction<SwapFunc>("glutSwapBuffers");
    if (!glLogged) {
        glLogged = true;
        GLint depthBits = 0;
        glGetIntegerv(GL_DEPTH_BITS, &depthBits);
        const auto* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
        logLine("gl " + std::to_string(depthBits) + " " + (renderer ? renderer : "unknown"));
    }
    real();
    const std::int64_t end = nowNs();
    if (inTimer) {
        logLine("frame " + std::to_string(timerStart) + " " + std::to_string(end));
    }
}
