// The viewer's command line: a world opened by path from any folder, an ordinary window of a
// chosen size, a chosen height scale, and the usage errors that end it before any window opens.

#include <X11/keysym.h>
#include <gdal.h>
#include <gtest/gtest.h>
#include <ogr_srs_api.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "e2e_setup.h"
#include "elevation_world.h"
#include "pick.h"
#include "raster_open.h"
#include "reference_frame.h"
#include "render.h"
#include "scenes.h"
#include "test_files.h"
#include "window_visual.h"

// After gtest: Xlib's None and Bool macros would break its headers.
#include <X11/extensions/XTest.h>

namespace fs = std::filesystem;

namespace {

const Milliseconds kStartTimeout = kHangGuard;
const Milliseconds kExitTimeout = kHangGuard;

Picture cropped(const Picture& picture, const WindowGeometry& window) {
    Picture part(window.width, window.height);
    for (int y = 0; y < window.height; ++y) {
        for (int x = 0; x < window.width; ++x) {
            part.at(x, y) = picture.at(window.x + x, window.y + y);
        }
    }
    return part;
}

// What groundtool render draws of an elevation raster at width x height from start.
ReferenceFrame renderedRaster(const std::string& path, int width, int height,
                              const raster::ViewStart& start) {
    groundtool::RenderOptions options;
    options.terrain = path;
    options.width = width;
    options.height = height;
    options.view.start = start;
    ReferenceFrame frame;
    try {
        std::vector<std::string> warnings;
        const std::vector<std::uint8_t> rows = groundtool::renderFrame(options, warnings);
        frame.picture = Picture(width, height);
        for (std::size_t i = 0; i < rows.size() / 3; ++i) {
            frame.picture.at(static_cast<int>(i % width), static_cast<int>(i / width)) =
                Pixel{rows[3 * i], rows[3 * i + 1], rows[3 * i + 2]};
        }
    } catch (const std::exception& error) {
        frame.error = error.what();
    }
    return frame;
}

// Runs the viewer in workingFolder with arguments, types keys into its window, and waits until
// it shows the world's steady frame, as groundtool draws it off-screen for the window's size and
// depth buffer at heightScale, then leaves with Esc having said only expectedError. Returns the
// window. An elevation raster is its own world, drawn from start.
WindowGeometry expectWorldShown(const std::string& workingFolder, const std::string& worldFolder,
                                const std::vector<std::string>& arguments, float heightScale,
                                const std::string& name,
                                const std::vector<unsigned long>& keys = {},
                                const std::string& expectedError = "",
                                const raster::ViewStart& start = {}) {
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
    for (unsigned long key : keys) {
        EXPECT_TRUE(screen.tapKey(key)) << name;
    }
    const ReferenceFrame expected =
        fs::is_regular_file(worldFolder)
            ? renderedRaster(worldFolder, window->width, window->height, start)
            : renderSteadyFrame(worldFolder, 0, 0, window->width, window->height,
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
    EXPECT_EQ(viewer->standardError(), expectedError) << name;
    return *window;
}

// An Int16 GeoTIFF in degrees near 46 N, 300 x 200 unless asked otherwise: one summit north of
// where the walk starts (the middle of the south edge) over gentle ripples, or, allMissing, every
// height its declared nodata.
void writeSummitRaster(const std::string& path, int kColumns = 300, int kRows = 200,
                       bool allMissing = false) {
    constexpr std::int16_t kMissing = -32768;
    raster::useGdal();
    GDALDatasetH file = GDALCreate(GDALGetDriverByName("GTiff"), path.c_str(), kColumns, kRows, 1,
                                   GDT_Int16, nullptr);
    ASSERT_NE(file, nullptr);
    std::vector<std::int16_t> heights;
    for (int y = 0; y < kRows; ++y) {
        for (int x = 0; x < kColumns; ++x) {
            const double summit = std::exp(-(std::pow(x - 150, 2) + std::pow(y - 60, 2)) / 2500);
            heights.push_back(
                allMissing ? kMissing
                           : static_cast<std::int16_t>(600 + 1800 * summit +
                                                       40 * std::sin(x / 7.0) * std::cos(y / 5.0)));
        }
    }
    double placement[6] = {7.0, 1.0 / 1200, 0, 46.2, 0, -1.0 / 1200};
    GDALSetGeoTransform(file, placement);
    OGRSpatialReferenceH degrees = OSRNewSpatialReference(nullptr);
    OSRImportFromEPSG(degrees, 4326);
    GDALSetSpatialRef(file, degrees);
    OSRDestroySpatialReference(degrees);
    if (allMissing) {
        GDALSetRasterNoDataValue(GDALGetRasterBand(file, 1), kMissing);
    }
    EXPECT_EQ(GDALRasterIO(GDALGetRasterBand(file, 1), GF_Write, 0, 0, kColumns, kRows,
                           heights.data(), kColumns, kRows, GDT_Int16, 0, 0),
              CE_None);
    GDALClose(file);
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
    // (A folder with neither a world nor a raster is refused before any window: the mosaic tests.)
    writeFile(world + "/broken.3dt", Bytes{'X', 'Y'});
    const std::vector<std::pair<std::string, std::string>> failing = {
        {world + "/broken.3dt", world + "/errorlog.txt"},
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

TEST(World, ElevationRasterIsWhatGroundtoolRendersOnceTheReadoutIsHidden) {
    TemporaryFolder folder;
    writeSummitRaster(folder.file("summit.tif"));
    const WindowGeometry window = expectWorldShown(folder.path(), folder.file("summit.tif"),
                                                   {"--window=640x480", "summit.tif"},
                                                   scene::kDefaultHeightScale, "elevation", {XK_h});
    EXPECT_EQ(window.width, 640);
    EXPECT_EQ(window.height, 480);
    // Started on the summit's south slope looking east and down, or at the same place named in
    // degrees, looking up.
    const struct {
        std::vector<std::string> arguments;
        raster::ViewStart start;
    } kStarts[] = {
        {{"--at", "7.125,46.14", "--heading", "100", "--pitch", "-35"},
         {std::pair{7.125, 46.14}, std::nullopt, 100, -35}},
        {{"--at-latlon", "46.14,7.125", "--heading", "-30", "--pitch", "12.5"},
         {std::nullopt, std::pair{46.14, 7.125}, 330, 12.5}},
    };
    for (const auto& start : kStarts) {
        std::vector<std::string> arguments = start.arguments;
        arguments.insert(arguments.end(), {"--window=320x240", "summit.tif"});
        expectWorldShown(folder.path(), folder.file("summit.tif"), arguments,
                         scene::kDefaultHeightScale, "elevation " + start.arguments[0], {XK_h}, "",
                         start.start);
    }
}

// A click over the summit writes one pick line on standard output at once, the line the pick
// code gives for that pixel of the same view; a right-click and Esc add nothing.
TEST(World, AClickPicksTheGroundUnderTheCursorOnStandardOutput) {
    TemporaryFolder folder;
    writeSummitRaster(folder.file("summit.tif"));
    const raster::ViewStart start{std::nullopt, std::nullopt, 0, -20};
    constexpr int kClickX = 160, kClickY = 150;
    const raster::ElevationWorld world = raster::loadElevationWorld(folder.file("summit.tif"), 1);
    Walker walker(world.grid.field);
    ASSERT_EQ(raster::placeWalker(walker, world.grid.placement, start), "");
    const auto pick =
        raster::pickAt(walker, world.grid.placement, 320, 240, kClickX + 0.5, kClickY + 0.5);
    ASSERT_TRUE(pick);
    const std::string expected = raster::pickLine(*pick, walker, world.grid.placement, 1) + "\n";

    XScreen screen(xorgDisplay());
    const std::unique_ptr<ChildProcess> viewer = launchViewer(
        screen, xorgDisplay(), folder.path(), {"--window=320x240", "--pitch", "-20", "summit.tif"});
    std::optional<WindowGeometry> window = waitForMappedWindow(screen, kStartTimeout);
    ASSERT_TRUE(window) << viewer->standardError();
    XMoveWindow(screen.display(), window->id, 0, 0);
    XSync(screen.display(), False);
    window->x = window->y = 0;
    const ReferenceFrame shown = renderedRaster(folder.file("summit.tif"), 320, 240, start);
    // The start view drawn, below the readout along the top that render leaves out.
    constexpr int kReadoutRows = 40;
    const WindowGeometry belowReadout{window->id, 0, kReadoutRows, 320, 240 - kReadoutRows, true};
    waitForPicture(
        screen,
        [&](const Picture& p) {
            return cropped(p, belowReadout) == cropped(shown.picture, belowReadout);
        },
        kStartTimeout);
    XTestFakeMotionEvent(screen.display(), -1, kClickX, kClickY, CurrentTime);
    for (const unsigned button : {1u, 3u}) {
        XTestFakeButtonEvent(screen.display(), button, True, CurrentTime);
        XTestFakeButtonEvent(screen.display(), button, False, CurrentTime);
        XSync(screen.display(), False);
        const auto until = std::chrono::steady_clock::now() + kStartTimeout;
        while (viewer->standardOutput().empty() && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(Milliseconds(20));
        }
    }
    EXPECT_EQ(viewer->standardOutput(), expected);
    XSetInputFocus(screen.display(), window->id, RevertToPointerRoot, CurrentTime);
    EXPECT_TRUE(screen.tapKey(XK_Escape));
    EXPECT_EQ(viewer->waitForExit(kExitTimeout), ExitStatus::withCode(0));
    EXPECT_EQ(viewer->standardOutput(), expected);
    EXPECT_EQ(viewer->standardError(), "");
}

TEST(World, UnusableElevationRastersEndWithSixtyFourInOneLineWritingNothing) {
    TemporaryFolder top;
    const std::string source = top.file("source");
    fs::create_directory(source);
    writeSummitRaster(top.file("elsewhere.tif"));
    writeSummitRaster(source + "/void.tif", 300, 200, true);
    writeSummitRaster(source + "/row.tif", 300, 1);
    writeSummitRaster(source + "/MEM:::");
    Bytes cut = readFile(top.file("elsewhere.tif"));
    cut.resize(cut.size() / 2);
    writeFile(source + "/cut.tif", cut);
    const auto writeText = [&](const std::string& name, const std::string& text) {
        writeFile(source + "/" + name, Bytes(text.begin(), text.end()));
    };
    writeText("notes.txt", "not a raster\n");
    fs::create_directory(source + "/words");
    writeText("words/notes.txt", "not a raster\n");
    // 3e38 fits a float; twice it does not.
    writeText("sink.asc",
              "ncols 3\nnrows 3\nxllcorner 0\nyllcorner 0\ncellsize 30\n800 810 820\n"
              "830 3e38 850\n860 870 880\n");
    const auto vrtOf = [](const std::string& file) {
        return "<VRTDataset rasterXSize=\"300\" rasterYSize=\"200\"><VRTRasterBand "
               "dataType=\"Int16\" band=\"1\"><SimpleSource><SourceFilename relativeToVRT=\"1\">" +
               file +
               "</SourceFilename><SourceBand>1</SourceBand></SimpleSource></VRTRasterBand>"
               "</VRTDataset>";
    };
    writeText("far.vrt", vrtOf("../elsewhere.tif"));
    writeText("url.vrt", vrtOf("/vsicurl/http://127.0.0.1:9/a.tif"));
    struct Case {
        std::vector<std::string> arguments;  // after --window
        std::string part;                    // what the one line on standard error must name
    };
    const std::vector<Case> cases = {
        {{"notes.txt"}, "neither a terrain file nor an elevation raster: notes.txt"},
        {{"void.tif"}, "void.tif: it has no valid height"},
        {{"row.tif"}, "300 x 1"},
        {{"cut.tif"}, "cannot read cut.tif: "},
        {{"MEM:::"}, "connection strings are not read"},
        {{"far.vrt"}, "outside the VRT's folder"},
        {{"url.vrt"}, "is no plain file path"},
        {{"words"}, "cannot read words: the folder holds no ground.3dt and no raster GDAL reads"},
        {{"void.tif", "notes.txt"}, "cannot read notes.txt: not a raster GDAL reads here"},
        {{"--exaggeration", "2", "sink.asc"},
         "groundview: cannot walk over sink.asc: its heights reach 3e+38; times 2 that is "
         "6e+38, beyond what a float holds"},
    };
    const auto before = [&] {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(source)) {
            names.push_back(entry.path().filename());
        }
        std::sort(names.begin(), names.end());
        return names;
    };
    const std::vector<std::string> written = before();
    chmod(source.c_str(), 0555);
    for (const auto& [arguments, part] : cases) {
        const std::string& file = arguments.back();
        ChildOptions options = viewerOptions(":0", source);
        options.environment = {"DISPLAY=:99999"};  // a window would fail; none may be tried
        options.arguments = {"--window"};
        options.arguments.insert(options.arguments.end(), arguments.begin(), arguments.end());
        ChildProcess viewer(options);
        EXPECT_EQ(viewer.waitForExit(kExitTimeout), ExitStatus::withCode(64)) << file;
        const std::vector<std::string> lines = viewer.standardErrorLines();
        ASSERT_EQ(lines.size(), 1u) << file << "\n" << viewer.standardError();
        EXPECT_EQ(lines[0].rfind("groundview: ", 0), 0u) << lines[0];
        EXPECT_NE(lines[0].find(part), std::string::npos) << lines[0];
        EXPECT_EQ(viewer.standardOutput(), "") << file;
    }
    chmod(source.c_str(), 0755);
    EXPECT_EQ(before(), written) << "no .aux.xml, no errorlog.txt beside the sources";
    EXPECT_EQ(std::distance(fs::directory_iterator(source + "/words"), fs::directory_iterator()), 1)
        << "no errorlog.txt in a folder of no raster";
}

TEST(World, UsageErrorsEndWithSixtyFourBeforeAnyWindow) {
    TemporaryFolder folder;
    writeCheckerTerrain(folder.path());
    writeSummitRaster(folder.file("summit.tif"));
    struct Case {
        std::vector<std::string> arguments;
        std::string part;  // what the one line on standard error must name
    };
    const std::vector<Case> cases = {
        {{"--bogus"}, "--bogus"},
        {{"--exaggeration", "1e-300", "summit.tif"},
         "--exaggeration: expected a number from 0.001 to 100, not 1e-300"},
        {{"--exaggeration", "100.5", "summit.tif"},
         "--exaggeration: expected a number from 0.001 to 100, not 100.5"},
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
        {{"--at", "8,46", "summit.tif"},
         "--at: 8,46 is outside the data: longitude from 7.000000 to 7.250000 and latitude from "
         "46.033333 to 46.200000"},
        {{"--at-latlon", "46.1,7.2501", "summit.tif"},
         "--at-latlon: 46.1,7.2501 is outside the data: latitude from 46.033333 to 46.200000 and "
         "longitude from 7.000000 to 7.250000"},
        {{"--at", "7.1,46.1", "--at-latlon", "46.1,7.1", "summit.tif"},
         "--at excludes --at-latlon"},
        {{"--pitch", "-80.5", "summit.tif"},
         "--pitch: expected a number from -80 to 80, not -80.5"},
        {{"--pitch", "10", "ground.3dt"}, "--pitch is for elevation rasters"},
        {{"-geometry", "32767x32767"}, "-geometry takes sizes from 1 to 16384"},
        {{"--window", "-geometry", "=0x10+5+5"}, "-geometry"},
        {{"bad\x1b]0;name"}, "bad\\x1b]0;name: No such file"},
        {{"/vsicurl/http://127.0.0.1:9/a.tif"}, "a.tif: No such file"},
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

// The viewer, groundtool render and groundtool export given the same option over the same
// raster: the same verdict, and a refusal in the same words between each program's own name and
// its pointer to --help, with each program's usage status.
TEST(World, ElevationOptionsReadAlikeInEveryCommand) {
    TemporaryFolder folder;
    writeSummitRaster(folder.file("summit.tif"));
    struct Case {
        std::vector<std::string> option;
        bool exportTakesIt;
        std::string problem;  // empty: taken
    };
    const std::vector<Case> cases = {
        {{"--eye-height", "0.5"}, false, ""},
        {{"--eye-height", "0"},
         false,
         "--eye-height: expected a number above 0 and at most 1000000, not 0"},
        {{"--height-scale", "2"}, true, "--height-scale is for .3dt worlds"},
        {{"--detail", "101"}, false, "--detail: expected a number from 0 to 100, or auto, not 101"},
        {{"--detail", "auto"}, false, ""},
        {{"--detail", "0"}, false, ""},
        {{"--detail", "Auto"},
         false,
         "--detail: expected a number from 0 to 100, or auto, not Auto"},
        {{"--fog", "-1"}, false, "--fog: expected a density per metre, 0 or more, or off, not -1"},
        {{"--exaggeration", "0.0009"},
         true,
         "--exaggeration: expected a number from 0.001 to 100, not 0.0009"},
        {{"--pitch", "80"}, false, ""},
        {{"--pitch", "nan"}, false, "--pitch: expected a number from -80 to 80, not nan"},
        {{"--at-latlon", "46.1,7.1"}, false, ""},
        {{"--at", "7.25,46.2"}, false, ""},
        {{"--at", "7.2501,46.2"},
         false,
         "--at: 7.2501,46.2 is outside the data: longitude from 7.000000 to 7.250000 and latitude "
         "from 46.033333 to 46.200000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.option[0] + " " + c.option[1]);
        ChildOptions options = viewerOptions(":0", folder.path());
        options.environment = {"DISPLAY=:99999"};  // a taken option gets as far as the display
        options.arguments = c.option;
        options.arguments.push_back("summit.tif");
        ChildProcess viewer(options);
        const std::optional<ExitStatus> status = viewer.waitForExit(kExitTimeout);
        if (c.problem.empty()) {
            ASSERT_TRUE(status.has_value());
            EXPECT_FALSE(*status == ExitStatus::withCode(64)) << *status;
            EXPECT_EQ(viewer.standardError().find(c.option[0]), std::string::npos);
        } else {
            EXPECT_EQ(status, ExitStatus::withCode(64));
            EXPECT_EQ(viewer.standardError(),
                      "groundview: " + c.problem + "; see groundview --help\n");
        }
        std::vector<std::vector<std::string>> toolRuns = {{"render", "summit.tif", "--out",
                                                           "view.png", "--force", "--width", "32",
                                                           "--height", "24"}};
        if (c.exportTakesIt) {
            toolRuns.push_back({"export", "summit.tif", "--out", "hill.stl"});
        }
        for (const std::vector<std::string>& arguments : toolRuns) {
            ChildOptions tool;
            tool.arguments = arguments;
            tool.executable = GROUNDTOOL_EXECUTABLE;
            tool.workingFolder = folder.path();
            tool.arguments.insert(tool.arguments.end(), c.option.begin(), c.option.end());
            ChildProcess run(tool);
            const std::optional<ExitStatus> toolStatus = run.waitForExit(kStartTimeout);
            EXPECT_EQ(toolStatus, ExitStatus::withCode(c.problem.empty() ? 0 : 2))
                << tool.arguments[0] << ": " << run.standardError();
            if (!c.problem.empty()) {
                EXPECT_EQ(
                    run.standardError().rfind("groundtool: " + c.problem + " (see groundtool", 0),
                    0u)
                    << run.standardError();
            }
        }
    }
}

// Which kinds of world each command takes each view option for, read from every command line:
// taken, refused in the same words for the other kind ("--fog is for elevation rasters"), or no
// option of that command at all.
TEST(World, EachViewOptionIsTakenForTheSameKindsOfWorldInEveryCommand) {
    TemporaryFolder folder;
    writeCheckerTerrain(folder.path());
    writeSummitRaster(folder.file("summit.tif"));
    // Per world (ground.3dt, summit.tif) of the viewer, render and export: o taken, r "is for
    // elevation rasters", c "is for .3dt worlds", x not an option of the command.
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--exaggeration", "2"}, "rorooo"}, {{"--eye-height", "5"}, "roroxx"},
        {{"--detail", "2"}, "roroxx"},       {{"--fog", "off"}, "roroxx"},
        {{"--at", "7.1,46.1"}, "roroxx"},    {{"--at-latlon", "46.1,7.1"}, "roroxx"},
        {{"--heading", "30"}, "roooxx"},     {{"--pitch", "5"}, "roroxx"},
        {{"--height-scale", "2"}, "ocococ"}, {{"--eye", "0,-5"}, "xxocxx"},
    };
    const std::vector<std::vector<std::string>> commands = {
        {},
        {"render", "--out", "view.png", "--force", "--width", "32", "--height", "24"},
        {"export", "--out", "hill.stl", "--force"}};
    for (const auto& [option, verdicts] : cases) {
        for (std::size_t run = 0; run < verdicts.size(); ++run) {
            const std::vector<std::string>& command = commands[run / 2];
            const std::string world = run % 2 == 0 ? "ground.3dt" : "summit.tif";
            SCOPED_TRACE(option[0] + " " + (command.empty() ? "viewer" : command[0]) + " " + world);
            const bool viewer = command.empty();
            ChildOptions child = viewer ? viewerOptions(":0", folder.path()) : ChildOptions{};
            if (viewer) {
                child.environment = {"DISPLAY=:99999"};  // a taken option gets as far as that
            } else {
                child.executable = GROUNDTOOL_EXECUTABLE;
                child.workingFolder = folder.path();
                child.arguments = command;
            }
            child.arguments.insert(child.arguments.end(), option.begin(), option.end());
            child.arguments.insert(child.arguments.begin() + (viewer ? 0 : 1), world);
            ChildProcess process(child);
            const std::optional<ExitStatus> status = process.waitForExit(kStartTimeout);
            ASSERT_TRUE(status.has_value());
            const ExitStatus usage = ExitStatus::withCode(viewer ? 64 : 2);
            const std::string said = process.standardError();
            const char verdict = verdicts[run];
            EXPECT_EQ(*status == usage, verdict != 'o') << said;
            if (verdict == 'r' || verdict == 'c') {
                const std::string problem =
                    option[0] + " is for " + (verdict == 'r' ? "elevation rasters" : ".3dt worlds");
                EXPECT_EQ(said.rfind(viewer ? "groundview: " + problem + "; see groundview --help"
                                            : "groundtool: " + problem + " (see groundtool",
                                     0),
                          0u)
                    << said;
            } else if (verdict == 'x') {
                EXPECT_EQ(said.find(" is for "), std::string::npos) << said;
                EXPECT_NE(said.find(option[0]), std::string::npos) << said;
            }
        }
    }
}

// Each command takes a world for the same kind: a terrain file by its name or magic, whether its
// loader then accepts it or not, and anything else for a raster, whether it reads as one or not.
TEST(World, EveryCommandTakesAWorldForTheSameKind) {
    TemporaryFolder folder;
    writeCheckerTerrain(folder.path());
    writeSummitRaster(folder.file("summit.tif"));
    writeFile(folder.file("broken.3dt"), Bytes{'3', 'd', 1, 2, 2, 1, 1, 1});
    writeFile(folder.file("notes.txt"), Bytes{'n', 'o'});
    const std::vector<std::vector<std::string>> commands = {
        {"info"},
        {"render", "--out", "view.png", "--width", "32", "--height", "24", "--force"},
        {"export", "--out", "hill.stl", "--force"},
        {"import", "--out", "imported", "--force"}};
    const std::string notARaster = ": not a raster GDAL reads";
    const std::string terrainFile = ": it is a terrain file already";
    struct Case {
        std::string world;
        bool classic;
        std::vector<std::string> said;  // by each of the commands, in their order
    };
    const std::vector<Case> cases = {
        {"ground.3dt",
         true,
         {"file        ground.3dt (", "eye at x 0 z 0", "wrote hill.stl: ", terrainFile}},
        {"summit.tif",
         false,
         {"summit.tif, an elevation raster", "an elevation raster as the viewer shows it",
          "wrote hill.stl: ", "wrote imported/ground.3dt: "}},
        {"broken.3dt",
         true,
         {"errorlog.txt: not a 3d thing", "render broken.3dt: the viewer rejects it (not a 3d",
          "export broken.3dt: the viewer rejects it (not a 3d thing)", terrainFile}},
        {"notes.txt", false, {notARaster, notARaster, notARaster, notARaster}},
    };
    for (const Case& c : cases) {
        for (std::size_t i = 0; i < commands.size(); ++i) {
            ChildOptions tool;
            tool.executable = GROUNDTOOL_EXECUTABLE;
            tool.workingFolder = folder.path();
            tool.arguments = commands[i];
            tool.arguments.insert(tool.arguments.begin() + 1, c.world);
            ChildProcess run(tool);
            EXPECT_TRUE(run.waitForExit(kStartTimeout).has_value());
            const std::string said = run.standardOutput() + run.standardError();
            EXPECT_NE(said.find(c.said[i]), std::string::npos)
                << c.world << ", " << commands[i][0] << ": " << said;
        }
        ChildOptions options = viewerOptions(":0", folder.path());
        options.environment = {"DISPLAY=:99999"};  // a classic world gets as far as the display
        options.arguments = {"--height-scale", "1", c.world};
        ChildProcess viewer(options);
        const std::optional<ExitStatus> status = viewer.waitForExit(kExitTimeout);
        ASSERT_TRUE(status.has_value()) << c.world;
        EXPECT_EQ(*status == ExitStatus::withCode(64), !c.classic) << c.world;
        EXPECT_EQ(
            viewer.standardError().find("--height-scale is for .3dt worlds") != std::string::npos,
            !c.classic)
            << c.world << ": " << viewer.standardError();
    }
}

// The title of the window id, as the server holds it.
std::string windowName(const XScreen& screen, unsigned long id) {
    char* name = nullptr;
    XFetchName(screen.display(), id, &name);
    const std::string title = name != nullptr ? name : "";
    XFree(name);
    return title;
}

// The viewer started in folder with arguments and environment, once the screen is empty.
std::unique_ptr<ChildProcess> launchInWindow(const XScreen& screen, const std::string& folder,
                                             const std::vector<std::string>& arguments,
                                             const std::vector<std::string>& environment) {
    waitForEmptyScreen(screen, xorgDisplay());
    ChildOptions options = viewerOptions(xorgDisplay(), folder);
    options.arguments = arguments;
    options.environment.insert(options.environment.end(), environment.begin(), environment.end());
    return std::make_unique<ChildProcess>(options);
}

// The viewer's window once mapped, moved whole onto the screen and given the keys, as a window
// manager would; nothing when none is mapped in time.
std::optional<WindowGeometry> focusedWindow(const XScreen& screen) {
    std::optional<WindowGeometry> window = waitForMappedWindow(screen, kStartTimeout);
    if (window) {
        XMoveWindow(screen.display(), window->id, 0, 0);
        XSetInputFocus(screen.display(), window->id, RevertToPointerRoot, CurrentTime);
        XSync(screen.display(), False);
        window->x = window->y = 0;
    }
    return window;
}

}  // namespace

// A read that makes no progress opens the window after a second, its title saying what is being
// read, and after ten seconds ends with the stall's one line and status 64, the window gone.
TEST(World, AStalledReadShowsWhatItReadsThenEndsWithSixtyFour) {
    TemporaryFolder folder;
    writeSummitRaster(folder.file("summit.tif"));
    ASSERT_EQ(mkfifo(folder.file("summit.tif.ovr").c_str(), 0600), 0);
    XScreen screen(xorgDisplay());
    waitForEmptyScreen(screen, xorgDisplay());
    ChildOptions options = viewerOptions(xorgDisplay(), folder.path());
    options.arguments = {"--window=320x240", "summit.tif"};
    // Landlock grants the reader no FIFO at all, so GDAL passes the overview over; without it
    // GDAL opens the FIFO and waits for a writer that never comes.
    options.environment.push_back("GROUNDVIEW_LANDLOCK_ABI=0");
    const auto viewer = std::make_unique<ChildProcess>(options);
    const std::optional<WindowGeometry> window = waitForMappedWindow(screen, kStartTimeout);
    ASSERT_TRUE(window) << viewer->standardError();
    EXPECT_EQ(windowName(screen, window->id), "groundview \u2014 reading summit.tif");
    EXPECT_EQ(viewer->waitForExit(kHangGuard + std::chrono::seconds(10)), ExitStatus::withCode(64));
    const std::vector<std::string> said = viewer->standardErrorLines();
    ASSERT_FALSE(said.empty());
    EXPECT_EQ(said.back(),
              "groundview: reading summit.tif stalled (a FIFO or a device in its way?)");
}

// A source whose pyramid takes seconds to build (24000 x 24000 samples in tiles of 16 x 16, none
// written, so that it is made at once, read slowly and all 0 m high) opens the window at once
// with the build's progress bar, its title saying how far; Esc, or closing the window, ends the
// viewer with status 0 and one line, the cache left without a pyramid.
TEST(World, APyramidBuildShowsItsProgressAndEscOrClosingCancelsIt) {
    const Pixel kBarFill{70, 150, 230};
    TemporaryFolder folder;
    raster::useGdal();
    const char* tiled[] = {"TILED=YES", "BLOCKXSIZE=16", "BLOCKYSIZE=16", "SPARSE_OK=TRUE",
                           nullptr};
    GDALDatasetH file = GDALCreate(GDALGetDriverByName("GTiff"), folder.file("huge.tif").c_str(),
                                   24000, 24000, 1, GDT_Int16, const_cast<char**>(tiled));
    ASSERT_NE(file, nullptr);
    double placement[6] = {500000, 30, 0, 5100000, 0, -30};
    GDALSetGeoTransform(file, placement);
    GDALClose(file);
    XScreen screen(xorgDisplay());
    for (const bool byClosing : {false, true}) {
        SCOPED_TRACE(byClosing ? "the window closed" : "Esc");
        const auto viewer = launchInWindow(screen, folder.path(), {"--window=640x480", "huge.tif"},
                                           {"XDG_CACHE_HOME=" + folder.file("cache")});
        std::optional<WindowGeometry> window = focusedWindow(screen);
        ASSERT_TRUE(window) << viewer->standardError();
        const auto hasBar = [&](const Picture& p) {
            return p.count(0, 0, window->width, window->height,
                           [&](Pixel pixel) { return pixel == kBarFill; }) > 0;
        };
        const Picture shown = waitForPicture(screen, hasBar, kStartTimeout);
        EXPECT_TRUE(hasBar(shown)) << "see " << keepForInspection(shown, "pyramid-progress");
        EXPECT_EQ(windowName(screen, window->id)
                      .rfind("groundview \u2014 building the pyramid of huge.tif: ", 0),
                  0u)
            << windowName(screen, window->id);
        if (byClosing) {
            // As a window manager asks a window to close.
            XEvent close{};
            close.xclient.type = ClientMessage;
            close.xclient.window = window->id;
            close.xclient.message_type = XInternAtom(screen.display(), "WM_PROTOCOLS", False);
            close.xclient.format = 32;
            close.xclient.data.l[0] =
                static_cast<long>(XInternAtom(screen.display(), "WM_DELETE_WINDOW", False));
            XSendEvent(screen.display(), window->id, False, NoEventMask, &close);
            XSync(screen.display(), False);
        } else {
            EXPECT_TRUE(screen.tapKey(XK_Escape));
        }
        EXPECT_EQ(viewer->waitForExit(kExitTimeout), ExitStatus::withCode(0));
        const std::vector<std::string> said = viewer->standardErrorLines();
        ASSERT_FALSE(said.empty());
        EXPECT_EQ(said.front(), "groundview: reading huge.tif, 24000 x 24000 samples");
        EXPECT_EQ(said.back(), "groundview: cancelled");
        const fs::path cache = folder.file("cache/groundview");
        EXPECT_TRUE(!fs::exists(cache) || fs::is_empty(cache));
    }
}

// A source streamed above 64 samples a side is told in the same sentence by the viewer and by
// groundtool info; in a window 400 pixels wide the readout is broken into lines that all fit.
TEST(World, NotesAndInfoTellAStreamedSourceAlikeAndTheReadoutFitsANarrowWindow) {
    const Pixel kText{242, 242, 242};
    constexpr int kReadoutRows = 120;
    TemporaryFolder folder;
    writeSummitRaster(folder.file("summit.tif"));
    const std::vector<std::string> streamed = {"GROUNDVIEW_STREAM_ABOVE=64",
                                               "XDG_CACHE_HOME=" + folder.file("cache")};
    const std::string note =
        "groundview: streamed at full resolution, 300 x 200 samples, first shown from 38 x 25";
    XScreen screen(xorgDisplay());
    const auto viewer =
        launchInWindow(screen, folder.path(), {"--window=400x300", "summit.tif"}, streamed);
    std::optional<WindowGeometry> window = focusedWindow(screen);
    ASSERT_TRUE(window) << viewer->standardError();
    const int right = window->width - 8;  // the readout's left margin, kept on the right too
    const auto text = [&](const Picture& p, int from, int to) {
        return p.count(from, 0, to, kReadoutRows, [&](Pixel pixel) { return pixel == kText; });
    };
    const Picture shown = waitForPicture(
        screen, [&](const Picture& p) { return text(p, 0, right) > 0; }, kStartTimeout);
    EXPECT_GT(text(shown, 0, right), 0);
    EXPECT_EQ(text(shown, right, window->width), 0)
        << "see " << keepForInspection(shown, "narrow-readout");
    EXPECT_TRUE(screen.tapKey(XK_Escape));
    EXPECT_EQ(viewer->waitForExit(kExitTimeout), ExitStatus::withCode(0));
    std::vector<std::string> said = viewer->standardErrorLines();
    const std::string progress = "groundview: building the pyramid of summit.tif: ";
    said.erase(
        std::remove_if(said.begin(), said.end(),
                       [&](const std::string& line) { return line.rfind(progress, 0) == 0; }),
        said.end());
    EXPECT_EQ(said, std::vector<std::string>{note});

    ChildOptions tool;
    tool.executable = GROUNDTOOL_EXECUTABLE;
    tool.workingFolder = folder.path();
    tool.arguments = {"info", "summit.tif"};
    tool.environment = streamed;
    ChildProcess info(tool);
    EXPECT_EQ(info.waitForExit(kExitTimeout), ExitStatus::withCode(0)) << info.standardError();
    const std::string report = info.standardOutput();
    EXPECT_NE(report.find("\n  " + note + "\n"), std::string::npos) << report;
}
