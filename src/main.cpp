// groundview: walks a camera over a height-field terrain, full screen or in a window.
// The GLUT side of the viewer: the two global objects, start-up and the callbacks, each a thin
// translation of a GLUT event into a call on the subsystem that owns the work.

#include <GL/freeglut.h>

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "app.h"
#include "camera.h"
#include "command_line.h"
#include "diag.h"
#include "terrain.h"

Terrain terrain;
Camera camera = app::startCamera();

namespace {

app::ViewerOptions options;

// Frames come from one self re-arming timer; further display events reload but start no second
// chain.
bool frameChainRunning = false;

void onFrameTimer(int /*value*/) {
    checkGLError(true);
    app::drawFrame(camera, terrain, options.heightScale);
    glutSwapBuffers();
    glutTimerFunc(app::kFramePeriodMs, onFrameTimer, 0);
}

void onDisplay() {
    terrain.load(options.terrainPath);
    if (!frameChainRunning) {
        frameChainRunning = true;
        glutTimerFunc(app::kFirstFrameDelayMs, onFrameTimer, 0);
    }
}

// Leaving game mode restores the screen mode; freeglut then owns the rest of the clean-up at exit.
void quit() {
    if (glutGameModeGet(GLUT_GAME_MODE_ACTIVE)) {
        glutLeaveGameMode();
    } else if (glutGetWindow() != 0) {
        glutDestroyWindow(glutGetWindow());
    }
    std::exit(0);
}

void onKeyboard(unsigned char key, int /*x*/, int /*y*/) {
    if (app::handleKey(camera, key) == app::KeyResult::Quit) {
        quit();
    }
}

// Without the video-mode extension (Xvfb, many remote desktops) game mode can't be entered; an
// ordinary window made full screen shows the same picture.
void enterFullScreen() {
    if (glutEnterGameMode() != 0 && glutGetWindow() != 0) {
        return;
    }
    std::cerr << "groundview: game mode unavailable; using a full-screen window" << std::endl;
    glutCreateWindow("groundview");
    glutFullScreen();
}

}  // namespace

void initGraphics(int argc, char** argv) {
    if (options.window) {
        // Before glutInit, so that GLUT's own -geometry, read there, has the last word.
        glutInitWindowSize(options.windowWidth, options.windowHeight);
    }
    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_DOUBLE);
    if (options.window) {
        // freeglut's default reshape makes the viewport the whole window, as for the screen.
        glutCreateWindow("groundview");
    } else {
        enterFullScreen();
    }
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
    setErrorLogFolder(options.worldFolder);

    std::vector<char*> glutArgv;
    for (std::string& word : options.glutArguments) {
        glutArgv.push_back(word.data());
    }
    glutArgv.push_back(nullptr);
    initGraphics(static_cast<int>(glutArgv.size()) - 1, glutArgv.data());
    glutKeyboardFunc(onKeyboard);
    glutMainLoop();
    return 0;
}
