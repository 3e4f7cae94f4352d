// groundview: walks a camera over a height-field terrain, full screen or in a window.
// The GLUT side of the viewer: the window, its title, the readout's lines and the callbacks, each
// a thin translation of a GLUT event into a call on what the window shows, a classic world or an
// elevation scene.

#include <GL/freeglut.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "camera.h"
#include "command_line.h"
#include "diag.h"
#include "elevation_scene.h"
#include "mosaic.h"
#include "open_world.h"
#include "printable.h"
#include "progress_line.h"
#include "raster_error.h"

namespace {

// Sources up to this many samples are read in well under a second, without a word; a larger one
// opens the window at once, which shows what is being read, and how far it is, until it is read.
constexpr long long kQuietReadSamples = 4'000'000;
// A smaller read taking longer opens the window meanwhile.
constexpr std::chrono::milliseconds kSlowReadAfter{1000};
// The window shows once the server has exposed it; events are taken until then, or this long.
constexpr std::chrono::milliseconds kShowAWindowWithin{2000};
// While a pyramid is built, the progress bar is drawn again and the window's events taken at
// most this often.
constexpr std::chrono::milliseconds kRedrawPeriod{100};
// The status of a viewer the user cancelled while it read: nothing went wrong.
constexpr int kCancelledStatus = 0;

// Esc, or closing the window, while the scene is read cancels the reading.
constexpr unsigned char kEscape = 27;
constexpr const char* kCancelHint = "Esc cancels";

// The progress bar, pixels: its height and its margin from the window's sides; the lines above and
// below it, from its middle to their baselines. Light text and a blue bar on slate.
constexpr int kBarHeight = 16, kBarMargin = 24, kAboveBar = 22, kBelowBar = 28;
constexpr double kWorkBackground[3] = {0.13, 0.15, 0.18};
constexpr unsigned char kBarFrame[3] = {200, 200, 200};
constexpr unsigned char kBarFill[3] = {70, 150, 230};

// The readout lines' place, pixels: from the window's top-left corner to the first baseline and
// from one baseline to the next, the band round the text, Helvetica 12 above and below its
// baseline. Light text on a dark translucent band is legible over any ground and the sky.
constexpr int kReadoutLeft = 8, kReadoutBaseline = 20, kReadoutLineSpacing = 20;
constexpr int kReadoutMargin = 5, kReadoutAscent = 10, kReadoutDescent = 4;
constexpr double kReadoutText[3] = {0.95, 0.95, 0.95};
constexpr double kReadoutBand[4] = {0.0, 0.0, 0.0, 0.6};

// The window's state, where GLUT's callbacks, which carry no data of their own, find it.
struct Window {
    app::ViewerOptions options;
    std::vector<char*> glutArgv;  // the program name and GLUT's own options, for glutInit
    bool open = false;
    bool frameChainRunning = false;  // one self re-arming timer, however many display events
    bool exposed = false;            // the server has shown the window
    Terrain terrain;                 // a classic world
    Camera camera = app::startCamera();
    std::unique_ptr<ElevationScene> scene;  // or an elevation scene, once it is read
    // While the scene is read: what is being done ("building the pyramid of dem.tif"), how far
    // ("42 %, about 40 s left", empty while unknown), the share done (0 to 1, below 0 while
    // unknown), and whether the user has cancelled it with Esc or by closing the window.
    bool working = false;
    std::string work;
    std::string progress;
    double share = -1.0;
    bool cancelled = false;
    std::chrono::steady_clock::time_point drawnAt;
};
Window window;

int width() {
    return glutGet(GLUT_WINDOW_WIDTH);
}
int height() {
    return glutGet(GLUT_WINDOW_HEIGHT);
}

// "groundview", or in elevation mode "groundview — dem.tif", "groundview — reading dem.tif",
// "groundview — tiles" for a folder.
std::string windowTitle(bool reading) {
    if (!window.options.elevation) {
        return "groundview";
    }
    return std::string("groundview \u2014 ") + (reading ? "reading " : "") +
           world::nameOf(raster::shownName(window.options.rasters));
}

// The width in pixels of text in the readout's font.
int textWidth(const std::string& text) {
    return glutBitmapLength(GLUT_BITMAP_HELVETICA_12,
                            reinterpret_cast<const unsigned char*>(text.c_str()));
}

void drawText(int x, int baseline, const std::string& text) {
    glRasterPos2i(x, baseline);
    glutBitmapString(GLUT_BITMAP_HELVETICA_12,
                     reinterpret_cast<const unsigned char*>(text.c_str()));
}

// Sets up drawing in window pixels from the bottom-left corner, flat: leaves depth test, fog and
// texturing off.
void beginText() {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluOrtho2D(0.0, width(), 0.0, height());
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_FOG);
    glDisable(GL_TEXTURE_2D);
}

// What is being read and how far, over the whole window: the work's name above a bar filled to
// the share done, the percent and time left below, as beginText leaves it.
void drawWork() {
    glViewport(0, 0, width(), height());
    glClearColor(static_cast<float>(kWorkBackground[0]), static_cast<float>(kWorkBackground[1]),
                 static_cast<float>(kWorkBackground[2]), 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    beginText();
    const int left = kBarMargin, right = std::max(left + 2, width() - kBarMargin);
    const int middle = height() / 2;
    glColor3dv(kReadoutText);
    drawText(left, middle + kAboveBar, window.work);
    if (window.share >= 0.0) {
        const int bottom = middle - kBarHeight / 2, top = bottom + kBarHeight;
        const int filled = left + static_cast<int>(std::lround(window.share * (right - left)));
        glColor3ubv(kBarFill);
        glRecti(left, bottom, filled, top);
        glColor3ubv(kBarFrame);
        glBegin(GL_LINE_LOOP);
        {
            glVertex2f(left + 0.5f, bottom + 0.5f);
            glVertex2f(right - 0.5f, bottom + 0.5f);
            glVertex2f(right - 0.5f, top - 0.5f);
            glVertex2f(left + 0.5f, top - 0.5f);
        }
        glEnd();
        glColor3dv(kReadoutText);
        drawText(left, middle - kBelowBar, window.progress);
    }
    drawText(right - textWidth(kCancelHint), middle - kBelowBar, kCancelHint);
}

// text broken into lines of at most maxWidth pixels: at its two-space field separators where
// one fits, else at a space; a word wider than maxWidth alone keeps its line.
std::vector<std::string> fitted(std::string text, int maxWidth) {
    std::vector<std::string> lines;
    while (textWidth(text) > maxWidth) {
        std::size_t cut = std::string::npos;
        for (const char* separator : {"  ", " "}) {
            for (std::size_t at = text.find(separator, 1); at != std::string::npos;
                 at = text.find(separator, at + 1)) {
                if (textWidth(text.substr(0, at)) > maxWidth) {
                    break;
                }
                cut = text[at - 1] != ' ' ? at : cut;
            }
            if (cut != std::string::npos) {
                break;
            }
        }
        cut = cut != std::string::npos ? cut : text.find(' ', 1);
        const std::size_t next = text.find_first_not_of(' ', cut);
        if (next == std::string::npos) {
            break;
        }
        lines.push_back(text.substr(0, cut));
        text.erase(0, next);
    }
    lines.push_back(text);
    return lines;
}

void drawReadout(const std::vector<std::string>& lines) {
    beginText();
    int baseline = height() - kReadoutBaseline;
    for (const std::string& whole : lines) {
        for (const std::string& text : fitted(whole, width() - 2 * kReadoutLeft)) {
            glEnable(GL_BLEND);
            glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
            glColor4dv(kReadoutBand);
            glRecti(kReadoutLeft - kReadoutMargin, baseline - kReadoutDescent - kReadoutMargin,
                    kReadoutLeft + textWidth(text) + kReadoutMargin,
                    baseline + kReadoutAscent + kReadoutMargin);
            glDisable(GL_BLEND);
            glColor3dv(kReadoutText);
            drawText(kReadoutLeft, baseline, text);
            baseline -= kReadoutLineSpacing;
        }
    }
}

void onFrameTimer(int /*value*/) {
    checkGLError(true);
    if (window.scene) {
        drawReadout(window.scene->drawFrame(width(), height()));
    } else {
        app::drawFrame(window.camera, window.terrain, window.options.heightScale);
    }
    glutSwapBuffers();
    glutTimerFunc(app::kFramePeriodMs, onFrameTimer, 0);
}

void onDisplay() {
    window.exposed = true;
    if (window.options.elevation) {
        if (!window.scene) {
            drawWork();
            glutSwapBuffers();
            return;
        }
        window.scene->makeGround();
    } else {
        window.terrain.load(window.options.terrainPath);
    }
    if (!window.frameChainRunning) {
        window.frameChainRunning = true;
        glutTimerFunc(app::kFirstFrameDelayMs, onFrameTimer, 0);
    }
}

// Leaving game mode restores the screen mode; freeglut then owns the rest of the clean-up at exit.
void closeWindow() {
    window.scene.reset();  // its textures and arrays go while their context is still current
    if (glutGameModeGet(GLUT_GAME_MODE_ACTIVE)) {
        glutLeaveGameMode();
    } else if (glutGetWindow() != 0) {
        glutDestroyWindow(glutGetWindow());
    }
}

void onKeyboard(unsigned char key, int /*x*/, int /*y*/) {
    if (window.working) {
        window.cancelled = window.cancelled || key == kEscape;
        return;
    }
    const app::KeyResult result =
        window.scene ? window.scene->key(key) : app::handleKey(window.camera, key);
    if (result == app::KeyResult::Quit) {
        closeWindow();
        std::exit(0);
    }
}

// Arrows walk and turn, the page keys pitch the view; classic worlds ignore them.
void onSpecialKey(int key, int /*x*/, int /*y*/) {
    static const std::pair<int, ArrowKey> kArrows[] = {
        {GLUT_KEY_UP, ArrowKey::up},          {GLUT_KEY_DOWN, ArrowKey::down},
        {GLUT_KEY_LEFT, ArrowKey::left},      {GLUT_KEY_RIGHT, ArrowKey::right},
        {GLUT_KEY_PAGE_UP, ArrowKey::pageUp}, {GLUT_KEY_PAGE_DOWN, ArrowKey::pageDown}};
    for (const auto& [glutKey, arrow] : kArrows) {
        if (window.scene && key == glutKey) {
            window.scene->arrow(arrow, (glutGetModifiers() & GLUT_ACTIVE_SHIFT) != 0);
        }
    }
}

// A click's pick goes to standard output too, one line for scripts, flushed at once.
void onMouse(int button, int state, int x, int y) {
    // freeglut reports the wheel as buttons 3 (away from the user) and 4.
    static const std::pair<int, PointerButton> kButtons[] = {
        {GLUT_LEFT_BUTTON, PointerButton::left},
        {GLUT_MIDDLE_BUTTON, PointerButton::middle},
        {GLUT_RIGHT_BUTTON, PointerButton::right},
        {3, PointerButton::wheelUp},
        {4, PointerButton::wheelDown}};
    for (const auto& [glutButton, which] : kButtons) {
        if (window.scene && button == glutButton) {
            if (const std::optional<std::string> line = window.scene->pointer(
                    which, state == GLUT_DOWN, (glutGetModifiers() & GLUT_ACTIVE_SHIFT) != 0, x, y,
                    width(), height())) {
                std::cout << *line << std::endl;
            }
        }
    }
}

void onMotion(int x, int y) {
    if (window.scene) {
        window.scene->drag(x, y, height());
    }
}

// Closing the window while the scene is read cancels the reading; freeglut has destroyed the
// window by the time the reading stops. Afterwards it ends the viewer.
void onClose() {
    if (window.working) {
        window.cancelled = true;
        window.open = false;
    }
}

void openWindow(const std::string& title) {
    const app::ViewerOptions& options = window.options;
    if (options.window) {
        // Before glutInit, so that GLUT's own -geometry, read there, has the last word.
        glutInitWindowSize(options.windowWidth, options.windowHeight);
    }
    int argc = static_cast<int>(window.glutArgv.size()) - 1;
    glutInit(&argc, window.glutArgv.data());
    // Elevation mode draws real relief, where ground hides ground: it needs a depth buffer.
    glutInitDisplayMode(options.elevation ? GLUT_DOUBLE | GLUT_DEPTH : GLUT_DOUBLE);
    // freeglut's default reshape makes the viewport the whole window, as for the screen. Without
    // the video-mode extension (Xvfb, many remote desktops) game mode can't be entered; an
    // ordinary window made full screen shows the same picture.
    if (options.window) {
        glutCreateWindow(title.c_str());
    } else if (glutEnterGameMode() == 0 || glutGetWindow() == 0) {
        std::cerr << "groundview: game mode unavailable; using a full-screen window" << std::endl;
        glutCreateWindow(title.c_str());
        glutFullScreen();
    }
    // GLUT's -geometry may ask for more than this OpenGL can draw into.
    GLint limit[2] = {0, 0};
    glGetIntegerv(GL_MAX_VIEWPORT_DIMS, limit);
    if (limit[0] > 0 && limit[1] > 0 && (width() > limit[0] || height() > limit[1])) {
        glutReshapeWindow(std::min(width(), static_cast<int>(limit[0])),
                          std::min(height(), static_cast<int>(limit[1])));
    }
    glutDisplayFunc(onDisplay);
    glutKeyboardFunc(onKeyboard);
    glutCloseFunc(onClose);
    glutSetOption(GLUT_ACTION_ON_WINDOW_CLOSE,
                  window.working ? GLUT_ACTION_CONTINUE_EXECUTION : GLUT_ACTION_EXIT);
    app::setFixedState();
    glutSetCursor(GLUT_CURSOR_CROSSHAIR);
    app::enableFixedFeatures();
    window.open = true;
}

// The reading's window, opened once while the scene is read: it says what is being done and
// shows the progress bar, and takes events until the server has exposed it.
void openWorkWindow() {
    if (window.open || window.cancelled) {
        return;
    }
    openWindow(windowTitle(true));
    const auto until = std::chrono::steady_clock::now() + kShowAWindowWithin;
    while (window.open && !window.exposed && std::chrono::steady_clock::now() < until) {
        glutMainLoopEvent();
        usleep(1000);
    }
}

// Thrown from the pyramid's progress when the user cancels: the build stops, leaving no file.
struct Cancelled {};

// Shows how far the work is, in the window's title and bar at most every kRedrawPeriod, taking
// its events meanwhile. Throws Cancelled once the user has cancelled.
void tellWindow(const ProgressLine& line) {
    const auto now = std::chrono::steady_clock::now();
    if (window.open && now - window.drawnAt >= kRedrawPeriod) {
        window.drawnAt = now;
        window.share = line.percent() / 100.0;
        window.progress = std::to_string(line.percent()) + " %" + line.left();
        glutSetWindowTitle(("groundview \u2014 " + window.work + ": " + window.progress).c_str());
        drawWork();
        glutSwapBuffers();
        glutMainLoopEvent();
    }
    if (window.cancelled) {
        throw Cancelled();
    }
}

// Opens and reads the rasters into the scene before any window or X connection exists, so that a
// source that can't be used is refused without one (a large source, or an open or read that takes
// over a second, opens the window meanwhile, which shows what is being read and a pyramid's
// progress); the status to end with, with one line said, when that fails or the user cancels.
std::optional<int> openScene() {
    const app::ViewerOptions& options = window.options;
    window.working = true;
    window.work = "reading " + world::nameOf(raster::shownName(options.rasters));
    raster::whenReadingIsSlow(openWorkWindow, kSlowReadAfter);
    const std::string notARaster =
        "neither a terrain file nor an elevation raster: " + raster::shownName(options.rasters);
    const auto refuse = [](const std::string& problem, bool usage) {
        std::cerr << "groundview: " << printable(problem)
                  << (usage ? "; see groundview --help" : "") << std::endl;
        return app::kUsageStatus;
    };
    try {
        // Empty when the file has turned into a terrain file since the command line was read.
        std::unique_ptr<raster::ElevationSource> source =
            openWorld(options.rasters, options.view.band).raster;
        if (!source) {
            return refuse(notARaster, false);
        }
        const raster::SourceFacts& facts = source->facts();
        if (static_cast<long long>(facts.width) * facts.height > kQuietReadSamples) {
            std::cerr << "groundview: reading " << source->shown() << ", " << facts.width << " x "
                      << facts.height << " samples" << std::endl;
            openWorkWindow();
        }
        const std::string building = "building the pyramid of " + source->shown();
        ProgressLine line(std::cerr, isatty(STDERR_FILENO) == 1, "groundview: " + building + ": ");
        const auto started = std::chrono::steady_clock::now();
        const auto progress = [&line, &building, started](double share) {
            line.show(share);
            window.work = building;
            if (std::chrono::steady_clock::now() - started >= kSlowReadAfter) {
                openWorkWindow();
            }
            tellWindow(line);
        };
        window.scene = std::make_unique<ElevationScene>(std::move(source), options.view, progress);
        if (window.cancelled) {  // by the last events taken
            throw Cancelled();
        }
    } catch (const Cancelled&) {
        std::cerr << "groundview: cancelled" << std::endl;
        return kCancelledStatus;
    } catch (const raster::NoRaster& error) {
        return refuse(error.what(), true);
    } catch (const std::invalid_argument& error) {  // tiles that can't join, a start outside
        return refuse(error.what(), true);
    } catch (const raster::NotARaster& error) {
        // Of several tiles, the reader's line names the one that is no raster.
        return refuse(options.rasters.size() > 1 ? error.what() : notARaster, false);
    } catch (const raster::RasterError& error) {
        return refuse(error.what(), false);
    }
    window.working = false;
    if (window.open) {
        glutSetOption(GLUT_ACTION_ON_WINDOW_CLOSE, GLUT_ACTION_EXIT);
    }
    if (!window.scene->note().empty()) {
        std::cerr << "groundview: " << printable(window.scene->note()) << std::endl;
    }
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    // Before the X connection is opened, so it can't become descriptor 2.
    openMissingStandardDescriptors();
    const app::ParsedCommandLine parsed = app::parseCommandLine(argc, argv, std::cout, std::cerr);
    if (!parsed.run) {
        return parsed.status;
    }
    window.options = parsed.options;
    for (std::string& word : window.options.glutArguments) {
        window.glutArgv.push_back(word.data());
    }
    window.glutArgv.push_back(nullptr);
    if (window.options.elevation) {
        // Nothing is written beside the data or into the working folder.
        setStateErrorLog(stateLogFolder(std::getenv("XDG_STATE_HOME"), std::getenv("HOME")));
        if (const std::optional<int> status = openScene()) {
            if (window.open) {
                closeWindow();
            }
            return *status;
        }
    } else {
        setErrorLogFolder(window.options.worldFolder);
    }
    if (window.open) {
        glutSetWindowTitle(windowTitle(false).c_str());
    } else {
        openWindow(windowTitle(false));
    }
    glutSpecialFunc(onSpecialKey);
    glutMouseFunc(onMouse);
    glutMotionFunc(onMotion);
    glutMainLoop();
    return 0;
}
