// The camera: one shared view, the look-at matrix, and the walking arithmetic.

#include "camera.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "app.h"
#include "headless_gl.h"

namespace {

constexpr double kTurn = kPi / 24.0;
constexpr double kNear = 1e-9;

Camera startCamera() {
    return Camera(0, 2, 0, 0, 2, -50, 0, 1, 0);
}

double horizontalDistance(const View& v) {
    return std::hypot(v.centerX() - v.eyeX(), v.centerZ() - v.eyeZ());
}

TEST(Camera, HoldsOneViewThatBothCapabilitiesChange) {
    Camera camera(1, 2, 3, 4, 5, 6, 7, 8, 9);
    // Only the camera's own values reach its single view; the parts' defaults never do.
    EXPECT_EQ(camera.eyeX(), 1);
    EXPECT_EQ(camera.eyeZ(), 3);
    EXPECT_EQ(camera.centerY(), 5);
    EXPECT_EQ(camera.upZ(), 9);

    Rotator& rotator = camera;
    Mover& mover = camera;
    EXPECT_EQ(static_cast<View*>(&rotator), static_cast<View*>(&mover));

    Camera start = startCamera();
    static_cast<Mover&>(start).move(1.0);
    const Rotator& seen = start;
    EXPECT_DOUBLE_EQ(seen.eyeZ(), -1.0);
    EXPECT_DOUBLE_EQ(seen.centerZ(), -51.0);
}

TEST(Camera, ApplyMultipliesByTheLookAtMatrix) {
    HeadlessGL gl(8, 8);
    ASSERT_TRUE(gl.ok()) << gl.error();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    startCamera().apply();
    double matrix[16];
    glGetDoublev(GL_MODELVIEW_MATRIX, matrix);
    // Looking along -z from (0, 2, 0) with y up: no rotation, the world moved down by 2.
    for (int i = 0; i < 16; ++i) {
        const double expected = (i % 5 == 0) ? 1.0 : (i == 13 ? -2.0 : 0.0);
        EXPECT_NEAR(matrix[i], expected, 1e-12) << "element " << i;
    }
    // apply multiplies: a scale already on the stack stays in the product.
    glLoadIdentity();
    glScaled(2, 2, 2);
    startCamera().apply();
    glGetDoublev(GL_MODELVIEW_MATRIX, matrix);
    EXPECT_NEAR(matrix[0], 2.0, 1e-12);
    EXPECT_NEAR(matrix[13], -4.0, 1e-12);
}

TEST(Camera, TurnsAboutTheEye) {
    Camera left = startCamera();
    left.turn(-kTurn);
    EXPECT_NEAR(left.centerX(), -6.526, 1e-3);
    EXPECT_NEAR(left.centerZ(), -49.572, 1e-3);
    EXPECT_EQ(left.centerY(), 2);

    Camera right = startCamera();
    right.turn(kTurn);
    EXPECT_NEAR(right.centerX(), 6.526, 1e-3);
    EXPECT_NEAR(right.centerZ(), -49.572, 1e-3);

    const struct {
        int turns;
        double x, z;
    } laps[] = {{12, 50, 0}, {24, 0, 50}, {48, 0, -50}};
    for (const auto& lap : laps) {
        Camera camera = startCamera();
        for (int i = 0; i < lap.turns; ++i) {
            camera.turn(kTurn);
        }
        EXPECT_NEAR(camera.centerX(), lap.x, 1e-9) << lap.turns << " turns";
        EXPECT_NEAR(camera.centerZ(), lap.z, 1e-9) << lap.turns << " turns";
        EXPECT_EQ(camera.eyeX(), 0);
        EXPECT_EQ(camera.eyeZ(), 0);
    }
}

TEST(Camera, MovesAndSlidesFromTheStart) {
    const struct {
        bool slide;
        double step, eyeX, eyeZ, centerX, centerZ;
    } cases[] = {
        {false, 1, 0, -1, 0, -51},
        {false, -1, 0, 1, 0, -49},
        {true, 1, -1, 0, -1, -50},
        {true, -1, 1, 0, 1, -50},
    };
    for (const auto& c : cases) {
        Camera camera = startCamera();
        c.slide ? camera.slide(c.step) : camera.move(c.step);
        EXPECT_NEAR(camera.eyeX(), c.eyeX, kNear);
        EXPECT_NEAR(camera.eyeZ(), c.eyeZ, kNear);
        EXPECT_NEAR(camera.centerX(), c.centerX, kNear);
        EXPECT_NEAR(camera.centerZ(), c.centerZ, kNear);
        EXPECT_EQ(camera.eyeY(), 2);
        EXPECT_EQ(camera.centerY(), 2);
    }
}

TEST(Camera, SlideStaysSidewaysAtEveryHeading) {
    // After six right turns the view runs diagonally toward (+x, -z); a side step must be at
    // right angles to it, to the viewer's left, and not a step backwards.
    Camera camera = startCamera();
    for (int i = 0; i < 6; ++i) {
        camera.turn(kTurn);
    }
    EXPECT_NEAR(camera.centerX(), 35.355, 1e-3);
    EXPECT_NEAR(camera.centerZ(), -35.355, 1e-3);
    const double viewX = camera.centerX() - camera.eyeX();
    const double viewZ = camera.centerZ() - camera.eyeZ();
    camera.slide(1.0);
    const double stepX = camera.eyeX();
    const double stepZ = camera.eyeZ();
    EXPECT_NEAR(std::hypot(stepX, stepZ), 1.0, 1e-12);
    EXPECT_NEAR(stepX * viewX + stepZ * viewZ, 0.0, 1e-9);
    EXPECT_NEAR(stepX, -0.7071, 1e-4);  // left of a view toward +x, -z is toward -x, -z
    EXPECT_NEAR(stepZ, -0.7071, 1e-4);

    // Looking along +x, the left is -z.
    Camera east = startCamera();
    for (int i = 0; i < 12; ++i) {
        east.turn(kTurn);
    }
    east.slide(1.0);
    EXPECT_NEAR(east.eyeX(), 0.0, 1e-9);
    EXPECT_NEAR(east.eyeZ(), -1.0, 1e-9);
}

TEST(Camera, KeepsHeightDistanceAndUpOverLongWalks) {
    std::mt19937 random(12345);
    for (int run = 0; run < 20; ++run) {
        Camera camera = startCamera();
        for (int i = 0; i < 2000; ++i) {
            switch (random() % 3) {
                case 0:
                    camera.turn((random() % 2 ? 1 : -1) * kTurn);
                    break;
                case 1:
                    camera.move(random() % 2 ? 1.0 : -1.0);
                    break;
                default:
                    camera.slide(random() % 2 ? 1.0 : -1.0);
                    break;
            }
        }
        EXPECT_NEAR(horizontalDistance(camera), 50.0, 1e-9);
        EXPECT_EQ(camera.eyeY(), 2);
        EXPECT_EQ(camera.centerY(), 2);
        EXPECT_EQ(camera.upX(), 0);
        EXPECT_EQ(camera.upY(), 1);
        EXPECT_EQ(camera.upZ(), 0);
    }
}

TEST(Keys, MoveTheCameraAsTheKeyMapSays) {
    Camera camera = startCamera();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(app::handleKey(camera, 'w'), app::KeyResult::CameraChanged);
    }
    EXPECT_NEAR(camera.eyeZ(), -3.0, kNear);
    EXPECT_NEAR(camera.eyeX(), 0.0, kNear);

    camera = startCamera();
    app::handleKey(camera, 'a');
    EXPECT_LT(camera.centerX(), -6.5);  // a turns left
    app::handleKey(camera, 'd');
    EXPECT_NEAR(camera.centerX(), 0.0, 1e-9);
    EXPECT_NEAR(camera.centerZ(), -50.0, 1e-9);

    camera = startCamera();
    app::handleKey(camera, 'p');
    EXPECT_NEAR(camera.eyeX(), -1.0, kNear);
    EXPECT_NEAR(camera.centerX(), -1.0, kNear);
    camera = startCamera();
    app::handleKey(camera, 'o');
    EXPECT_NEAR(camera.eyeX(), 1.0, kNear);
    camera = startCamera();
    app::handleKey(camera, 's');
    EXPECT_NEAR(camera.eyeZ(), 1.0, kNear);

    camera = startCamera();
    for (unsigned char key : {'W', 'A', 'S', 'D', 'O', 'P', 'x', ' ', '\0', '\r', '\x7f'}) {
        EXPECT_EQ(app::handleKey(camera, key), app::KeyResult::Ignored) << int(key);
    }
    EXPECT_EQ(camera.eyeX(), 0);
    EXPECT_EQ(camera.eyeZ(), 0);
    EXPECT_EQ(camera.centerX(), 0);
    EXPECT_EQ(camera.centerZ(), -50);
    EXPECT_EQ(app::handleKey(camera, 27), app::KeyResult::Quit);
}

}  // namespace
