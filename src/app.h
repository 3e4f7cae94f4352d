#pragma once
// The viewer's fixed frame: projection, clear colour, fog and the steps of one frame, plus the key
// map. Everything here is plain OpenGL and arithmetic so the viewer, groundtool and the tests
// draw exactly the same frame; the GLUT side lives in main.cpp.

#include <cstdint>

#include "terrain.h"

class Camera;

namespace app {

constexpr unsigned kFirstFrameDelayMs = 125;
constexpr unsigned kFramePeriodMs = 50;

// The start-up viewport, replaced by the whole window before the first frame.
constexpr int kStartViewportWidth = 640;
constexpr int kStartViewportHeight = 480;

constexpr double kFieldOfViewDegrees = 45.0;
constexpr double kAspect = 4.0 / 3.0;  // fixed, whatever the window's shape
constexpr double kNearPlane = 0.1;
constexpr double kFarPlane = 500.0;

// The sky, as the screen shows it in 8 bits a channel.
constexpr std::uint8_t kSkyRgb8[3] = {120, 182, 233};
constexpr float kSkyRed = kSkyRgb8[0] / 255.0f;
constexpr float kSkyGreen = kSkyRgb8[1] / 255.0f;
constexpr float kSkyBlue = kSkyRgb8[2] / 255.0f;

constexpr float kFogDensity = 0.08f;  // per world unit, exponential
constexpr float kFogStart = 1200.0f;  // no effect with exponential fog
constexpr float kFogEnd = 1300.0f;

// The start camera: 2 units above the origin, looking along -z at a point 50 units ahead.
constexpr double kStartEye[3] = {0.0, 2.0, 0.0};
constexpr double kStartCenter[3] = {0.0, 2.0, -50.0};
constexpr double kStartUp[3] = {0.0, 1.0, 0.0};

constexpr double kTurnDivisor = 24.0;  // a key turns by pi / 24, 7.5 degrees
constexpr double kWalkStep = 1.0;      // world units per key press

Camera startCamera();
// The start camera moved to (x, z) at the start height and turned by headingDegrees the way the
// turn keys turn it: positive to the right, as 'd' does, so 90 looks along +x.
Camera cameraAt(double x, double z, double headingDegrees);

// Viewport, projection, model-view identity, clear values, blending, shading and hints. Leaves
// the model-view matrix current.
void setFixedState();
// Depth test, texturing and fog on.
void enableFixedFeatures();

// One frame without the buffer swap: clear, the camera's view, the scene, then the fog
// parameters (so each frame uses the fog the frame before set).
void drawFrame(const Camera& camera, const Terrain& terrain,
               float heightScale = scene::kDefaultHeightScale);

enum class KeyResult { Ignored, CameraChanged, Quit };
// Lower-case w, s, a, d, o, p move the camera; Esc asks to quit; every other key is ignored.
KeyResult handleKey(Camera& camera, unsigned char key);

}  // namespace app
