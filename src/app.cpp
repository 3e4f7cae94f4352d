#include "app.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include "camera.h"
#include "terrain.h"

namespace app {

void setFixedState() {
    glViewport(0, 0, kStartViewportWidth, kStartViewportHeight);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(kFieldOfViewDegrees, kAspect, kNearPlane, kFarPlane);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();

    glClearColor(kSkyRed, kSkyGreen, kSkyBlue, 0.0f);
    glClearDepth(1.0);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE);  // blending itself stays off
    glShadeModel(GL_SMOOTH);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
    glDepthFunc(GL_LESS);
}

void enableFixedFeatures() {
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_FOG);
}

Camera startCamera() {
    return Camera(kStartEye[0], kStartEye[1], kStartEye[2], kStartCenter[0], kStartCenter[1],
                  kStartCenter[2], kStartUp[0], kStartUp[1], kStartUp[2]);
}

Camera cameraAt(double x, double z, double headingDegrees) {
    Camera camera(x, kStartEye[1], z, x + kStartCenter[0] - kStartEye[0], kStartCenter[1],
                  z + kStartCenter[2] - kStartEye[2], kStartUp[0], kStartUp[1], kStartUp[2]);
    if (headingDegrees != 0.0) {
        camera.turn(headingDegrees * kRadiansPerDegree);
    }
    return camera;
}

void drawFrame(const Camera& camera, const Terrain& terrain, float heightScale) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();
    camera.apply();
    drawScene(terrain, heightScale);

    static const GLfloat kFogColour[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    glFogi(GL_FOG_MODE, GL_EXP);
    glFogfv(GL_FOG_COLOR, kFogColour);
    glFogf(GL_FOG_DENSITY, kFogDensity);
    glHint(GL_FOG_HINT, GL_DONT_CARE);
    glFogf(GL_FOG_START, kFogStart);
    glFogf(GL_FOG_END, kFogEnd);
}

KeyResult handleKey(Camera& camera, unsigned char key) {
    constexpr unsigned char kEscape = 27;
    switch (key) {
        case kEscape:
            return KeyResult::Quit;
        case 'a':
            camera.turn(-(kPi / kTurnDivisor));
            return KeyResult::CameraChanged;
        case 'd':
            camera.turn(kPi / kTurnDivisor);
            return KeyResult::CameraChanged;
        case 'w':
            camera.move(kWalkStep);
            return KeyResult::CameraChanged;
        case 's':
            camera.move(-kWalkStep);
            return KeyResult::CameraChanged;
        case 'p':
            camera.slide(kWalkStep);
            return KeyResult::CameraChanged;
        case 'o':
            camera.slide(-kWalkStep);
            return KeyResult::CameraChanged;
        default:
            return KeyResult::Ignored;
    }
}

}  // namespace app
