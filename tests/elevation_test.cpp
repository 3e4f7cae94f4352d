// Elevation mode as a user sees it: where things appear, the eye never in the ground, the walker
// stopping at the edges, no cracks or visible loss from the levels of detail, ground ahead at the
// start. Fields are small and synthetic; pictures are drawn headlessly.

#include <GL/gl.h>
#include <GL/glu.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app.h"
#include "auto_detail.h"
#include "elevation_frame.h"
#include "elevation_keys.h"
#include "elevation_pointer.h"
#include "elevation_world.h"
#include "headless_gl.h"
#include "lod_terrain.h"
#include "pick.h"
#include "streamed_terrain.h"
#include "test_files.h"
#include "walker.h"
#include "water.h"

namespace fs = std::filesystem;

namespace {

constexpr int kWidth = 320, kHeight = 240, kSide = 257;
constexpr double kSpacing = 10.0, kPi = 3.141592653589793;
using Shape = std::function<double(double u, double v)>;  // metres over the field's fractions

HeightField fieldOf(const Shape& shape, int side = kSide) {
    HeightField field{side, side, kSpacing, kSpacing, {}, {}};
    for (int r = 0; r < side; ++r) {
        for (int c = 0; c < side; ++c) {
            field.heights.push_back(static_cast<float>(shape(c / (side - 1.0), r / (side - 1.0))));
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

// Pixels where a channel differs by more than 24 levels.
int differingPixels(const Picture& a, const Picture& b) {
    int differing = 0;
    for (std::size_t pixel = 0; pixel < a.size() / 3; ++pixel) {
        for (int k = 0; k < 3; ++k) {
            if (std::abs(a[pixel * 3 + k] - b[pixel * 3 + k]) > 24) {
                ++differing;
                break;
            }
        }
    }
    return differing;
}

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

    static Picture draw(DrawnGround& terrain, const Walker& walker, double detail, bool fog = true,
                        bool wireframe = false) {
        ElevationFrameOptions options{kWidth, kHeight, {false, detail}, wireframe, {}};
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
        EXPECT_LE(differingPixels(full, lod), kWidth * kHeight / 100) << "viewpoint " << view;
    }
}

// Walking, turning and standing over rough ground far too fine for the budget at 1 px: every
// frame fits, the error never drops below 1 px, and standing still it never swings back up.
// Then, over a field small enough to draw whole, it eases back to exactly 1 px.
TEST_F(Elevation, AutoDetailKeepsTheTrianglesWithinTheBudgetOverAScriptedWalk) {
    constexpr int kWide = 1280, kHigh = 720, kLargeSide = 2049;
    std::mt19937 random(7);
    std::uniform_real_distribution<double> gravel(-30.0, 30.0);  // metres, sample to sample
    const HeightField large =
        fieldOf([&](double u, double v) { return rough(u, v) + gravel(random); }, kLargeSide);
    const HeightField small = fieldOf(rough);
    const GroundImage plain{1, 1, {90, 110, 40}};
    LodTerrain largeGround(large, plain), smallGround(small, plain);
    const ElevationFrameOptions options{kWide, kHigh, {}, false, {}};
    AutoDetail governor;

    enum class Move { walk, turn, lower, stand };
    const struct {
        Move move;
        int frames;
    } kWalk[] = {{Move::walk, 10}, {Move::turn, 8},   {Move::lower, 3},
                 {Move::walk, 8},  {Move::stand, 12}, {Move::turn, 6}};
    Walker walker(large);
    double detail = 0;
    for (const auto& leg : kWalk) {
        double stoodAt = 0;
        for (int frame = 0; frame < leg.frames; ++frame) {
            switch (leg.move) {
                case Move::walk:
                    walker.walk(3);
                    break;
                case Move::turn:
                    walker.turn(1);
                    break;
                case Move::lower:
                    walker.lowerEye();
                    break;
                case Move::stand:
                    break;
            }
            const ElevationFrame drawn =
                drawElevationFrame(largeGround, walker, options, &governor);
            SCOPED_TRACE("frame " + std::to_string(frame) + " of a leg, detail " +
                         std::to_string(drawn.detailPixels) + ", triangles " +
                         std::to_string(drawn.stats.triangles));
            EXPECT_LE(drawn.stats.triangles, kFrameTriangleBudget);
            EXPECT_GT(drawn.stats.triangles, kFrameTriangleBudget / 2);
            EXPECT_GT(drawn.detailPixels, AutoDetail::kFinestPixels);
            if (leg.move == Move::stand && frame > 0) {
                EXPECT_LE(drawn.detailPixels, stoodAt);
            }
            stoodAt = drawn.detailPixels;
            detail = drawn.detailPixels;
        }
    }
    EXPECT_EQ(governor.pixels(), detail);

    Walker over(small);
    double previous = detail;
    for (int frame = 0; frame < 120; ++frame) {
        previous = drawElevationFrame(smallGround, over, options, &governor).detailPixels;
    }
    EXPECT_EQ(previous, AutoDetail::kFinestPixels);
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

// Picks at random pixels of a drawn view land on the full-resolution bilinear surface, first
// along the ray, and project back onto the pixel clicked; aimed at a sample, they read its height
// to the last bit.
TEST_F(Elevation, APickFindsTheGroundUnderThePixelOnTheFullSurface) {
    // Whole metres, as an Int16 source holds them.
    const HeightField field = fieldOf([](double u, double v) { return std::round(rough(u, v)); });
    LodTerrain terrain(field, imageOf(field));
    const raster::SourcePlacement placement;  // source units are the field's samples
    std::mt19937 random(23);
    int picked = 0, disagreeing = 0;
    for (int view = 0; view < 5; ++view) {
        Walker walker = at(field, view);
        walker.setPitch(-25 * kPi / 180);
        const Picture picture = draw(terrain, walker, 0, false);
        GLdouble model[16], projection[16];
        GLint viewport[4];
        glGetDoublev(GL_MODELVIEW_MATRIX, model);
        glGetDoublev(GL_PROJECTION_MATRIX, projection);
        glGetIntegerv(GL_VIEWPORT, viewport);
        for (int i = 0; i < 40; ++i) {
            const int px = static_cast<int>(random() % kWidth);
            const int py = static_cast<int>(random() % kHeight);
            const auto pick =
                raster::pickAt(walker, placement, kWidth, kHeight, px + 0.5, py + 0.5);
            disagreeing += pick.has_value() == isSky(picture, (kHeight - 1 - py) * kWidth + px);
            if (!pick) {
                continue;
            }
            ++picked;
            const Point3 p = pick->point, eye = walker.eye();
            EXPECT_NEAR(p.y, groundHeightAt(field, p.x, p.z), 0.01);
            // On the ray, and nothing of the ground before it.
            const Point3 ray = raster::viewRay(walker, kWidth, kHeight, px + 0.5, py + 0.5);
            const double t = std::hypot(p.x - eye.x, p.y - eye.y, p.z - eye.z);
            EXPECT_LT(std::hypot(eye.x + t * ray.x - p.x, eye.y + t * ray.y - p.y,
                                 eye.z + t * ray.z - p.z),
                      0.01);
            for (double share = 0.002; share < 0.999; share += 0.002) {
                const Point3 q{eye.x + share * t * ray.x, eye.y + share * t * ray.y,
                               eye.z + share * t * ray.z};
                ASSERT_GT(q.y, groundHeightAt(field, q.x, q.z)) << px << "," << py;
            }
            GLdouble wx = 0, wy = 0, wz = 0;
            gluProject(p.x, p.y, p.z, model, projection, viewport, &wx, &wy, &wz);
            EXPECT_NEAR(wx, px + 0.5, 1.0);
            EXPECT_NEAR(wy, kHeight - py - 0.5, 1.0);
            EXPECT_EQ(pick->place.x, p.x / kSpacing);
            EXPECT_EQ(pick->place.y, p.z / kSpacing);
        }
        // Aimed at sample centres: the sample's own height, said exactly.
        for (int i = 0; i < 8; ++i) {
            const int c = static_cast<int>(random() % kSide),
                      r = static_cast<int>(random() % kSide);
            const Point3 eye = walker.eye();
            const Point3 sample{c * kSpacing, field.at(c, r), r * kSpacing};
            const std::optional<Point3> hit = raster::groundHit(
                field, eye, {sample.x - eye.x, sample.y - eye.y, sample.z - eye.z});
            ASSERT_TRUE(hit);
            if (std::hypot(hit->x - sample.x, hit->z - sample.z) > 1e-6) {
                continue;  // hidden behind nearer ground
            }
            EXPECT_NEAR(hit->y, sample.y, 1e-6);
            const raster::Pick pick{*hit, {}, SampleKind::data};
            char height[32];
            std::snprintf(height, sizeof height, " %.3f ", sample.y);
            EXPECT_NE(raster::pickLine(pick, walker, placement, 1).find(height), std::string::npos)
                << raster::pickLine(pick, walker, placement, 1);
        }
    }
    EXPECT_GT(picked, 100);
    // The drawn triangles and the bilinear surface part only along skylines.
    EXPECT_LE(disagreeing, 4);
}

// Drags, the wheel and keys, scripted at random: the eye never comes nearer the ground than its
// clearance, orbiting included, and a click that does not drag asks for a pick.
TEST_F(Elevation, MouseAndKeysNeverPutTheEyeUnderTheGround) {
    const HeightField field = fieldOf(rough);
    Walker walker(field);
    ElevationToggles toggles;
    ElevationPointer pointer;
    std::mt19937 random(11);
    const auto coordinate = [&](int side) { return static_cast<int>(random() % side); };
    for (int gesture = 0; gesture < 400; ++gesture) {
        const int kind = static_cast<int>(random() % 5);
        if (kind == 0) {
            handleElevationKey(walker, toggles,
                               static_cast<unsigned char>("wsadopqeWS[]rf"[random() % 14]));
        } else if (kind == 1) {
            pointer.press(walker, random() % 2 ? PointerButton::wheelUp : PointerButton::wheelDown,
                          false, 0, 0, kWidth, kHeight);
        } else {
            // Left-drags look, middle-drags and Shift+left-drags orbit.
            const PointerButton button = kind == 3 ? PointerButton::middle : PointerButton::left;
            pointer.press(walker, button, kind == 4, coordinate(kWidth), coordinate(kHeight),
                          kWidth, kHeight);
            for (int move = 0; move < 10; ++move) {
                pointer.drag(walker, coordinate(kWidth), coordinate(kHeight), kHeight);
                const Point3 eye = walker.eye();
                ASSERT_GT(eye.y, groundHeightAt(field, eye.x, eye.z) + 0.5) << gesture;
                ASSERT_GT(eye.y, highestSampleNear(field, eye.x, eye.z, walker.stepMetres()))
                    << gesture;
                ASSERT_LE(std::abs(walker.pitchRadians()), 80 * kPi / 180 + 1e-12);
            }
            pointer.release(button);
        }
        const Point3 eye = walker.eye();
        ASSERT_GT(eye.y, groundHeightAt(field, eye.x, eye.z) + 0.5) << gesture;
        ASSERT_GE(walker.clearance(), 0.5) << gesture;
    }

    Walker still(field);
    const Point3 before = still.eye();
    const struct {
        PointerButton button;
        bool shift;
        int dx;
        PointerAction released;
    } kClicks[] = {{PointerButton::left, false, 0, PointerAction::pick},
                   {PointerButton::left, false, 3, PointerAction::pick},
                   {PointerButton::left, false, 4, PointerAction::none},
                   {PointerButton::left, true, 0, PointerAction::none},
                   {PointerButton::middle, false, 0, PointerAction::none}};
    for (const auto& click : kClicks) {
        Walker clicked(field);
        EXPECT_EQ(pointer.press(clicked, click.button, click.shift, 100, 100, kWidth, kHeight),
                  PointerAction::none);
        pointer.drag(clicked, 100 + click.dx, 100, kHeight);
        EXPECT_EQ(pointer.release(click.button), click.released) << click.dx;
        EXPECT_EQ(clicked.eye().x == before.x && clicked.headingRadians() == still.headingRadians(),
                  click.dx <= ElevationPointer::kClickSlopPixels);
    }
    EXPECT_EQ(pointer.press(still, PointerButton::right, false, 5, 5, kWidth, kHeight),
              PointerAction::clearPick);
    // A look-drag across the whole height turns the view up by the field of view, to the limit.
    pointer.press(still, PointerButton::left, false, 10, kHeight - 1, kWidth, kHeight);
    pointer.drag(still, 10, kHeight / 2 - 1, kHeight);
    EXPECT_NEAR(still.pitchRadians() * 180 / kPi, -10 + 22.5, 1e-9);
}

// Standing at an edge facing out, the plain beyond it fills the lower half under the fog: a
// horizon and the world's edge, not empty sky.
TEST_F(Elevation, FacingOutwardAtAnEdgeShowsAPlainBeyondIt) {
    const Shape kFields[] = {rough, [](double u, double v) { return 800 + 300 * u * v; }};
    for (const Shape& shape : kFields) {
        const HeightField field = fieldOf(shape);
        LodTerrain terrain(field, imageOf(field));
        const double w = field.width(), d = field.depth();
        const struct {
            const char* edge;
            double x, z, heading;
        } kEdges[] = {{"north", w / 2, 0, 0},
                      {"east", w, d / 2, 90},
                      {"south", w / 2, d, 180},
                      {"west", 0, d / 2, 270}};
        for (const auto& edge : kEdges) {
            Walker walker(field);
            walker.placeAt(edge.x, edge.z, edge.heading * kPi / 180);
            const Picture picture = draw(terrain, walker, 1);
            int ground = 0;
            for (int pixel = 0; pixel < kWidth * kHeight / 2; ++pixel) {  // rows from the bottom
                ground += !isSky(picture, pixel);
            }
            EXPECT_GE(ground, kWidth * kHeight / 4) << edge.edge;
            EXPECT_TRUE(isSky(picture, (kHeight - 1) * kWidth + kWidth / 2)) << edge.edge;
        }
    }
}

}  // namespace

// Whatever the level of detail, no vertex of the ground stands on a sample without data, the sea
// lies at 0 m and a hole's floor at its placeholder height, and wherever ground meets either a
// wall reaches down to it: the ground is read back from above through OpenGL's feedback mode.
TEST_F(Elevation, NoDataIsNeverDrawnAsGroundAndTheSeaLiesAtZero) {
    struct Outline {
        const char* name;
        std::function<SampleKind(double u, double v)> kind;
        bool sea;
    };
    const std::vector<Outline> outlines = {
        {"a coast",
         [](double u, double v) {
             if (u < 0.4 + 0.05 * std::sin(20 * v)) {
                 return SampleKind::sea;
             }
             return std::hypot(u - 0.7, v - 0.5) < 0.02 ? SampleKind::filled : SampleKind::data;
         },
         true},
        {"a country",
         [](double u, double v) {
             return std::hypot(u - 0.5, v - 0.5) < 0.35 ? SampleKind::data : SampleKind::missing;
         },
         false},
    };
    std::vector<GLfloat> feedback(1 << 23);
    constexpr float kFloor = -700.0f;  // a hole's placeholder, below all of rough's ground
    for (const Outline& outline : outlines) {
        HeightField field = fieldOf(rough);
        for (int r = 0; r < kSide; ++r) {
            for (int c = 0; c < kSide; ++c) {
                const SampleKind kind = outline.kind(c / (kSide - 1.0), r / (kSide - 1.0));
                field.kinds.push_back(kind);
                if (kind == SampleKind::sea) {
                    field.heights[field.index(c, r)] = 0.0f;
                } else if (kind == SampleKind::missing) {
                    field.heights[field.index(c, r)] = kFloor;
                }
            }
        }
        const double level = outline.sea ? 0.0 : kFloor;
        LodTerrain terrain(field, imageOf(field));
        // From straight above, where window depth is linear and every corner comes back
        // exactly, at full detail and at ever coarser levels.
        const double w = field.width(), d = field.depth();
        for (const double detail : {0.0, 0.0005, 0.005}) {
            SCOPED_TRACE(std::string(outline.name) + ", detail " + std::to_string(detail));
            glFeedbackBuffer(static_cast<GLsizei>(feedback.size()), GL_3D_COLOR, feedback.data());
            glRenderMode(GL_FEEDBACK);
            glViewport(0, 0, kWidth, kHeight);
            glMatrixMode(GL_PROJECTION);
            glLoadIdentity();
            glOrtho(-w / 2, w / 2, -d / 2, d / 2, 1.0, 3000.0);
            glMatrixMode(GL_MODELVIEW);
            glLoadIdentity();
            gluLookAt(w / 2, 1500, d / 2, w / 2, 0, d / 2, 0, 0, 1);
            const LodDrawStats stats = terrain.draw({{w / 2, 1500, d / 2}, detail, false});
            const GLint used = glRenderMode(GL_RENDER);
            ASSERT_GE(used, 0) << "the feedback buffer overflowed";
            GLdouble model[16], projection[16];
            GLint viewport[4];
            glGetDoublev(GL_MODELVIEW_MATRIX, model);
            glGetDoublev(GL_PROJECTION_MATRIX, projection);
            glGetIntegerv(GL_VIEWPORT, viewport);

            int land = 0, water = 0, floor = 0, polygons = 0;
            // Samples that ground, and water or floor, have as corners, and those that something
            // of the ground's colour reaches down from to the water or floor.
            std::set<std::pair<int, int>> groundCorners, flatCorners, wallFeet;
            constexpr int kVertexFloats = 7;  // x y z r g b a
            for (GLint at = 0; at < used;) {
                const auto token = static_cast<GLenum>(feedback[at++]);
                ASSERT_EQ(token, GLenum(GL_POLYGON_TOKEN));
                const int count = static_cast<int>(feedback[at++]);
                ++polygons;
                const bool white = feedback[at + 3] > 0.99f && feedback[at + 5] > 0.99f;
                for (int k = 0; k < count; ++k, at += kVertexFloats) {
                    GLdouble x, y, z;
                    gluUnProject(feedback[at], feedback[at + 1], feedback[at + 2], model,
                                 projection, viewport, &x, &y, &z);
                    const double column = x / field.spacingEast, row = z / field.spacingSouth;
                    const int c = static_cast<int>(std::lround(column));
                    const int r = static_cast<int>(std::lround(row));
                    ASSERT_NEAR(column, c, 0.05);
                    ASSERT_NEAR(row, r, 0.05);
                    ASSERT_TRUE(c >= 0 && c < field.columns && r >= 0 && r < field.rows);
                    const bool grey = std::abs(feedback[at + 3] - kFloorRgb[0] / 255.0f) < 0.01f;
                    if (white) {
                        ++land;
                        ASSERT_TRUE(field.drawn(c, r)) << "ground on no data at " << c << ", " << r;
                        (y < level + 0.05 ? wallFeet : groundCorners).emplace(c, r);
                    } else {
                        (grey ? floor : water) += 1;
                        ASSERT_NEAR(y, level, 0.05) << "no data at " << c << ", " << r;
                        flatCorners.emplace(c, r);
                    }
                }
            }
            EXPECT_GT(land, 0);
            EXPECT_EQ(water > 0, outline.sea);
            EXPECT_EQ(floor > 0, !outline.sea);
            int shore = 0;
            for (const auto& corner : flatCorners) {
                if (groundCorners.count(corner) != 0) {
                    ++shore;
                    EXPECT_EQ(wallFeet.count(corner), 1u)
                        << "no wall down from " << corner.first << ", " << corner.second;
                }
            }
            EXPECT_GT(shore, 0);
            if (detail == 0) {  // every triangle counted, walls too: no skirts at one level
                EXPECT_EQ(polygons, stats.triangles);
            }
        }
    }
}

namespace {

// Four tiles of smooth relief, 2 x 2, in a folder of ASCII grids: a small mosaic.
void writeTiles(const std::string& folder, int side) {
    mkdir(folder.c_str(), 0700);
    for (int tile = 0; tile < 4; ++tile) {
        const int west = (tile % 2) * side, south = (1 - tile / 2) * side;
        std::ofstream out(folder + "/tile" + std::to_string(tile) + ".asc");
        out << "ncols " << side << "\nnrows " << side << "\nxllcorner " << west * kSpacing
            << "\nyllcorner " << south * kSpacing << "\ncellsize " << kSpacing << "\n";
        for (int r = 0; r < side; ++r) {
            for (int c = 0; c < side; ++c) {
                const double u = (west + c) / (2.0 * side), v = (side - south + r) / (2.0 * side);
                out << std::lround(400 * std::sin(6 * u) * std::cos(5 * v) + 600) << ' ';
            }
            out << '\n';
        }
    }
}

}  // namespace

namespace {

// A coast in an ASCII grid of side x side samples, kSpacing apart: sea (nodata) west of a
// shore whose cliffs stand 2 to 74 m high, land rising east, and a hole of nodata 80 samples
// across east of the middle, too large to fill and far above the sea.
void writeCoast(const std::string& path, int side) {
    std::ofstream out(path);
    out << "ncols " << side << "\nnrows " << side << "\nxllcorner 0\nyllcorner 0\ncellsize "
        << kSpacing << "\nNODATA_value -9999\n";
    for (int r = 0, shore = side / 4; r < side; ++r, out << '\n') {
        for (int c = 0; c < side; ++c) {
            const bool hole = std::abs(c - side / 2 - 40) < 40 && std::abs(r - side / 2) < 40;
            const double cliff = 38 + 36 * std::sin(r / 7.0);
            out << (c < shore || hole
                        ? -9999
                        : std::lround(cliff + 4.0 * (c - shore) + 30 * std::sin((c - shore) / 5.0)))
                << ' ';
        }
    }
}

// Pixels of the last frame below the horizon whose ray comes down inside the field's footprint
// above its lowest surface, yet met nothing: sky through a gap.
int skyBelowTheGround(const Walker& walker, const DrawnGround& ground) {
    // Streamed chunks' outermost samples lie up to half a coarse sample inside the field's edge.
    constexpr double kMargin = 2 * kSpacing;
    std::vector<GLfloat> depth(kWidth * kHeight);
    glReadPixels(0, 0, kWidth, kHeight, GL_DEPTH_COMPONENT, GL_FLOAT, depth.data());
    const HeightField& field = walker.field();
    const double floor = std::min<double>(ground.lowestHeight(), 0.0);
    const Point3 eye = walker.eye();
    int gaps = 0;
    for (int py = 0; py < kHeight; ++py) {
        for (int px = 0; px < kWidth; ++px) {
            const Point3 ray = raster::viewRay(walker, kWidth, kHeight, px + 0.5, py + 0.5);
            const double t = (floor - eye.y) / ray.y;  // > 0 below the horizon
            const double x = eye.x + t * ray.x, z = eye.z + t * ray.z;
            const bool inside = t > 0 && x > kMargin && x < field.width() - kMargin &&
                                z > kMargin && z < field.depth() - kMargin;
            gaps +=
                inside && depth[static_cast<std::size_t>(kHeight - 1 - py) * kWidth + px] >= 1.0f;
        }
    }
    return gaps;
}

}  // namespace

// Over the sea and into a hole without data, from above, along and from afar, held and streamed
// at every level while it arrives: no sky shows below the ground, so nothing floats. Picks down
// the middle say "sea" or "nodata" on both lines, and a height difference only between heights.
TEST_F(Elevation, SeaAndHolesShowNoSkyBelowTheGroundAndPicksSayWhatTheyAre) {
    constexpr int kCoastSide = 200;
    TemporaryFolder folder;
    writeCoast(folder.file("coast.asc"), kCoastSide);
    raster::ElevationWorld held = raster::loadElevationWorld(folder.file("coast.asc"), 1);
    ASSERT_FALSE(held.stream);
    ASSERT_EQ(held.grid.noData.seaRegions, 1);
    ASSERT_EQ(held.grid.noData.missingRegions, 1);
    setenv("GROUNDVIEW_STREAM_ABOVE", "100", 1);
    setenv("XDG_CACHE_HOME", folder.file("cache").c_str(), 1);
    raster::ElevationWorld streamed = raster::loadElevationWorld(folder.file("coast.asc"), 1);
    unsetenv("GROUNDVIEW_STREAM_ABOVE");
    unsetenv("XDG_CACHE_HOME");
    ASSERT_TRUE(streamed.stream);
    const double side = (kCoastSide - 1) * kSpacing;
    const auto word = [](SampleKind kind, bool line) -> std::string {
        return kind == SampleKind::sea       ? "sea"
               : kind == SampleKind::missing ? "nodata"
               : line                        ? R"(-?\d+\.\d{3})"
                                             : R"(height -?\d+ m( \(filled\))?)";
    };
    std::set<std::pair<SampleKind, SampleKind>> picked;  // where the walker stood, what it picked
    const struct {
        const char* name;
        double u, v, headingDegrees, pitchDegrees, eyeMetres;
    } kViews[] = {{"down into the hole", 0.7, 0.5, 90, -60, 400},
                  {"along the hole", 0.45, 0.5, 90, -8, 30},
                  {"at the cliffs from the sea", 0.05, 0.5, 90, -5, 20},
                  {"along the coast", 0.2, 0.98, 0, -10, 60},
                  {"from afar", 0.02, 0.02, 135, -20, 900}};
    for (raster::ElevationWorld* world : {&held, &streamed}) {
        const std::unique_ptr<DrawnGround> ground = raster::groundOf(*world);
        for (const auto& view : kViews) {
            for (const double detail : {0.0, 4.0, 16.0}) {
                SCOPED_TRACE(std::string(world->stream ? "streamed, " : "held, ") + view.name +
                             ", detail " + std::to_string(detail));
                Walker walker(world->grid.field);
                walker.placeAt(view.u * side, view.v * side,
                               view.headingDegrees * kRadiansPerDegree);
                walker.setEyeHeight(view.eyeMetres);
                walker.setPitch(view.pitchDegrees * kRadiansPerDegree);
                int frames = 0;
                do {
                    draw(*ground, walker, detail);
                    // Where streamed chunks of two levels meet, rounding may leave a pixel or two.
                    ASSERT_LE(skyBelowTheGround(walker, *ground), world->stream ? 2 : 0)
                        << "frame " << frames;
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                } while (!ground->settled() && ++frames < 5000);
                const SampleKind under = raster::kindNear(walker.field(), walker.x(), walker.z());
                const raster::SourcePlacement& place = world->grid.placement;
                for (int py = kHeight / 2; py < kHeight && detail == 0; py += 8) {
                    const auto pick =
                        raster::pickAt(walker, place, kWidth, kHeight, kWidth / 2, py + 0.5);
                    if (!pick) {
                        continue;
                    }
                    picked.emplace(under, pick->kind);
                    const bool heights =
                        under <= SampleKind::filled && pick->kind <= SampleKind::filled;
                    const std::string difference =
                        heights ? R"(  (\d+ m (above|below)|level with) your ground)"
                        : pick->kind <= SampleKind::filled ? "  your ground " + word(under, false)
                                                           : "";
                    const std::string text = raster::pickText(*pick, walker, place, 1);
                    EXPECT_TRUE(std::regex_search(
                        text, std::regex("  " + word(pick->kind, false) + R"(  distance \d+ m)" +
                                         difference + "$")))
                        << text;
                    const std::string line = raster::pickLine(*pick, walker, place, 1);
                    EXPECT_TRUE(std::regex_match(
                        line, std::regex(R"(pick \S+ \S+ )" + word(pick->kind, true) + R"( \S+)")))
                        << line;
                }
            }
        }
    }
    // From data, the sea and the hole, at data, the sea and the hole.
    EXPECT_GE(picked.size(), 6u);
}

TEST_F(Elevation, StreamedGroundArrivesCoarseFirstWithinItsCapAndEndsAsTheHeldPicture) {
    TemporaryFolder folder;
    writeTiles(folder.file("tiles"), 160);
    const raster::ElevationSource source(folder.file("tiles"));
    raster::ElevationWorld held = raster::loadElevationWorld(source, 1);
    ASSERT_FALSE(held.stream);
    const std::unique_ptr<DrawnGround> heldGround = raster::groundOf(held);
    for (const long long cap : {0LL, 2'500'000LL}) {  // the default, then one the views outgrow
        setenv("GROUNDVIEW_STREAM_ABOVE", "100", 1);
        setenv("XDG_CACHE_HOME", folder.file("cache").c_str(), 1);  // the pyramid's
        setenv("GROUNDVIEW_CHUNK_CACHE_BYTES", std::to_string(cap).c_str(), 1);
        // The tiles have no overviews: the first open builds their pyramid into the cache, the
        // second finds it there; nothing is written beside them.
        int builds = 0;
        raster::ElevationWorld streamed =
            raster::loadElevationWorld(source, 1, [&builds](double) { ++builds; });
        EXPECT_EQ(builds > 0, cap == 0) << "cap " << cap;
        int pyramids = 0;  // each beside the record of its source
        for (const auto& entry : fs::directory_iterator(folder.file("cache") + "/groundview")) {
            pyramids += entry.path().extension() == ".tif" ? 1 : 0;
        }
        EXPECT_EQ(pyramids, 1);
        EXPECT_EQ(
            std::distance(fs::directory_iterator(folder.file("tiles")), fs::directory_iterator()),
            4);
        ASSERT_TRUE(streamed.stream);
        const int top = streamed.stream->recipe.layout.topLevel();
        const std::unique_ptr<DrawnGround> drawn = raster::groundOf(streamed);
        unsetenv("GROUNDVIEW_STREAM_ABOVE");
        unsetenv("GROUNDVIEW_CHUNK_CACHE_BYTES");
        unsetenv("XDG_CACHE_HOME");
        auto& ground = dynamic_cast<StreamedTerrain&>(*drawn);
        for (int view = 0; view < 5; ++view) {
            const Walker walker = at(held.grid.field, view);
            const Picture want = draw(*heldGround, walker, 0);
            Picture got;
            int finest = top, frames = 0;
            do {
                got = draw(ground, walker, 0);
                ASSERT_LE(ground.cacheBytes(), ground.cacheCap());
                // Nothing finer than the top until the top is drawn, and finer from then on
                // while the cap holds all the view asks for.
                if (cap == 0) {
                    ASSERT_LE(ground.finestDrawn(), finest)
                        << "view " << view << ", frame " << frames;
                }
                finest = ground.finestDrawn();
                if (view == 0 && frames == 0) {
                    EXPECT_EQ(ground.coarsestDrawn(), top);
                    EXPECT_EQ(finest, top);
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            } while (!ground.settled() && ++frames < (cap == 0 ? 5000 : 500));
            EXPECT_GE(finest, 0) << "view " << view << ", cap " << cap;  // ground, always
            if (cap == 0) {  // everything the view asks for fits
                EXPECT_TRUE(ground.settled()) << "view " << view;
                EXPECT_EQ(finest, 0) << "view " << view;
                EXPECT_LE(differingPixels(want, got), kWidth * kHeight / 200) << "view " << view;
            }
        }
        // The readout's ground at every tenth sample centre is the source's own height.
        const HeightField& field = held.grid.field;
        for (int r = 0; r < field.rows; r += 10) {
            for (int c = 0; c < field.columns; c += 10) {
                const StreamLayout& layout = streamed.stream->recipe.layout;
                const std::optional<double> metres =
                    sourceHeightAt(streamed.stream->recipe, layout.worldX(c), layout.worldZ(r));
                ASSERT_TRUE(metres.has_value()) << c << ", " << r;
                ASSERT_EQ(*metres, field.at(c, r)) << c << ", " << r;
            }
        }
        EXPECT_LE(ground.peakCacheBytes(), ground.cacheCap());
        if (cap != 0) {
            EXPECT_EQ(ground.cacheCap(), static_cast<std::size_t>(cap));
        }
    }
}
