// Elevation mode as a user sees it: where things appear, the eye never in the ground, the walker
// stopping at the edges, no cracks or visible loss from the levels of detail, ground ahead at the
// start. Fields are small and synthetic; pictures are drawn headlessly.

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <random>

#include "app.h"
#include "elevation_frame.h"
#include "elevation_keys.h"
#include "headless_gl.h"
#include "lod_terrain.h"
#include "walker.h"

namespace {

constexpr int kWidth = 320, kHeight = 240, kSide = 257;
constexpr double kSpacing = 10.0, kPi = 3.141592653589793;
using Shape = std::function<double(double u, double v)>;  // metres over the field's fractions

HeightField fieldOf(const Shape& shape) {
    HeightField field{kSide, kSide, kSpacing, kSpacing, {}, {}};
    for (int r = 0; r < kSide; ++r) {
        for (int c = 0; c < kSide; ++c) {
            field.heights.push_back(
                static_cast<float>(shape(c / (kSide - 1.0), r / (kSide - 1.0))));
        }
    }
    return field;
}

double bump(double u, double v, double atU, double atV, double metres, double radius) {
    return metres * std::exp(-((u - atU) * (u - atU) + (v - atV) * (v - atV)) / (radius * radius));
}

// Relief at several scales, so every level of detail has error to hide.
double rough(double u, double v) {
    double h = 0;
    for (int octave = 0, f = 3; octave < 6; ++octave, f *= 2) {
        h += 250.0 / (octave + 1) * std::sin(f * u + 1.7 * octave) * std::cos(f * 1.3 * v + octave);
    }
    return h;
}

// Greens and browns by height, striped so detail shows, red within markRadius of (markU, markV).
GroundImage imageOf(const HeightField& field, double markU = -1, double markV = -1,
                    double markRadius = 0.04) {
    GroundImage image{kSide, kSide, {}};
    for (int r = 0; r < kSide; ++r) {
        for (int c = 0; c < kSide; ++c) {
            const double u = c / (kSide - 1.0), v = r / (kSide - 1.0);
            const int shade = static_cast<int>(field.at(c, r) / 8) & 31;
            const bool marked = std::hypot(u - markU, v - markV) < markRadius;
            const int stripe = ((c / 4 + r / 4) % 2) * 20;
            image.rgb.insert(image.rgb.end(),
                             {static_cast<unsigned char>(marked ? 230 : 90 + 3 * shade),
                              static_cast<unsigned char>(marked ? 20 : 110 + stripe),
                              static_cast<unsigned char>(marked ? 20 : 40 + shade)});
        }
    }
    return image;
}

using Picture = std::vector<unsigned char>;  // RGB rows bottom to top

bool isSky(const Picture& p, std::size_t pixel) {
    for (int k = 0; k < 3; ++k) {
        if (std::abs(p[pixel * 3 + k] - app::kSkyRgb8[k]) > 2) {
            return false;
        }
    }
    return true;
}

class Elevation : public testing::Test {
  protected:
    static void SetUpTestSuite() { gl = new HeadlessGL(kWidth, kHeight, true); }
    static void TearDownTestSuite() { delete gl; }
    void SetUp() override { ASSERT_TRUE(gl->ok()) << gl->error(); }

    static Picture draw(LodTerrain& terrain, const Walker& walker, double detail, bool fog = true,
                        bool wireframe = false) {
        ElevationFrameOptions options{kWidth, kHeight, detail, wireframe, {}};
        options.fog.mode = fog ? FogChoice::Mode::Automatic : FogChoice::Mode::Off;
        drawElevationFrame(terrain, walker, options);
        Picture pixels(kWidth * kHeight * 3);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, kWidth, kHeight, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
        EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
        return pixels;
    }

    // Five fixed places over the field: (u, v, heading in degrees, eye height factor).
    static Walker at(const HeightField& field, int viewpoint) {
        static const double kViews[5][4] = {{0.5, 0.95, 0, 1},
                                            {0.5, 0.5, 45, 1},
                                            {0.2, 0.8, 90, 0.5},
                                            {0.8, 0.2, 200, 1},
                                            {0.5, 0.9, 0, 0.2}};
        const double* view = kViews[viewpoint];
        Walker walker(field);
        walker.setEyeHeight(walker.eyeHeight() * view[3]);
        walker.placeAt(view[0] * field.width(), view[1] * field.depth(), view[2] * kPi / 180);
        return walker;
    }

    static HeadlessGL* gl;
};
HeadlessGL* Elevation::gl = nullptr;

TEST_F(Elevation, APeakAppearsWhereItStandsFromTheStart) {
    const struct {
        const char* where;
        double u, v, left, right;  // where the red top must centre, as shares of the width
    } kPeaks[] = {{"north", 0.5, 0.4, 0.4, 0.6},
                  {"north-east", 0.8, 0.45, 0.5, 1.0},
                  {"north-west", 0.2, 0.45, 0.0, 0.5}};
    for (const auto& peak : kPeaks) {
        const HeightField field = fieldOf(
            [&](double u, double v) { return 20 * v + bump(u, v, peak.u, peak.v, 128, 0.06); });
        LodTerrain terrain(field, imageOf(field, peak.u, peak.v));
        const Picture picture = draw(terrain, Walker(field), 1, false);
        double sumX = 0, sumY = 0, count = 0;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                const unsigned char* p = &picture[(y * kWidth + x) * 3];
                if (p[0] > p[1] + 60 && p[0] > p[2] + 60) {
                    sumX += x, sumY += y, ++count;
                }
            }
        }
        ASSERT_GT(count, 20) << peak.where << ": the red top is not in the picture";
        EXPECT_GT(sumX / count, peak.left * kWidth) << peak.where;
        EXPECT_LT(sumX / count, peak.right * kWidth) << peak.where;
        EXPECT_GT(sumY / count, kHeight / 2) << peak.where << ": not in the upper half";
    }
}

TEST_F(Elevation, TheEyeStaysAboveTheGroundOnARandomWalk) {
    const HeightField field = fieldOf(rough);
    Walker walker(field);
    ElevationToggles toggles;
    std::mt19937 random(7);
    const char kKeys[] = "wwwwsadop[]rf";
    for (int step = 0; step < 1000; ++step) {
        handleElevationKey(walker, toggles, kKeys[random() % (sizeof kKeys - 1)]);
        const Point3 eye = walker.eye();
        ASSERT_GE(eye.x, 0);
        ASSERT_LE(eye.x, field.width());
        ASSERT_GT(eye.y, groundHeightAt(field, eye.x, eye.z)) << "step " << step;
        ASSERT_GT(eye.y, highestSampleNear(field, eye.x, eye.z, walker.stepMetres()))
            << "step " << step;
        ASSERT_GE(walker.eyeHeight(), 1.0);
    }
}

TEST_F(Elevation, KeysMoveTheWalkerAsTheClassicKeysMoveTheCamera) {
    const HeightField field = fieldOf([](double, double) { return 0.0; });
    const double w = field.width(), d = field.depth(), start = 0.95 * d;
    const struct {
        const char* keys;
        double x, z;  // where the walker stands after pressing them (step repeats stop at edges)
    } kMoves[] = {{"w", w / 2, start - w / 200},
                  {"s", w / 2, start + w / 200},
                  {"o", w / 2 + w / 200, start},
                  {"p", w / 2 - w / 200, start},
                  {"aaaaaaaaaaaaw", w / 2 - w / 200, start},
                  {"[w", w / 2, start - w / 400},
                  {"]w", w / 2, start - w / 100},
                  {"]]]]]]]]s", w / 2, d},
                  {"]]]]]]]]w", w / 2, 0},
                  {"]]]]]]]o", w, start},
                  {"]]]]]]]p", 0, start},
                  {"dddddddddddd]]]]]]]w", w, start},
                  {"W", w / 2, start - 5 * w / 200},
                  {"S", w / 2, start + 5 * w / 200},
                  {"O", w / 2 + 5 * w / 200, start},
                  {"P", w / 2 - 5 * w / 200, start},
                  {"ddddddddddddddddddddddddW", w / 2, start + 5 * w / 200},
                  {"AxQE?", w / 2, start}};
    for (const auto& move : kMoves) {
        Walker walker(field);
        ElevationToggles toggles;
        for (const char* key = move.keys; *key; ++key) {
            handleElevationKey(walker, toggles, static_cast<unsigned char>(*key));
        }
        EXPECT_NEAR(walker.x(), move.x, 1e-6) << move.keys;
        EXPECT_NEAR(walker.z(), move.z, 1e-6) << move.keys;
    }
    Walker walker(field);
    ElevationToggles toggles;
    const double eye = walker.eyeHeight();
    EXPECT_EQ(handleElevationKey(walker, toggles, 'r'), app::KeyResult::CameraChanged);
    EXPECT_NEAR(walker.eyeHeight(), eye * 1.25, 1e-9);
    for (int i = 0; i < 40; ++i) {
        handleElevationKey(walker, toggles, 'f');
    }
    EXPECT_EQ(walker.eyeHeight(), 1.0);
    EXPECT_EQ(handleElevationKey(walker, toggles, 'l'), app::KeyResult::CameraChanged);
    EXPECT_TRUE(toggles.wireframe);
    EXPECT_EQ(handleElevationKey(walker, toggles, 'h'), app::KeyResult::CameraChanged);
    EXPECT_FALSE(toggles.readout);
    EXPECT_EQ(handleElevationKey(walker, toggles, 'L'), app::KeyResult::Ignored);
    // The pitch: five degrees a press, from the start's -10 to at most 80 either way.
    const struct {
        char key;
        int presses;
        double degrees;
    } kPitches[] = {{'q', 1, -5}, {'q', 3, 5}, {'q', 40, 80}, {'e', 1, -15}, {'e', 40, -80}};
    for (const auto& pitch : kPitches) {
        Walker pitched(field);
        for (int i = 0; i < pitch.presses; ++i) {
            EXPECT_EQ(handleElevationKey(pitched, toggles, pitch.key),
                      app::KeyResult::CameraChanged);
        }
        EXPECT_NEAR(pitched.pitchRadians() * 180 / kPi, pitch.degrees, 1e-9) << pitch.key;
        const Point3 eye = pitched.eye(), centre = pitched.lookAt();
        EXPECT_NEAR(std::atan2(centre.y - eye.y, std::hypot(centre.x - eye.x, centre.z - eye.z)),
                    pitched.pitchRadians(), 1e-9);
    }
    // Arrows and page keys as their letters; Shift only lengthens a walk.
    const struct {
        ArrowKey key;
        bool shift;
        const char* same;
    } kArrows[] = {{ArrowKey::up, false, "w"},     {ArrowKey::up, true, "W"},
                   {ArrowKey::down, false, "s"},   {ArrowKey::down, true, "S"},
                   {ArrowKey::left, true, "a"},    {ArrowKey::right, false, "d"},
                   {ArrowKey::pageUp, false, "q"}, {ArrowKey::pageDown, true, "e"}};
    for (const auto& arrow : kArrows) {
        Walker byArrow(field), byLetter(field);
        handleElevationKey(byArrow, toggles, 'd');
        handleElevationKey(byLetter, toggles, 'd');
        EXPECT_EQ(handleElevationArrow(byArrow, toggles, arrow.key, arrow.shift),
                  app::KeyResult::CameraChanged);
        handleElevationKey(byLetter, toggles, static_cast<unsigned char>(*arrow.same));
        EXPECT_EQ(byArrow.x(), byLetter.x()) << arrow.same;
        EXPECT_EQ(byArrow.z(), byLetter.z()) << arrow.same;
        EXPECT_EQ(byArrow.headingRadians(), byLetter.headingRadians()) << arrow.same;
        EXPECT_EQ(byArrow.pitchRadians(), byLetter.pitchRadians()) << arrow.same;
    }
    EXPECT_EQ(handleElevationKey(walker, toggles, 27), app::KeyResult::Quit);
}

TEST_F(Elevation, CompassBearingNamesTheNearestPoint) {
    const struct {
        double degrees;
        const char* text;
    } kBearings[] = {{0, "N 000 deg"},   {47, "NE 047 deg"}, {90, "E 090 deg"},
                     {-90, "W 270 deg"}, {200, "S 200 deg"}, {359.7, "N 000 deg"}};
    for (const auto& bearing : kBearings) {
        EXPECT_EQ(compassBearing(bearing.degrees * kPi / 180), bearing.text) << bearing.degrees;
    }
}

TEST_F(Elevation, CoarseLevelsLeaveNoCracksInTheGround) {
    const HeightField field = fieldOf(rough);
    LodTerrain terrain(field, imageOf(field));
    for (int view = 0; view < 5; ++view) {
        for (const double detail : {4.0, 16.0}) {
            const Walker walker = at(field, view);
            const Picture full = draw(terrain, walker, 0, false);
            const Picture coarse = draw(terrain, walker, detail, false);
            // Ground well below every skyline: the coarse skyline may move by up to the detail.
            const int margin = static_cast<int>(2 * detail) + 2;
            int cracks = 0;
            for (int x = 0; x < kWidth; ++x) {
                for (int y = 0; y + margin < kHeight; ++y) {
                    bool ground = true;
                    for (int up = 0; up <= margin && ground; ++up) {
                        ground = !isSky(full, (y + up) * kWidth + x);
                    }
                    cracks += ground && isSky(coarse, y * kWidth + x);
                }
            }
            EXPECT_EQ(cracks, 0) << "viewpoint " << view << ", detail " << detail;
        }
    }
}

TEST_F(Elevation, DetailOneLooksLikeFullDetail) {
    const HeightField field = fieldOf(rough);
    LodTerrain terrain(field, imageOf(field));
    for (int view = 0; view < 5; ++view) {
        const Walker walker = at(field, view);
        const Picture full = draw(terrain, walker, 0);
        const Picture lod = draw(terrain, walker, 1);
        int differing = 0;
        for (std::size_t pixel = 0; pixel < full.size() / 3; ++pixel) {
            for (int k = 0; k < 3; ++k) {
                if (std::abs(full[pixel * 3 + k] - lod[pixel * 3 + k]) > 24) {
                    ++differing;
                    break;
                }
            }
        }
        EXPECT_LE(differing, kWidth * kHeight / 100) << "viewpoint " << view;
    }
}

TEST_F(Elevation, TheWireFrameDrawsBlackLinesOverTheGround) {
    const HeightField field = fieldOf(rough);
    LodTerrain terrain(field, imageOf(field));
    const Picture picture = draw(terrain, Walker(field), 1, false, true);
    int black = 0;
    for (std::size_t i = 0; i < picture.size(); i += 3) {
        black += picture[i] + picture[i + 1] + picture[i + 2] < 30;
    }
    EXPECT_GT(black, kWidth * kHeight / 20);
}

TEST_F(Elevation, TheStartShowsMostlyGroundAndTheFarEdge) {
    const Shape kFields[] = {[](double u, double v) { return 0.3 * rough(u, v); },
                             [](double u, double v) { return bump(u, v, 0.5, 0.3, 300, 0.1); },
                             [](double u, double) { return 400 * std::abs(u - 0.5); }};
    for (const Shape& shape : kFields) {
        const HeightField field = fieldOf(shape);
        LodTerrain terrain(field, imageOf(field));
        const Picture picture = draw(terrain, Walker(field), 1);
        int ground = 0;
        for (int pixel = 0; pixel < kWidth * kHeight; ++pixel) {
            ground += !isSky(picture, pixel);
        }
        EXPECT_GE(ground, kWidth * kHeight / 2);
        // Sky along the top row: the field ends in view, its far edge seen through the fog.
        for (int x = 0; x < kWidth; x += 8) {
            EXPECT_TRUE(isSky(picture, (kHeight - 1) * kWidth + x)) << "column " << x;
        }
    }
}

}  // namespace
