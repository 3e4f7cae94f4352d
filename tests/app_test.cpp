// The viewer's frame drawn headlessly: sky, terrain and the fog each frame leaves for the next.

#include "app.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "byte_source.h"
#include "camera.h"
#include "headless_gl.h"
#include "progress_line.h"
#include "terrain.h"
#include "test_files.h"

namespace {

constexpr int kWidth = 256, kHeight = 192;

struct Pixel {
    int r, g, b;
};

class Frame : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(gl.ok()) << gl.error();
        app::setFixedState();
        app::enableFixedFeatures();
        glViewport(0, 0, kWidth, kHeight);  // what the window's reshape does before frame one
    }

    Pixel at(int x, int yFromTop) const {
        std::uint8_t p[4];
        glReadPixels(x, kHeight - 1 - yFromTop, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, p);
        return {p[0], p[1], p[2]};
    }

    HeadlessGL gl{kWidth, kHeight};
    Camera camera{0, 2, 0, 0, 2, -50, 0, 1, 0};
    Terrain terrain;
};

TEST_F(Frame, ShowsOnlySkyWithoutATerrain) {
    app::drawFrame(camera, terrain);
    std::vector<std::uint8_t> pixels(kWidth * kHeight * 4);
    glReadPixels(0, 0, kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    for (std::size_t i = 0; i < pixels.size(); i += 4) {
        ASSERT_EQ(pixels[i], 120) << "pixel " << i / 4;
        ASSERT_EQ(pixels[i + 1], 182);
        ASSERT_EQ(pixels[i + 2], 233);
    }
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(Frame, GroundUnderFogThatTheFrameBeforeSet) {
    TemporaryFolder folder;
    writeFile(folder.file("1.bmp"), solidBitmapBytes(64, 64, {200, 40, 40}));
    writeFile(folder.file("ground.3dt"), terrainBytes(64, 64, 1, 4, 4, [](int, int) { return 0; }));
    ASSERT_TRUE(terrain.loadFile(folder.file("ground.3dt")).texture.accepted);

    // The first frame still has OpenGL's default fog: density 1 toward black.
    app::drawFrame(camera, terrain);
    const Pixel firstNear = at(kWidth / 2, kHeight - 2);
    EXPECT_LT(firstNear.r + firstNear.g + firstNear.b, 30);

    // From the second frame on: white fog of density 0.08 over the red ground.
    app::drawFrame(camera, terrain);
    const Pixel sky = at(kWidth / 2, 2);
    EXPECT_EQ(sky.r, 120);
    EXPECT_EQ(sky.g, 182);
    EXPECT_EQ(sky.b, 233);
    // Near the bottom edge the ground is about 5 units away: mostly red still between the
    // black lines.
    Pixel near{0, 0, 0};
    for (int x = kWidth / 4; x < kWidth * 3 / 4; ++x) {
        const Pixel p = at(x, kHeight - 2);
        if (p.r > near.r) {
            near = p;
        }
    }
    EXPECT_GT(near.r, 190);
    EXPECT_GT(near.r, near.g + 60);
    // Just below the horizon, 30 and more units away, the fog has whitened it.
    int y = kHeight / 2 + 4;
    Pixel far = at(kWidth / 2 + 3, y);
    EXPECT_GT(far.g, 180) << far.r << "," << far.g << "," << far.b;
    EXPECT_GT(far.b, 180);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(Frame, KeepsTheProjectionAtFourByThree) {
    // A wide viewport stretches the picture: the projection does not follow the window.
    double projection[16];
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    EXPECT_NEAR(projection[5] / projection[0], 4.0 / 3.0, 1e-6);
    EXPECT_NEAR(projection[5], 1.0 / std::tan(22.5 * kPi / 180.0), 1e-6);
}

}  // namespace

// A whole percent at most once a second after the first (the end excepted), then the time left.
TEST(ProgressLine, AWholePercentAtMostOnceASecond) {
    const std::pair<double, int> kShares[] = {{0.005, 500},  {0.02, 900},  {0.03, 1100},
                                              {0.035, 1500}, {0.04, 2100}, {0.5, 3000},
                                              {1.0, 3100}};
    for (const bool terminal : {false, true}) {
        std::ostringstream err;
        {
            ProgressLine line(err, terminal, "p: ", ProgressLine::Clock::time_point{});
            for (const auto& [share, ms] : kShares) {
                line.show(share, ProgressLine::Clock::time_point{} + std::chrono::milliseconds(ms));
            }
        }
        EXPECT_EQ(err.str(), terminal ? "\rp: 3 %    \rp: 4 %, about 50 s left    \rp: 100 %    \n"
                                      : "p: 3 %\np: 4 %, about 50 s left\np: 100 %\n");
    }
}
