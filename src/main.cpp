// groundview: walks a camera over a height-field terrain, full screen or in a window.
// The GLUT side of the viewer: the global objects, start-up and the callbacks, each a thin
// translation of a GLUT event into a call on the subsystem that owns the work.

#include <GL/freeglut.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app.h"
#include "camera.h"
#include "command_line.h"
#include "diag.h"
#include "elevation_frame.h"
#include "elevation_keys.h"
#include "elevation_pointer.h"
#include "elevation_world.h"
#include "mosaic.h"
#include "open_world.h"
#include "pick.h"
#include "printable.h"
#include "progress_line.h"
#include "raster_error.h"
#include "terrain.h"
#include "where.h"

Terrain terrain;
Camera camera = app::startCamera();

void initGraphics(int argc, char** argv, const std::string& title);

namespace {

app::ViewerOptions options;

// Elevation mode's source, opened in its reader and read before any window or X connection
// exists; its ground and walker once the window shows.
struct ElevationView {
    std::unique_ptr<raster::ElevationSource> source;
    raster::ElevationWorld world;
    std::unique_ptr<DrawnGround> ground;
    AutoDetail detail;  // the ground's pixel error, frame to frame
    std::unique_ptr<Walker> walker;
    ElevationToggles toggles;
    ElevationPointer pointer;
    std::optional<raster::Pick> pick;  // the readout's second line while there is one
    // Streamed ground: the source's own height where the readout last read it.
    std::optional<Point3> readoutAt;
    raster::FullResolutionGround readout;
};
std::unique_ptr<ElevationView> elevation;

// The readout lines' place: pixels from the window's top-left corner to the first baseline, and
// from one baseline to the next; light text on a dark translucent band, legible over any ground
// and the sky.
constexpr int kReadoutLeft = 8;
constexpr int kReadoutBaseline = 20;
constexpr int kReadoutLineSpacing = 20;
constexpr int kReadoutMargin = 5;   // pixels of band around the text
constexpr int kReadoutAscent = 10;  // Helvetica 12 above and below its baseline
constexpr int kReadoutDescent = 4;
constexpr double kReadoutText[3] = {0.95, 0.95, 0.95};
constexpr double kReadoutBand[4] = {0.0, 0.0, 0.0, 0.6};

// Frames come from one self re-arming timer; further display events reload but start no second
// chain.
bool frameChainRunning = false;

// Sources up to this many samples are read in well under a second, without a word.
constexpr long long kQuietReadSamples = 4'000'000;
// A read taking longer opens the window meanwhile; a few events let it show its title.
constexpr std::chrono::milliseconds kSlowReadAfter{1000};
constexpr int kEventsToShowAWindow = 4;

// GLUT's own arguments, kept for glutInit.
std::vector<char*> glutArgv;
bool windowOpen = false;

// "groundview", or in elevation mode "groundview — dem.tif", "groundview — reading dem.tif",
// "groundview — tiles" for a folder.
std::string windowTitle(bool reading) {
    if (!elevation) {
        return "groundview";
    }
    return std::string("groundview \u2014 ") + (reading ? "reading " : "") +
           world::nameOf(raster::shownName(options.rasters));
}

void openWindow(const std::string& title) {
    initGraphics(static_cast<int>(glutArgv.size()) - 1, glutArgv.data(), title);
    windowOpen = true;
}

void drawReadout(const std::vector<std::string>& lines, int width, int height) {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluOrtho2D(0.0, width, 0.0, height);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_FOG);
    glDisable(GL_TEXTURE_2D);
    int baseline = height - kReadoutBaseline;
    for (const std::string& text : lines) {
        const auto* line = reinterpret_cast<const unsigned char*>(text.c_str());
        const int textWidth = glutBitmapLength(GLUT_BITMAP_HELVETICA_12, line);
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        glColor4dv(kReadoutBand);
        glRecti(kReadoutLeft - kReadoutMargin, baseline - kReadoutDescent - kReadoutMargin,
                kReadoutLeft + textWidth + kReadoutMargin,
                baseline + kReadoutAscent + kReadoutMargin);
        glDisable(GL_BLEND);
        glColor3dv(kReadoutText);
        glRasterPos2i(kReadoutLeft, baseline);
        glutBitmapString(GLUT_BITMAP_HELVETICA_12, line);
        baseline -= kReadoutLineSpacing;
    }
}

// For streamed ground, the source's own height under the walker, read again only when the walker
// has moved; nothing for ground read whole, whose field is the source's.
const raster::FullResolutionGround* streamedGroundUnderWalker() {
    if (!elevation->world.stream) {
        return nullptr;
    }
    const Walker& walker = *elevation->walker;
    if (!elevation->readoutAt || elevation->readoutAt->x != walker.x() ||
        elevation->readoutAt->z != walker.z()) {
        const ChunkRecipe& recipe = elevation->world.stream->recipe;
        elevation->readoutAt = Point3{walker.x(), 0.0, walker.z()};
        elevation->readout.cellEast = recipe.layout.cellEast();
        elevation->readout.cellSouth = recipe.layout.cellSouth();
        try {
            elevation->readout.metres = sourceHeightAt(recipe, walker.x(), walker.z());
        } catch (const raster::RasterError& error) {
            logError(error.what());
            elevation->readout.metres.reset();
        }
    }
    return &elevation->readout;
}

void drawElevation() {
    ElevationFrameOptions frame;
    frame.width = glutGet(GLUT_WINDOW_WIDTH);
    frame.height = glutGet(GLUT_WINDOW_HEIGHT);
    frame.detail = options.detail;
    frame.wireframe = elevation->toggles.wireframe;
    frame.fog = options.fog;
    const ElevationFrame drawn =
        drawElevationFrame(*elevation->ground, *elevation->walker, frame, &elevation->detail);
    if (elevation->toggles.readout) {
        const raster::SourcePlacement& placement = elevation->world.grid.placement;
        const raster::FullResolutionGround* full = streamedGroundUnderWalker();
        std::vector<std::string> lines = {raster::whereText(*elevation->walker, placement,
                                                            elevation->world.exaggeration,
                                                            drawn.detailPixels, full)};
        if (elevation->pick) {
            lines.push_back(raster::pickText(*elevation->pick, *elevation->walker, placement,
                                             elevation->world.exaggeration));
        }
        drawReadout(lines, frame.width, frame.height);
    }
}

void onFrameTimer(int /*value*/) {
    checkGLError(true);
    if (elevation) {
        drawElevation();
    } else {
        app::drawFrame(camera, terrain, options.heightScale);
    }
    glutSwapBuffers();
    glutTimerFunc(app::kFramePeriodMs, onFrameTimer, 0);
}

void onDisplay() {
    if (elevation) {
        if (!elevation->walker) {
            return;  // still reading
        }
        if (!elevation->ground) {
            elevation->ground = raster::groundOf(elevation->world);
        }
    } else {
        terrain.load(options.terrainPath);
    }
    if (!frameChainRunning) {
        frameChainRunning = true;
        glutTimerFunc(app::kFirstFrameDelayMs, onFrameTimer, 0);
    }
}

// Leaving game mode restores the screen mode; freeglut then owns the rest of the clean-up at exit.
void closeWindow() {
    elevation.reset();  // its texture and arrays go while their context is still current
    if (glutGameModeGet(GLUT_GAME_MODE_ACTIVE)) {
        glutLeaveGameMode();
    } else if (glutGetWindow() != 0) {
        glutDestroyWindow(glutGetWindow());
    }
}

void quit() {
    closeWindow();
    std::exit(0);
}

void onKeyboard(unsigned char key, int /*x*/, int /*y*/) {
    const app::KeyResult result =
        elevation ? handleElevationKey(*elevation->walker, elevation->toggles, key)
                  : app::handleKey(camera, key);
    if (result == app::KeyResult::Quit) {
        quit();
    }
}

// Arrows walk and turn, the page keys pitch the view; classic worlds ignore them.
void onSpecialKey(int key, int /*x*/, int /*y*/) {
    if (!elevation) {
        return;
    }
    ArrowKey arrow = ArrowKey::up;
    switch (key) {
        case GLUT_KEY_UP:
            break;
        case GLUT_KEY_DOWN:
            arrow = ArrowKey::down;
            break;
        case GLUT_KEY_LEFT:
            arrow = ArrowKey::left;
            break;
        case GLUT_KEY_RIGHT:
            arrow = ArrowKey::right;
            break;
        case GLUT_KEY_PAGE_UP:
            arrow = ArrowKey::pageUp;
            break;
        case GLUT_KEY_PAGE_DOWN:
            arrow = ArrowKey::pageDown;
            break;
        default:
            return;
    }
    const bool shift = (glutGetModifiers() & GLUT_ACTIVE_SHIFT) != 0;
    handleElevationArrow(*elevation->walker, elevation->toggles, arrow, shift);
}

// The ground under the window's pixel (x, y): the readout's second line, and one line on
// standard output for scripts, flushed at once. Over the sky there is nothing to pick.
void pickUnder(int x, int y) {
    const raster::SourcePlacement& placement = elevation->world.grid.placement;
    elevation->pick = raster::pickAt(*elevation->walker, placement, glutGet(GLUT_WINDOW_WIDTH),
                                     glutGet(GLUT_WINDOW_HEIGHT), x + 0.5, y + 0.5);
    if (elevation->pick && elevation->world.stream) {
        // Found on the walker's thinner field; its height is the source's own.
        raster::Pick& pick = *elevation->pick;
        try {
            const std::optional<double> metres =
                sourceHeightAt(elevation->world.stream->recipe, pick.point.x, pick.point.z);
            pick.kind = metres ? SampleKind::data : SampleKind::missing;
            if (metres) {
                pick.point.y = *metres * elevation->world.exaggeration;
            }
        } catch (const raster::RasterError& error) {
            logError(error.what());
        }
    }
    if (elevation->pick) {
        std::cout << raster::pickLine(*elevation->pick, *elevation->walker, placement,
                                      elevation->world.exaggeration)
                  << std::endl;
    }
}

void onMouse(int button, int state, int x, int y) {
    if (!elevation) {
        return;
    }
    // freeglut reports the wheel as buttons 3 (away from the user) and 4.
    constexpr int kWheelUp = 3, kWheelDown = 4;
    PointerButton which = PointerButton::left;
    switch (button) {
        case GLUT_LEFT_BUTTON:
            break;
        case GLUT_MIDDLE_BUTTON:
            which = PointerButton::middle;
            break;
        case GLUT_RIGHT_BUTTON:
            which = PointerButton::right;
            break;
        case kWheelUp:
            which = PointerButton::wheelUp;
            break;
        case kWheelDown:
            which = PointerButton::wheelDown;
            break;
        default:
            return;
    }
    const PointerAction action =
        state == GLUT_DOWN
            ? elevation->pointer.press(*elevation->walker, which,
                                       (glutGetModifiers() & GLUT_ACTIVE_SHIFT) != 0, x, y,
                                       glutGet(GLUT_WINDOW_WIDTH), glutGet(GLUT_WINDOW_HEIGHT))
            : elevation->pointer.release(which);
    if (action == PointerAction::pick) {
        pickUnder(x, y);
    } else if (action == PointerAction::clearPick) {
        elevation->pick.reset();
    }
}

void onMotion(int x, int y) {
    if (elevation) {
        elevation->pointer.drag(*elevation->walker, x, y, glutGet(GLUT_WINDOW_HEIGHT));
    }
}

// Without the video-mode extension (Xvfb, many remote desktops) game mode can't be entered; an
// ordinary window made full screen shows the same picture.
void enterFullScreen(const std::string& title) {
    if (glutEnterGameMode() != 0 && glutGetWindow() != 0) {
        return;
    }
    std::cerr << "groundview: game mode unavailable; using a full-screen window" << std::endl;
    glutCreateWindow(title.c_str());
    glutFullScreen();
}

// GLUT's -geometry may ask for more than this OpenGL can draw into.
void holdWindowToViewportLimit() {
    GLint limit[2] = {0, 0};
    glGetIntegerv(GL_MAX_VIEWPORT_DIMS, limit);
    const int width = glutGet(GLUT_WINDOW_WIDTH);
    const int height = glutGet(GLUT_WINDOW_HEIGHT);
    if (limit[0] > 0 && limit[1] > 0 && (width > limit[0] || height > limit[1])) {
        glutReshapeWindow(std::min(width, static_cast<int>(limit[0])),
                          std::min(height, static_cast<int>(limit[1])));
    }
}

// Opens an elevation raster in its jailed reader before any window or X connection exists (a slow
// one opens the window meanwhile, once the reader is walled);
// false, with one line said, when it can't be walked over.
bool openElevationSource() {
    elevation = std::make_unique<ElevationView>();
    raster::whenReadingIsSlow(
        [] {
            openWindow(windowTitle(true));
            for (int event = 0; event < kEventsToShowAWindow; ++event) {
                glutMainLoopEvent();
            }
        },
        kSlowReadAfter);
    try {
        // Empty when the file has turned into a terrain file since the command line was read.
        elevation->source = openWorld(options.rasters).raster;
    } catch (const raster::NoRaster& error) {
        std::cerr << "groundview: " << printable(error.what()) << "; see groundview --help"
                  << std::endl;
        return false;
    } catch (const WorldsRefused& error) {
        std::cerr << "groundview: " << printable(error.what()) << "; see groundview --help"
                  << std::endl;
        return false;
    } catch (const raster::NotARaster& error) {
        // Of several tiles, the reader's line names the one that is no raster; of one file, the
        // line below says so, as for a file that is no raster at all.
        if (options.rasters.size() > 1) {
            std::cerr << "groundview: " << printable(error.what()) << std::endl;
            return false;
        }
    } catch (const raster::RasterError& error) {
        std::cerr << "groundview: " << printable(error.what()) << std::endl;
        return false;
    }
    if (!elevation->source) {
        std::cerr << "groundview: neither a terrain file nor an elevation raster: "
                  << raster::shownName(options.rasters) << std::endl;
        return false;
    }
    return true;
}

// Reads the opened raster's heights and texture before any window, so that a source that can't
// be used is refused without one; false, with one line said, when that fails. A large source
// says first what is being read. (An open or read that takes longer than a second opens the
// window meanwhile, its title saying what is being read.)
bool readElevationWorld() {
    const raster::SourceFacts& facts = elevation->source->facts();
    if (static_cast<long long>(facts.width) * facts.height > kQuietReadSamples) {
        std::cerr << "groundview: reading " << elevation->source->shown() << ", " << facts.width
                  << " x " << facts.height << " samples" << std::endl;
    }
    try {
        // A large source without overviews gets its pyramid first: progress on standard error
        // and, once the window is open, in its title.
        ProgressLine line(
            std::cerr, isatty(STDERR_FILENO) == 1,
            "groundview: building the pyramid of " + elevation->source->shown() + ": ");
        const auto progress = [&line](double share) {
            if (line.show(share) && windowOpen) {
                glutSetWindowTitle(
                    ("groundview \u2014 " + line.text().substr(std::string("groundview: ").size()))
                        .c_str());
                glutMainLoopEvent();
            }
        };
        elevation->world =
            raster::loadElevationWorld(*elevation->source, options.exaggeration, progress);
        if (windowOpen) {
            glutSetWindowTitle(windowTitle(false).c_str());
        }
    } catch (const raster::RasterError& error) {
        std::cerr << "groundview: " << printable(error.what()) << std::endl;
        return false;
    }
    if (!elevation->world.stream) {
        elevation->source.reset();  // the reader ends: everything is read
    }
    if (!elevation->world.grid.note.empty()) {
        std::cerr << "groundview: " << printable(elevation->world.grid.note) << std::endl;
    }
    elevation->walker = std::make_unique<Walker>(elevation->world.grid.field);
    if (options.eyeHeight > 0.0) {
        elevation->walker->setEyeHeight(options.eyeHeight);
    }
    if (const std::string problem =
            raster::placeWalker(*elevation->walker, elevation->world.grid.placement, options.start);
        !problem.empty()) {
        std::cerr << "groundview: " << problem << "; see groundview --help" << std::endl;
        return false;
    }
    return true;
}

}  // namespace

void initGraphics(int argc, char** argv, const std::string& title) {
    if (options.window) {
        // Before glutInit, so that GLUT's own -geometry, read there, has the last word.
        glutInitWindowSize(options.windowWidth, options.windowHeight);
    }
    glutInit(&argc, argv);
    // Elevation mode draws real relief, where ground hides ground: it needs a depth buffer.
    glutInitDisplayMode(elevation ? GLUT_DOUBLE | GLUT_DEPTH : GLUT_DOUBLE);
    if (options.window) {
        // freeglut's default reshape makes the viewport the whole window, as for the screen.
        glutCreateWindow(title.c_str());
    } else {
        enterFullScreen(title);
    }
    holdWindowToViewportLimit();
    glutDisplayFunc(onDisplay);
    app::setFixedState();
    glutSetCursor(GLUT_CURSOR_CROSSHAIR);
    app::enableFixedFeatures();
}

int main(int argc, char** argv) {
    // Before the X connection is opened, so it can't become descriptor 2.
    openMissingStandardDescriptors();
    const app::ParsedCommandLine parsed = app::parseCommandLine(argc, argv, std::cout, std::cerr);
    if (!parsed.run) {
        return parsed.status;
    }
    options = parsed.options;
    for (std::string& word : options.glutArguments) {
        glutArgv.push_back(word.data());
    }
    glutArgv.push_back(nullptr);
    if (options.elevation) {
        // Nothing is written beside the data or into the working folder.
        setStateErrorLog(stateLogFolder(std::getenv("XDG_STATE_HOME"), std::getenv("HOME")));
        if (!openElevationSource() || !readElevationWorld()) {
            if (windowOpen) {
                closeWindow();
            }
            return app::kUsageStatus;
        }
    } else {
        setErrorLogFolder(options.worldFolder);
    }

    if (windowOpen) {
        glutSetWindowTitle(windowTitle(false).c_str());
    } else {
        openWindow(windowTitle(false));
    }
    glutKeyboardFunc(onKeyboard);
    glutSpecialFunc(onSpecialKey);
    glutMouseFunc(onMouse);
    glutMotionFunc(onMotion);
    glutMainLoop();
    return 0;
}
