// The viewer with a terrain: sky above the horizon, fogged textured ground with its wire-frame
// below, and the end of the run when OpenGL refuses the texture.

#include <GL/gl.h>
#include <GL/glu.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "child_process.h"
#include "e2e_setup.h"
#include "headless_gl.h"
#include "scenes.h"
#include "test_files.h"
#include "x_screen.h"

namespace {

const Milliseconds kStartTimeout = kHangGuard;
const Milliseconds kSettle{300};

// Averages over the non-line pixels of a band of rows.
struct BandColour {
    double saturation = 0;  // max channel - min channel
    double lowestChannel = 0;
};

// Line pixels are black under fog, so grey; no texture pixel is that dark in every channel.
bool isLine(Pixel pixel) {
    return std::max({pixel.r, pixel.g, pixel.b}) < 140;
}

BandColour bandColour(const Picture& picture, int y0, int y1) {
    BandColour colour;
    std::int64_t counted = 0;
    for (int y = y0; y < y1; ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            const Pixel pixel = picture.at(x, y);
            if (isLine(pixel)) {
                continue;
            }
            const int high = std::max({pixel.r, pixel.g, pixel.b});
            const int low = std::min({pixel.r, pixel.g, pixel.b});
            colour.saturation += high - low;
            colour.lowestChannel += low;
            ++counted;
        }
    }
    if (counted > 0) {
        colour.saturation /= static_cast<double>(counted);
        colour.lowestChannel /= static_cast<double>(counted);
    }
    return colour;
}

TEST(Terrain, ShowsSkyAboveTheHorizonAndFoggedTexturedGroundWithLinesBelow) {
    TemporaryFolder folder;
    writeCheckerTerrain(folder.path());
    XScreen screen(xorgDisplay());
    ASSERT_EQ(screen.width(), 1024);
    ASSERT_EQ(screen.height(), 768);
    const std::unique_ptr<ChildProcess> viewer = launchViewer(screen, xorgDisplay(), folder.path());

    const std::optional<Picture> steady = waitForSteadyPicture(
        screen, [](const Picture& picture) { return isSky(picture.at(0, 0)); }, kSettle,
        kStartTimeout);
    ASSERT_TRUE(steady) << "the picture never settled";
    const Picture& picture = *steady;
    const std::string kept = keepForInspection(picture, "terrain");
    const int width = picture.width();

    // The eye is 2 units up looking level, and the ground ends 32 units ahead: its far edge lies
    // about 58 rows below the middle, so the upper half is all sky and the lowest 300 rows are
    // all ground.
    EXPECT_EQ(picture.count(0, 0, width, 384, [](Pixel p) { return !isSky(p); }), 0) << kept;
    EXPECT_EQ(picture.count(0, 468, width, 768, isSky), 0) << kept;

    // Near the bottom the ground is 5 to 7 units away and keeps about 60 % of its colour; just
    // below the horizon it is over 21 units away and almost white.
    const BandColour nearBand = bandColour(picture, 700, 768);
    const BandColour farBand = bandColour(picture, 446, 466);
    EXPECT_GT(nearBand.saturation, farBand.saturation + 40) << kept;
    EXPECT_GT(farBand.lowestChannel, 190) << kept;
    EXPECT_LT(nearBand.lowestChannel, 150) << kept;

    // Both squares of the checkerboard show near by, and so do the lines between the cells.
    const std::int64_t nearPixels = std::int64_t{width} * 68;
    const std::int64_t red =
        picture.count(0, 700, width, 768, [](Pixel p) { return p.r > p.g + 60; });
    const std::int64_t green =
        picture.count(0, 700, width, 768, [](Pixel p) { return p.g > p.r + 60; });
    const std::int64_t lines = picture.count(0, 700, width, 768, isLine);
    EXPECT_GT(red, nearPixels / 10) << kept;
    EXPECT_GT(green, nearPixels / 10) << kept;
    EXPECT_GT(lines, nearPixels / 200) << kept;
    EXPECT_LT(lines, nearPixels / 2) << kept;

    EXPECT_TRUE(viewer->running());
    EXPECT_FALSE(fileExists(folder.path() + "/errorlog.txt"));
    EXPECT_EQ(viewer->standardError(), "");
}

int maxTextureSize() {
    HeadlessGL context(16, 16);
    if (!context.ok()) {
        return -1;
    }
    GLint size = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &size);
    return size;
}

TEST(Terrain, TextureWiderThanOpenGLAllowsEndsTheFirstFrameWithInvalidValue) {
    const int maxSize = maxTextureSize();
    ASSERT_GT(maxSize, 0) << "no headless OpenGL context to ask for the maximum texture size";
    // A BMP width is 16 bits wide in this reader; keep it a multiple of 4 so rows need no padding.
    const int width = maxSize + 4;
    ASSERT_LE(width, 65535);

    TemporaryFolder folder;
    XScreen screen(xorgDisplay());
    writeFile(folder.path() + "/ground.3dt", terrainBytes(4, 4, 1, 1, 1, Bytes(16, 0)));
    writeFile(folder.path() + "/1.bmp", solidBitmapBytes(width, 1, Rgb{200, 100, 50}));
    const std::unique_ptr<ChildProcess> viewer = launchViewer(screen, xorgDisplay(), folder.path());

    const std::optional<ExitStatus> status = viewer->waitForExit(kStartTimeout);
    ASSERT_TRUE(status) << "the viewer kept running with a texture " << width << " wide";
    // Only the low byte of GL_INVALID_VALUE (0x501) reaches the parent.
    EXPECT_EQ(*status, ExitStatus::withCode(GL_INVALID_VALUE & 0xFF));
    const std::string glu = reinterpret_cast<const char*>(gluErrorString(GL_INVALID_VALUE));
    EXPECT_EQ(glu, "invalid value");
    EXPECT_EQ(readLines(folder.path() + "/errorlog.txt"),
              (std::vector<std::string>{"OpenGL error:", glu}));
    EXPECT_EQ(viewer->standardError(), "") << "a too-wide bitmap loads without a message";
}

}  // namespace
