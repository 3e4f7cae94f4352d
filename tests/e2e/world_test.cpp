// The viewer's command line: a world opened by path from any folder, an ordinary window of a
// chosen size, a chosen height scale, and the usage errors that end it before any window opens.

#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "child_process.h"
#include "e2e_setup.h"
#include "reference_frame.h"
#include "scenes.h"
#include "test_files.h"
#include "window_visual.h"

namespace fs = std::filesystem;

namespace {

const Milliseconds kStartTimeout{5000};
const Milliseconds kExitTimeout{3000};

Picture cropped(const Picture& picture, const WindowGeometry& window) {
    Picture part(window.width, window.height);
    for (int y = 0; y < window.height; ++y) {
        for (int x = 0; x < window.width; ++x) {
            part.at(x, y) = picture.at(window.x + x, window.y + y);
        }
    }
    return part;
}

// Runs the viewer in workingFolder with arguments until its window shows the world's steady
// frame, as groundtool draws it off-screen for the window's size and depth buffer at
// heightScale, then leaves with Esc. Returns the window.
WindowGeometry expectWorldShown(const std::string& workingFolder, const std::string& worldFolder,
                                const std::vector<std::string>& arguments, float heightScale,
                                const std::string& name) {
    XScreen screen(xorgDisplay());
    const std::unique_ptr<ChildProcess> viewer =
        launchViewer(screen, xorgDisplay(), workingFolder, arguments);
    std::optional<WindowGeometry> window = waitForMappedWindow(screen, kStartTimeout);
    if (!window) {
        ADD_FAILURE() << name << ": no window; " << viewer->standardError();
        return {};
    }
    // With no window manager, an ordinary window sits at (-1, -1), partly off the screen, and
    // gets the keys only under the pointer; do what a window manager would: show it whole and
    // give it the focus.
    if (window->x != 0 || window->y != 0) {
        XMoveWindow(screen.display(), window->id, 0, 0);
        window->x = 0;
        window->y = 0;
    }
    XSetInputFocus(screen.display(), window->id, RevertToPointerRoot, CurrentTime);
    XSync(screen.display(), False);
    const ReferenceFrame expected =
        renderSteadyFrame(worldFolder, 0, 0, window->width, window->height,
                          depthBufferBits(screen.display(), window->id), heightScale);
    EXPECT_FALSE(expected.picture.empty()) << name << ": " << expected.error;
    const auto shows = [&](const Picture& p) { return cropped(p, *window) == expected.picture; };
    const Picture shown = waitForPicture(screen, shows, kStartTimeout);
    EXPECT_TRUE(shows(shown)) << name << ": "
                              << compare(cropped(shown, *window), expected.picture).describe()
                              << "; see " << keepForInspection(shown, "world-" + name);
    EXPECT_TRUE(screen.tapKey(XK_Escape));
    const std::optional<ExitStatus> status = viewer->waitForExit(kExitTimeout);
    EXPECT_EQ(status, ExitStatus::withCode(0)) << name;
    EXPECT_EQ(viewer->standardError(), "") << name;
    return *window;
}

TEST(World, OpensByPathFromAnyFolderAndLogsNextToTheWorld) {
    TemporaryFolder top;
    const std::string world = top.file("world");
    fs::create_directory(world);
    writeCheckerTerrain(world);
    fs::copy_file(world + "/ground.3dt", world + "/alps.3dt");
    fs::create_directory(top.file("elsewhere"));
    const std::string elsewhere = top.file("elsewhere");

    // The picture in the world's own folder is the one every way of naming it must show.
    expectWorldShown(world, world, {}, scene::kDefaultHeightScale, "own-folder");
    const std::vector<std::pair<std::string, std::string>> names = {
        {"folder", world},
        {"folder-slash", world + "/"},
        {"ground", world + "/ground.3dt"},
        {"other-name", world + "/alps.3dt"},
    };
    // GLUT's own options pass by the viewer's parser.
    expectWorldShown(elsewhere, world, {"-display", xorgDisplay(), world},
                     scene::kDefaultHeightScale, "glut-option");
    for (const auto& [name, path] : names) {
        expectWorldShown(elsewhere, world, {path}, scene::kDefaultHeightScale, name);
    }
    EXPECT_TRUE(fs::is_empty(elsewhere)) << "the viewer wrote into its working folder";

    // A file that fails is named as it is called, in the log beside it.
    writeFile(world + "/broken.3dt", Bytes{'X', 'Y'});
    fs::create_directory(top.file("empty"));
    const std::vector<std::pair<std::string, std::string>> failing = {
        {world + "/broken.3dt", world + "/errorlog.txt"},
        {top.file("empty"), top.file("empty") + "/errorlog.txt"},
    };
    for (const auto& [path, log] : failing) {
        XScreen screen(xorgDisplay());
        const std::unique_ptr<ChildProcess> viewer =
            launchViewer(screen, xorgDisplay(), elsewhere, {path});
        ASSERT_TRUE(waitForMappedWindow(screen, kStartTimeout)) << path;
        EXPECT_TRUE(pollUntil([&log = log] { return fileExists(log); }, kStartTimeout)) << path;
        ASSERT_TRUE(screen.tapKey(XK_Escape));
        EXPECT_EQ(viewer->waitForExit(kExitTimeout), ExitStatus::withCode(0)) << path;
    }
    EXPECT_EQ(readLines(world + "/errorlog.txt"), std::vector<std::string>{"not a 3d thing"});
    EXPECT_EQ(readLines(top.file("empty") + "/errorlog.txt"),
              std::vector<std::string>{"Unable to find file|ground.3dt"});
    EXPECT_TRUE(fs::is_empty(elsewhere));
}

TEST(World, WindowOfTheChosenSizeAndHeightScale) {
    TemporaryFolder world;
    writeCheckerTerrain(world.path());
    const WindowGeometry window = expectWorldShown(world.path(), world.path(), {"--window=640x480"},
                                                   scene::kDefaultHeightScale, "window");
    EXPECT_EQ(window.width, 640);
    EXPECT_EQ(window.height, 480);
    const WindowGeometry plain = expectWorldShown(world.path(), world.path(), {"--window"},
                                                  scene::kDefaultHeightScale, "window-default");
    EXPECT_EQ(plain.width, 1024);
    EXPECT_EQ(plain.height, 768);
    // Game mode, with the hills ten times as tall.
    expectWorldShown(world.path(), world.path(), {"--height-scale", "3"}, 3.0f, "height-scale");
}

TEST(World, UsageErrorsEndWithSixtyFourBeforeAnyWindow) {
    TemporaryFolder folder;
    writeCheckerTerrain(folder.path());
    struct Case {
        std::vector<std::string> arguments;
        std::string part;  // what the one line on standard error must name
    };
    const std::vector<Case> cases = {
        {{"--bogus"}, "--bogus"},
        {{"ground.3dt", "ground.3dt"}, "ground.3dt"},
        {{"missing.3dt"}, "missing.3dt: No such file or directory"},
        {{"/dev/null"}, "neither a folder nor a regular file"},
        {{"--window=640"}, "--window"},
        {{"--window=0x480"}, "--window"},
        {{"--height-scale", "0"}, "--height-scale"},
        {{"--height-scale", "nan"}, "--height-scale"},
        {{"--height-scale", "1001"}, "--height-scale"},
        {{"--height-scale"}, "--height-scale"},
        {{"--height-scale", "1e-300"}, "too small"},
        {{""}, "WORLD is empty"},
        {{"-display"}, "-display needs a value"},
        {{"-geometry", "32767x32767"}, "-geometry takes sizes from 1 to 16384"},
        {{"--window", "-geometry", "=0x10+5+5"}, "-geometry"},
        {{"bad\x1b]0;name"}, "bad\\x1b]0;name: No such file"},
    };
    for (const Case& c : cases) {
        ChildOptions options = viewerOptions(":0", folder.path());
        options.environment = {"DISPLAY=:99999"};  // a display that can't be reached
        options.arguments = c.arguments;
        ChildProcess viewer(options);
        EXPECT_EQ(viewer.waitForExit(kExitTimeout), ExitStatus::withCode(64)) << c.part;
        const std::vector<std::string> lines = viewer.standardErrorLines();
        ASSERT_EQ(lines.size(), 1u) << c.part << "\n" << viewer.standardError();
        EXPECT_EQ(lines[0].rfind("groundview: ", 0), 0u) << lines[0];
        EXPECT_NE(lines[0].find(c.part), std::string::npos) << lines[0];
        EXPECT_NE(lines[0].find("--help"), std::string::npos) << lines[0];
        EXPECT_EQ(viewer.standardOutput(), "") << c.part;
    }
    for (const char* option : {"--help", "--version"}) {
        ChildOptions options = viewerOptions(":0", folder.path());
        options.environment = {"DISPLAY=:99999"};
        options.arguments = {option};
        ChildProcess viewer(options);
        EXPECT_EQ(viewer.waitForExit(kExitTimeout), ExitStatus::withCode(0)) << option;
        EXPECT_NE(viewer.standardOutput().find("groundview"), std::string::npos) << option;
        EXPECT_EQ(viewer.standardError(), "") << option;
    }
    EXPECT_FALSE(fileExists(folder.file("errorlog.txt")));
}

}  // namespace
