// groundtool render against the real viewer: for the same world and camera, the preview must be
// the picture the viewer shows on screen.

#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <stb/stb_image.h>

#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "e2e_setup.h"
#include "test_files.h"

namespace {

const Milliseconds kStartTimeout = kHangGuard;
const Milliseconds kSettle{300};
const Milliseconds kToolTimeout{30000};

// Runs groundtool with arguments in folder; its exit status, or -1 when it did not exit in time
// or ended by a signal.
int groundtool(const std::string& folder, const std::vector<std::string>& arguments) {
    ChildOptions options;
    options.executable = GROUNDTOOL_EXECUTABLE;
    options.arguments = arguments;
    options.workingFolder = folder;
    ChildProcess tool(options);
    const std::optional<ExitStatus> status = tool.waitForExit(kToolTimeout);
    // What it says goes with the test's own output, as a tool run from the test's shell would.
    std::cerr << tool.standardError();
    return status && status->exited ? status->code : -1;
}

Picture readPng(const std::string& path) {
    int width = 0, height = 0, channels = 0;
    stbi_uc* pixels = stbi_load(path.c_str(), &width, &height, &channels, 3);
    if (pixels == nullptr) {
        return Picture();
    }
    Picture picture(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const stbi_uc* p = pixels + 3 * (static_cast<std::size_t>(y) * width + x);
            picture.at(x, y) = Pixel{p[0], p[1], p[2]};
        }
    }
    stbi_image_free(pixels);
    return picture;
}

class RenderMatch : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(
            groundtool(folder.path(), {"generate", "--size", "127", "--seed", "11", "--out", "."}),
            0);
        screen = std::make_unique<XScreen>(xorgDisplay());
        viewer = launchViewer(*screen, xorgDisplay(), folder.path());
    }

    // The screen once it shows the preview rendered with renderArguments, or the last steady
    // screen when it never does.
    void expectScreenMatches(const std::vector<std::string>& renderArguments,
                             const std::string& name) {
        const std::string png = name + ".png";
        std::vector<std::string> arguments = {"render",   "ground.3dt", "--width", "1024",
                                              "--height", "768",        "--out",   png};
        arguments.insert(arguments.end(), renderArguments.begin(), renderArguments.end());
        ASSERT_EQ(groundtool(folder.path(), arguments), 0);
        const Picture preview = readPng(folder.path() + "/" + png);
        ASSERT_EQ(preview.width(), 1024);
        const std::optional<Picture> shown = waitForSteadyPicture(
            *screen, [&](const Picture& p) { return p == preview; }, kSettle, kStartTimeout);
        if (!shown) {
            const Picture last = screen->capture();
            ADD_FAILURE() << name << ": the screen never showed the preview: "
                          << compare(last, preview).describe() << "; see "
                          << keepForInspection(last, "render-" + name + "-screen") << " and "
                          << keepForInspection(preview, "render-" + name + "-preview");
        }
    }

    TemporaryFolder folder;
    std::unique_ptr<XScreen> screen;
    std::unique_ptr<ChildProcess> viewer;
};

TEST_F(RenderMatch, PreviewIsTheViewersPictureToThePixel) {
    expectScreenMatches({}, "start");

    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(screen->tapKey(XK_w));
    }
    expectScreenMatches({"--eye", "0,-3"}, "walked");

    // Two right turns of 7.5 degrees from there: one turn of 15 degrees in the preview can round
    // differently in the last bits, which never moves a pixel at this size.
    ASSERT_TRUE(screen->tapKey(XK_d));
    ASSERT_TRUE(screen->tapKey(XK_d));
    expectScreenMatches({"--eye", "0,-3", "--heading", "15"}, "turned");
}

}  // namespace
