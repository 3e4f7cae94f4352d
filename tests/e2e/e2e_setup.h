#pragma once
// What every end-to-end test needs around the viewer: which X servers the test run started, the
// viewer binary, waiting for the screen, and a place to leave pictures of failures.

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "child_process.h"
#include "picture.h"
#include "x_screen.h"

using Milliseconds = std::chrono::milliseconds;

// How long a test waits for what the viewer must do (map its window, draw, answer a key, exit)
// before it fails. A guard against a hang, not a measure of speed: a loaded machine may take
// many times the usual second, and a wait that succeeds returns as soon as it does.
constexpr Milliseconds kHangGuard{30000};

// The display (":N") of the Xorg dummy server (with game mode) or of the Xvfb server (without);
// throws std::runtime_error when the test run did not start it.
std::string xorgDisplay();
std::string xvfbDisplay();
std::string viewerExecutable();

// Calls predicate every few milliseconds until it holds; false when timeout passes first.
bool pollUntil(const std::function<bool()>& predicate, Milliseconds timeout);

// The screen once it has stayed the same for at least settle, and shows accept; nothing when
// that does not happen within timeout. A frame comes every 50 ms plus drawing time, so a settle
// of a few frame periods means the viewer draws the same picture again and again.
std::optional<Picture> waitForSteadyPicture(const XScreen& screen,
                                            const std::function<bool(const Picture&)>& accept,
                                            Milliseconds settle, Milliseconds timeout);

// The screen as soon as it satisfies accept, or the last capture when timeout passes first.
Picture waitForPicture(const XScreen& screen, const std::function<bool(const Picture&)>& accept,
                       Milliseconds timeout);

// The first mapped top-level window, once there is one; nothing when timeout passes first. The
// test servers run no other clients, so that is the viewer's window.
std::optional<WindowGeometry> waitForMappedWindow(const XScreen& screen, Milliseconds timeout);

bool hasMappedWindow(const XScreen& screen);

// The viewer run on display with folder as its working folder.
ChildOptions viewerOptions(const std::string& display, const std::string& folder);

// Waits until no window of an earlier run is left on screen (whose display is display): a killed
// viewer's window goes only when the server has seen it go. Throws std::runtime_error when one
// stays.
void waitForEmptyScreen(const XScreen& screen, const std::string& display);

// Starts the viewer on screen in folder with arguments, once the screen is empty.
std::unique_ptr<ChildProcess> launchViewer(const XScreen& screen, const std::string& display,
                                           const std::string& folder,
                                           const std::vector<std::string>& arguments = {});

// Writes picture as "<name>.png" into the test build's artifact folder and returns its path.
std::string keepForInspection(const Picture& picture, const std::string& name);
