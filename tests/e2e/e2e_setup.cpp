#include "e2e_setup.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace {

constexpr Milliseconds kPollInterval{15};
constexpr Milliseconds kLeftoverTimeout = kHangGuard;

std::string displayFrom(const char* file, const char* what) {
    std::ifstream in(file);
    std::string display;
    if (!(in >> display) || display.empty() || display[0] != ':') {
        throw std::runtime_error(std::string("no ") + what + " display recorded in " + file +
                                 "; run the tests through ctest, which starts the server");
    }
    return display;
}

}  // namespace

std::string xorgDisplay() {
    return displayFrom(E2E_XORG_DISPLAY_FILE, "Xorg");
}

std::string xvfbDisplay() {
    return displayFrom(E2E_XVFB_DISPLAY_FILE, "Xvfb");
}

std::string viewerExecutable() {
    return GROUNDVIEW_EXECUTABLE;
}

bool pollUntil(const std::function<bool()>& predicate, Milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    return true;
}

std::optional<Picture> waitForSteadyPicture(const XScreen& screen,
                                            const std::function<bool(const Picture&)>& accept,
                                            Milliseconds settle, Milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    Picture last = screen.capture();
    auto since = std::chrono::steady_clock::now();
    for (;;) {
        std::this_thread::sleep_for(kPollInterval);
        const auto now = std::chrono::steady_clock::now();
        Picture current = screen.capture();
        if (current != last || !accept(current)) {
            last = std::move(current);
            since = now;
        } else if (now - since >= settle) {
            return current;
        }
        if (now >= deadline) {
            return std::nullopt;
        }
    }
}

Picture waitForPicture(const XScreen& screen, const std::function<bool(const Picture&)>& accept,
                       Milliseconds timeout) {
    Picture current;
    pollUntil(
        [&] {
            current = screen.capture();
            return accept(current);
        },
        timeout);
    return current;
}

std::optional<WindowGeometry> waitForMappedWindow(const XScreen& screen, Milliseconds timeout) {
    std::optional<WindowGeometry> found;
    pollUntil(
        [&] {
            for (const WindowGeometry& window : screen.topLevelWindows()) {
                if (window.mapped) {
                    found = window;
                    return true;
                }
            }
            return false;
        },
        timeout);
    return found;
}

bool hasMappedWindow(const XScreen& screen) {
    for (const WindowGeometry& window : screen.topLevelWindows()) {
        if (window.mapped) {
            return true;
        }
    }
    return false;
}

ChildOptions viewerOptions(const std::string& display, const std::string& folder) {
    ChildOptions options;
    options.executable = viewerExecutable();
    options.workingFolder = folder;
    options.environment = {"DISPLAY=" + display};
    return options;
}

void waitForEmptyScreen(const XScreen& screen, const std::string& display) {
    if (!pollUntil([&] { return !hasMappedWindow(screen); }, kLeftoverTimeout)) {
        throw std::runtime_error("a window of an earlier run stays on " + display);
    }
}

std::unique_ptr<ChildProcess> launchViewer(const XScreen& screen, const std::string& display,
                                           const std::string& folder,
                                           const std::vector<std::string>& arguments) {
    waitForEmptyScreen(screen, display);
    ChildOptions options = viewerOptions(display, folder);
    options.arguments = arguments;
    return std::make_unique<ChildProcess>(options);
}

std::string keepForInspection(const Picture& picture, const std::string& name) {
    std::filesystem::create_directories(E2E_ARTIFACT_DIR);
    const std::string path = std::string(E2E_ARTIFACT_DIR) + "/" + name + ".png";
    picture.writePng(path);
    return path;
}
