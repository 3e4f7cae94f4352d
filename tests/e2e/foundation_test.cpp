// The viewer with nothing to show: game mode, the sky-blue clear colour, the error log for the
// missing terrain, and the full-screen window it falls back to where game mode is unavailable.

#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "e2e_setup.h"
#include "scenes.h"
#include "test_files.h"
#include "x_screen.h"

namespace {

const Milliseconds kStartTimeout = kHangGuard;
const Milliseconds kExitTimeout = kHangGuard;
const Milliseconds kFewFrames{300};
const std::string kMissingTerrainEntry = "Unable to find file|ground.3dt";

bool allSky(const Picture& picture) {
    return picture.count(0, 0, picture.width(), picture.height(),
                         [](Pixel pixel) { return !isSky(pixel); }) == 0;
}

std::vector<std::string> logLines(const TemporaryFolder& folder) {
    return readLines(folder.path() + "/errorlog.txt");
}

TEST(Foundation, GameModeShowsOnlySkyAndLogsTheMissingTerrainOnce) {
    TemporaryFolder folder;
    XScreen screen(xorgDisplay());
    ASSERT_EQ(screen.width(), 1024);
    ASSERT_EQ(screen.height(), 768);
    const std::unique_ptr<ChildProcess> viewer = launchViewer(screen, xorgDisplay(), folder.path());

    // The root window behind is black, so sky on every pixel means the viewer covers the screen.
    const Picture picture = waitForPicture(screen, allSky, kStartTimeout);
    EXPECT_TRUE(allSky(picture)) << "the screen never became sky blue everywhere; see "
                                 << keepForInspection(picture, "foundation-game-mode");
    const std::optional<WindowGeometry> window = waitForMappedWindow(screen, kStartTimeout);
    ASSERT_TRUE(window);
    EXPECT_EQ(window->x, 0);
    EXPECT_EQ(window->y, 0);
    EXPECT_EQ(window->width, 1024);
    EXPECT_EQ(window->height, 768);

    // Frames keep coming without a terrain; a few more give a repeated load the chance to show.
    std::this_thread::sleep_for(kFewFrames);
    ASSERT_TRUE(viewer->running()) << "the viewer ended without a terrain";
    EXPECT_EQ(logLines(folder), std::vector<std::string>{kMissingTerrainEntry});
    EXPECT_EQ(viewer->standardError(), "");

    ASSERT_TRUE(screen.tapKey(XK_Escape));
    const std::optional<ExitStatus> status = viewer->waitForExit(kExitTimeout);
    ASSERT_TRUE(status) << "Esc did not end the viewer";
    EXPECT_EQ(*status, ExitStatus::withCode(0));
    EXPECT_EQ(logLines(folder), std::vector<std::string>{kMissingTerrainEntry})
        << "Esc wrote to the error log";
    EXPECT_TRUE(pollUntil([&] { return !hasMappedWindow(screen); }, kExitTimeout))
        << "the game mode window outlived the viewer";
}

TEST(Foundation, KeepsTheLinesOfAnExistingErrorLog) {
    TemporaryFolder folder;
    const std::vector<std::string> earlier = {"not a 3d thing", "OpenGL error:", "invalid enum"};
    {
        std::string text;
        for (const std::string& line : earlier) {
            text += line + "\n";
        }
        writeFile(folder.path() + "/errorlog.txt", Bytes(text.begin(), text.end()));
    }
    XScreen screen(xorgDisplay());
    const std::unique_ptr<ChildProcess> viewer = launchViewer(screen, xorgDisplay(), folder.path());

    std::vector<std::string> expected = earlier;
    expected.push_back(kMissingTerrainEntry);
    EXPECT_TRUE(
        pollUntil([&] { return logLines(folder).size() >= expected.size(); }, kStartTimeout));
    // The entry is written before the first frame; once sky shows, nothing more may follow.
    waitForPicture(screen, allSky, kStartTimeout);
    EXPECT_EQ(logLines(folder), expected);

    ASSERT_TRUE(screen.tapKey(XK_Escape));
    const std::optional<ExitStatus> status = viewer->waitForExit(kExitTimeout);
    ASSERT_TRUE(status);
    EXPECT_EQ(*status, ExitStatus::withCode(0));
    EXPECT_EQ(logLines(folder), expected);
}

// Xvfb has no video-mode extension, so game mode cannot be entered there.
TEST(Fallback, SaysGameModeIsUnavailableAndShowsSkyInAFullScreenWindow) {
    TemporaryFolder folder;
    XScreen screen(xvfbDisplay());
    const std::unique_ptr<ChildProcess> viewer = launchViewer(screen, xvfbDisplay(), folder.path());

    // The window maps at freeglut's default size first and is made full screen after; without a
    // window manager freeglut sizes it to the screen itself, allowing for a border it may keep.
    const auto coversScreen = [&](const WindowGeometry& w) {
        return w.mapped && w.width >= screen.width() - 2 && w.height >= screen.height() - 2;
    };
    std::optional<WindowGeometry> window;
    pollUntil(
        [&] {
            window = waitForMappedWindow(screen, Milliseconds{0});
            return window && coversScreen(*window);
        },
        kStartTimeout);
    ASSERT_TRUE(window) << "no window appeared; standard error:\n" << viewer->standardError();
    EXPECT_GE(window->width, screen.width() - 2);
    EXPECT_GE(window->height, screen.height() - 2);
    EXPECT_LE(window->x, 1);
    EXPECT_LE(window->y, 1);

    const int x0 = std::max(window->x, 0);
    const int y0 = std::max(window->y, 0);
    const int x1 = std::min(window->x + window->width, screen.width());
    const int y1 = std::min(window->y + window->height, screen.height());
    const auto windowAllSky = [&](const Picture& picture) {
        return picture.count(x0, y0, x1, y1, [](Pixel pixel) { return !isSky(pixel); }) == 0;
    };
    const Picture picture = waitForPicture(screen, windowAllSky, kStartTimeout);
    EXPECT_TRUE(windowAllSky(picture)) << "the window never became sky blue; see "
                                       << keepForInspection(picture, "fallback-window");

    // freeglut adds its own warning about the screen settings; the viewer says why it carries on.
    int ours = 0;
    for (const std::string& line : viewer->standardErrorLines()) {
        if (line.find("game mode unavailable") != std::string::npos) {
            ++ours;
        } else {
            EXPECT_EQ(line.rfind("freeglut", 0), 0u) << "unexpected line: " << line;
        }
    }
    EXPECT_EQ(ours, 1) << viewer->standardError();

    // Each display event of the window reloads, and each logs the missing terrain.
    const std::vector<std::string> logged = logLines(folder);
    EXPECT_FALSE(logged.empty());
    for (const std::string& line : logged) {
        EXPECT_EQ(line, kMissingTerrainEntry);
    }
}

}  // namespace
