// The keyboard on the real viewer: walking and turning change the picture exactly as the
// viewer's own frame code draws it from the new camera position, ignored keys change nothing,
// and Esc ends the run cleanly in game mode and in the fallback window.

#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "child_process.h"
#include "e2e_setup.h"
#include "reference_frame.h"
#include "scenes.h"
#include "test_files.h"
#include "window_visual.h"
#include "x_screen.h"

namespace {

const Milliseconds kStartTimeout = kHangGuard;
const Milliseconds kKeyTimeout = kHangGuard;
const Milliseconds kExitTimeout = kHangGuard;
// Six frame periods and more: long enough for an ignored key to have shown if it acted.
const Milliseconds kQuietPeriod{400};

class Keys : public ::testing::Test {
  protected:
    void SetUp() override { writeCheckerTerrain(folder_.path()); }

    // Starts the viewer in game mode and waits for the picture of the start position, drawn
    // off-screen the same way, with a depth buffer exactly when the viewer's window has one.
    void startViewer() {
        screen_ = std::make_unique<XScreen>(xorgDisplay());
        viewer_ = launchViewer(*screen_, xorgDisplay(), folder_.path());
        const std::optional<WindowGeometry> window = waitForMappedWindow(*screen_, kStartTimeout);
        ASSERT_TRUE(window) << "no window appeared";
        depthBits_ = depthBufferBits(screen_->display(), window->id);
        ASSERT_GE(depthBits_, 0) << "cannot tell whether the window has a depth buffer";
        start_ = reference(0, 0, "start");
        startShown_ = expectScreen(start_, kStartTimeout, "start");
    }

    // The start camera moved to (eyeX, eyeZ), still looking along -z.
    ReferenceFrame reference(double eyeX, double eyeZ, const std::string& name) {
        ReferenceFrame frame = renderSteadyFrame(folder_.path(), eyeX, eyeZ, screen_->width(),
                                                 screen_->height(), depthBits_);
        EXPECT_FALSE(frame.picture.empty())
            << "cannot draw the " << name << " frame: " << frame.error;
        return frame;
    }

    // Drawn like the window, the frame must match to the pixel.
    static bool matches(const Picture& shown, const ReferenceFrame& frame) {
        return shown == frame.picture;
    }

    // Waits for the screen to show the expected frame and returns what it showed last.
    Picture expectScreen(const ReferenceFrame& expected, Milliseconds timeout,
                         const std::string& name) {
        const Picture shown = waitForPicture(
            *screen_, [&](const Picture& p) { return matches(p, expected); }, timeout);
        if (!matches(shown, expected)) {
            ADD_FAILURE() << "the screen never showed the " << name
                          << " frame: " << compare(shown, expected.picture).describe() << "; see "
                          << keepForInspection(shown, "keys-" + name + "-screen") << " and "
                          << keepForInspection(expected.picture, "keys-" + name + "-expected");
        }
        return shown;
    }

    // Whether the screen leaves picture within timeout.
    bool screenChangesFrom(const Picture& picture, Milliseconds timeout) {
        return pollUntil([&] { return screen_->capture() != picture; }, timeout);
    }

    void tap(unsigned long keysym) { ASSERT_TRUE(screen_->tapKey(keysym)) << keysym; }

    TemporaryFolder folder_;
    std::unique_ptr<XScreen> screen_;
    std::unique_ptr<ChildProcess> viewer_;
    int depthBits_ = -1;
    ReferenceFrame start_;
    Picture startShown_;  // the screen showing start_
};

TEST_F(Keys, EachWStepsOneUnitForwardAndThreeShowTheViewFromZeroTwoMinusThree) {
    ASSERT_NO_FATAL_FAILURE(startViewer());
    const ReferenceFrame oneStep = reference(0, -1, "one-step");
    const ReferenceFrame threeSteps = reference(0, -3, "three-steps");
    ASSERT_FALSE(matches(oneStep.picture, start_));
    ASSERT_FALSE(matches(threeSteps.picture, oneStep));

    tap(XK_w);
    expectScreen(oneStep, kKeyTimeout, "one-step");
    tap(XK_w);
    tap(XK_w);
    expectScreen(threeSteps, kKeyTimeout, "three-steps");
    EXPECT_TRUE(viewer_->running());
}

TEST_F(Keys, TurningLeftThenRightRestoresThePicture) {
    ASSERT_NO_FATAL_FAILURE(startViewer());
    tap(XK_a);
    EXPECT_TRUE(screenChangesFrom(startShown_, kKeyTimeout)) << "a did not turn the view";
    tap(XK_d);
    // a and d cancel up to rounding in the look-at point, far below what a pixel shows, and the
    // same viewer draws the same view the same way.
    const Picture back = waitForPicture(
        *screen_, [&](const Picture& p) { return p == startShown_; }, kKeyTimeout);
    EXPECT_EQ(back, startShown_) << "a then d did not restore the picture: "
                                 << compare(back, startShown_).describe();
}

TEST_F(Keys, CapitalWAndArrowKeysChangeNothing) {
    ASSERT_NO_FATAL_FAILURE(startViewer());
    tap(XK_W);
    tap(XK_Left);
    tap(XK_Up);
    EXPECT_FALSE(screenChangesFrom(startShown_, kQuietPeriod)) << "an ignored key moved the camera";
    // The same route for a key that acts shows the ignored ones really arrived there.
    tap(XK_w);
    EXPECT_TRUE(screenChangesFrom(startShown_, kKeyTimeout)) << "w did not reach the viewer";
}

TEST(Escape, EndsWithStatusZeroAndWritesNothingInGameModeAndInTheFallbackWindow) {
    for (const std::string& display : {xorgDisplay(), xvfbDisplay()}) {
        SCOPED_TRACE("display " + display);
        TemporaryFolder folder;
        writeCheckerTerrain(folder.path());
        XScreen screen(display);
        const std::unique_ptr<ChildProcess> viewer = launchViewer(screen, display, folder.path());
        // Wait for a drawn frame (sky in the top half, 2 pixels in to stay clear of a border).
        const std::optional<Picture> steady = waitForSteadyPicture(
            screen, [](const Picture& picture) { return isSky(picture.at(2, 2)); },
            Milliseconds(200), kStartTimeout);
        ASSERT_TRUE(steady) << "no frame was drawn";

        ASSERT_TRUE(screen.tapKey(XK_Escape));
        const std::optional<ExitStatus> status = viewer->waitForExit(kExitTimeout);
        ASSERT_TRUE(status) << "Esc did not end the viewer";
        EXPECT_EQ(*status, ExitStatus::withCode(0)) << viewer->standardError();
        EXPECT_FALSE(fileExists(folder.path() + "/errorlog.txt"));
    }
}

}  // namespace
