#include "render.h"

#include <GL/gl.h>
#include <gdal_utils.h>
#include <gtest/gtest.h>
#include <stb/stb_image.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <sstream>
#include <tuple>

#include "elevation_scene.h"
#include "elevation_world.h"
#include "generate.h"
#include "headless_gl.h"
#include "open_world.h"
#include "pick.h"
#include "relief_image.h"
#include "test_files.h"
#include "tool_error.h"
#include "tool_runner.h"
#include "walker.h"
#include "where.h"

namespace fs = std::filesystem;
using groundtool::RenderOptions;

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;
const Rgb kSky = {120, 182, 233};

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<Rgb> pixels;
    Rgb at(int x, int y) const { return pixels[static_cast<std::size_t>(y * width + x)]; }
};

Picture readPng(const std::string& path) {
    int width = 0;
    int height = 0;
    int channels = 0;
    std::unique_ptr<stbi_uc, void (*)(void*)> data(
        stbi_load(path.c_str(), &width, &height, &channels, 3), &stbi_image_free);
    Picture picture;
    if (!data) {
        return picture;
    }
    picture.width = width;
    picture.height = height;
    for (int i = 0; i < width * height; ++i) {
        picture.pixels.push_back({data.get()[3 * i], data.get()[3 * i + 1], data.get()[3 * i + 2]});
    }
    return picture;
}

bool isSky(Rgb c) {
    auto near = [](int a, int b) { return a - b <= 1 && b - a <= 1; };
    return near(c.r, kSky.r) && near(c.g, kSky.g) && near(c.b, kSky.b);
}

bool rowIsSky(const Picture& picture, int y) {
    for (int x = 0; x < picture.width; ++x) {
        if (!isSky(picture.at(x, y))) {
            return false;
        }
    }
    return true;
}

int skyPixels(const Picture& picture) {
    int count = 0;
    for (const Rgb& c : picture.pixels) {
        count += isSky(c) ? 1 : 0;
    }
    return count;
}

std::string withoutPrefix(std::string text, const std::string& prefix) {
    for (std::size_t at; (at = text.find(prefix)) != std::string::npos;) {
        text.erase(at, prefix.size());
    }
    return text;
}

class Render : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directory(world(""));
        groundtool::GenerateOptions options;
        options.folder = world("");
        std::ostringstream out;
        groundtool::runGenerate(options, out);
    }

    // A file in the generated world.
    std::string world(const std::string& name) const { return folder_.file("world/" + name); }

    // The generated world rendered into view.png in the test's folder; the warnings name the
    // world's folder as "world", as they would for a user working in the folder above it.
    Picture render(const std::string& eye, double heading,
                   const std::string& expectedWarnings = "") const;

    TemporaryFolder folder_;
};

Picture Render::render(const std::string& eye, double heading,
                       const std::string& expectedWarnings) const {
    RenderOptions options;
    options.terrain = world("ground.3dt");
    options.output = folder_.file("view.png");
    options.width = kWidth;
    options.height = kHeight;
    if (!eye.empty()) {
        const auto position = groundtool::parseEye(eye);
        options.eyeX = position->x;
        options.eyeZ = position->z;
    }
    options.view.start.headingDegrees = heading;
    options.force = true;
    std::ostringstream out;
    std::ostringstream warnings;
    groundtool::runRender(options, out, warnings);
    EXPECT_EQ(withoutPrefix(warnings.str(), folder_.path() + "/"), expectedWarnings);
    return readPng(folder_.file("view.png"));
}

}  // namespace

TEST_F(Render, StartViewShowsSkyAboveAndFoggedGroundBelow) {
    const Picture picture = render("", 0.0);
    ASSERT_EQ(picture.width, kWidth);
    ASSERT_EQ(picture.height, kHeight);
    EXPECT_TRUE(rowIsSky(picture, 0));
    EXPECT_TRUE(rowIsSky(picture, kHeight / 2));

    // The whole bottom row is ground: the viewport covers the whole window.
    double luminance = 0.0;
    double green = 0.0;
    double blue = 0.0;
    for (int x = 0; x < kWidth; ++x) {
        const Rgb c = picture.at(x, kHeight - 1);
        EXPECT_FALSE(isSky(c)) << "x " << x;
        luminance += (c.r + c.g + c.b) / 3.0;
        green += c.g;
        blue += c.b;
    }
    // Earth colours under white fog, not the near-black of OpenGL's default fog, which only the
    // first frame uses.
    EXPECT_GT(luminance / kWidth, 90.0);
    EXPECT_GT(green, blue);

    // The far edge of the ground (z = -32) shows where a 45 degree field of view puts a point
    // 32 units ahead and 2 -+ 0.3 units (the height range) below the eye, give or take the
    // 2-pixel wire-frame line.
    int edge = 0;
    while (edge < kHeight && isSky(picture.at(kWidth / 2, edge))) {
        ++edge;
    }
    const double tanHalfView = 0.41421356;
    auto rowBelowEye = [&](double drop) {
        return kHeight / 2.0 * (1.0 + drop / 32.0 / tanHalfView);
    };
    EXPECT_GE(edge, rowBelowEye(2.0 - 0.3) - 1.5);
    EXPECT_LE(edge, rowBelowEye(2.0 + 0.3) + 1.5);
}

TEST_F(Render, EyeAndHeadingPlaceTheCamera) {
    // Beyond the far side of the grid (z up to 31), looking back along -z sees ground; turned
    // round, nothing.
    EXPECT_LT(skyPixels(render("0,40", 0.0)), kWidth * kHeight * 9 / 10);
    EXPECT_EQ(skyPixels(render("0,40", 180.0)), kWidth * kHeight);
    // West of the grid (x from -32), a right turn of 90 degrees looks along +x onto it, a left
    // turn away from it.
    EXPECT_LT(skyPixels(render("-40,0", 90.0)), kWidth * kHeight * 9 / 10);
    EXPECT_EQ(skyPixels(render("-40,0", -90.0)), kWidth * kHeight);
}

TEST_F(Render, WarnsOfWhatTheViewerWouldSayOrSilentlyLack) {
    const Picture textured = render("", 0.0);
    fs::remove(world("1.bmp"));
    const Picture bare =
        render("", 0.0,
               "groundtool: no usable texture 1.bmp in world; the ground is untextured, as in the "
               "viewer\n");
    // Untextured ground is white under white fog: brighter than the textured ground.
    auto bottomLuminance = [](const Picture& picture) {
        double sum = 0.0;
        for (int x = 0; x < picture.width; ++x) {
            const Rgb c = picture.at(x, picture.height - 1);
            sum += c.r + c.g + c.b;
        }
        return sum;
    };
    EXPECT_GT(bottomLuminance(bare), bottomLuminance(textured) * 1.2);

    Bytes terrain = readFile(world("ground.3dt"));
    terrain[6] = 0;  // tileX
    writeFile(world("ground.3dt"), terrain);
    writeFile(world("1.bmp"), solidBitmapBytes(4, 4, {10, 200, 10}));
    render("", 0.0,
           "groundtool: the viewer would write to standard error: tex_tile_x must be positive\n");
}

TEST_F(Render, TextureTheViewerCannotUploadFailsWithoutAPicture) {
    HeadlessGL probe(16, 16);
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    writeFile(world("1.bmp"), solidBitmapBytes(2 * maxSize, 1, {1, 2, 3}));
    try {
        render("", 0.0);
        FAIL() << "rendered a terrain the viewer would quit on";
    } catch (const groundtool::ToolError& error) {
        EXPECT_NE(std::string(error.what()).find("the viewer would end at its first frame"),
                  std::string::npos)
            << error.what();
    }
    EXPECT_FALSE(fileExists(folder_.file("view.png")));
}

TEST(RenderOptions, EyeTakesTwoNumbers) {
    ASSERT_TRUE(groundtool::parseEye("1.5,-20"));
    EXPECT_EQ(groundtool::parseEye("1.5,-20")->x, 1.5);
    EXPECT_EQ(groundtool::parseEye("1.5,-20")->z, -20.0);
    for (const char* bad : {"abc", "1", "1,", ",2", "1,2,3", "1;2", "nan,0", "1, 2", "inf,1"}) {
        EXPECT_FALSE(groundtool::parseEye(bad)) << bad;
    }
    EXPECT_EQ(groundtool::defaultRenderOutput("worlds/ground.3dt"), "ground.png");
}

TEST(RenderRaster, FacesItsHeadingFromWhereItStandsAndRefusesWhatIsNoRaster) {
    TemporaryFolder folder;
    // 60 x 60 cells of 30 m; the walk starts at column 30, row 56 (the south edge's middle,
    // inset), facing north.
    const auto summitAt = [](double column, double row) {
        return [=](int x, int y) {
            return 100 + 150 * std::exp(-(std::pow(x - column, 2) + std::pow(y - row, 2)) / 60);
        };
    };
    const Raster utm = {"GTiff", 60, 60, GDT_Int16, {500000, 30, 0, 5100000, 0, -30}, 32632, 0};
    writeRaster(folder.file("north.tif"), utm, summitAt(30, 15));
    writeRaster(folder.file("east.tif"), utm, summitAt(54, 56));
    // The ground's top in a column of the picture: its first row that is not sky.
    const auto groundTop = [](const std::vector<std::uint8_t>& rgb, int x) {
        int y = 0;
        while (y < kHeight && isSky({rgb[3 * (y * kWidth + x)], rgb[3 * (y * kWidth + x) + 1],
                                     rgb[3 * (y * kWidth + x) + 2]})) {
            ++y;
        }
        return y;
    };
    struct Case {
        const char* file;
        double heading;
        std::optional<std::pair<double, double>> at;
        bool summitAhead;  // the ground rises in the middle, in the upper half of the picture
    };
    const std::vector<Case> cases = {
        {"north.tif", 0, {}, true},
        {"east.tif", 90, {}, true},
        {"east.tif", 0, {}, false},
        {"north.tif", 180, {}, false},
        // On the summit itself, looking down its north side.
        {"north.tif", 0, std::pair{500915.0, 5099535.0}, false},
    };
    for (const Case& c : cases) {
        RenderOptions options;
        options.terrain = folder.file(c.file);
        options.width = kWidth;
        options.height = kHeight;
        options.view.start.headingDegrees = c.heading;
        options.view.start.at = c.at;
        std::vector<std::string> warnings;
        const std::vector<std::uint8_t> rgb = groundtool::renderFrame(options, warnings);
        const int middle = groundTop(rgb, kWidth / 2);
        const int sides = std::min(groundTop(rgb, kWidth / 10), groundTop(rgb, kWidth * 9 / 10));
        EXPECT_EQ(middle < kHeight / 2 && middle + 10 < sides, c.summitAhead)
            << c.file << " heading " << c.heading << ": middle " << middle << ", sides " << sides;
    }

    // Over the field's highest sample, the readout names the source's summit pixel to within
    // half a cell, and the true ground there to within one cell's fall, whatever the
    // exaggeration: cones 250 m high, falling 20 m a pixel.
    const HeightAt cone = [](int x, int y) { return 250 - 20 * std::hypot(x - 30, y - 15); };
    writeRaster(folder.file("cone.tif"), utm, cone);
    writeRaster(folder.file("degrees.tif"),
                {"GTiff", 60, 40, GDT_Int16, {7, 1.0 / 1200, 0, 46.2, 0, -1.0 / 1200}, 4326, 0},
                cone);
    writeRaster(folder.file("local.tif"), {"GTiff", 60, 60, GDT_Int16, {0, 30, 0, 0, 0, -30}, 0, 0},
                cone);
    // Each ends with the pixel error the ground is drawn with, full detail said as 0; the eye's
    // altitude is said where heights are metres: not without a coordinate system.
    const std::vector<
        std::tuple<const char*, const char*, double, double, double, double, const char*, double>>
        readouts = {
            {"cone.tif", "E %lf N %lf%*[^g]ground %lf", 500915, 5099535, 1.0, 1.0,
             "  detail 1.0 px", 25},
            {"cone.tif", "E %lf N %lf%*[^g]ground %lf", 500915, 5099535, raster::kMinExaggeration,
             0.0, "  detail 0 px", -80},
            {"degrees.tif", "%lf N %lf E%*[^g]ground %lf", 7 + 30.5 / 1200, 46.2 - 15.5 / 1200, 1.0,
             3.24, "  detail 3.2 px", 0},
            {"degrees.tif", "%lf N %lf E%*[^g]ground %lf", 7 + 30.5 / 1200, 46.2 - 15.5 / 1200,
             raster::kMaxExaggeration, 12.96, "  detail 13.0 px", -10},
            {"local.tif", "E %lf N %lf%*[^g]ground %lf", 915, -465, 1.0, 1.0, "  detail 1.0 px",
             -10},
        };
    for (const auto& [file, format, summitX, summitY, exaggeration, detail, ending, pitch] :
         readouts) {
        const bool altitude = std::strcmp(file, "local.tif") != 0;
        const raster::ElevationWorld world =
            raster::loadElevationWorld(folder.file(file), exaggeration);
        const HeightField& field = world.grid.field;
        const auto highest = std::max_element(field.heights.begin(), field.heights.end());
        const auto sample = static_cast<int>(highest - field.heights.begin());
        Walker walker(field);
        walker.placeAt(sample % field.columns * field.spacingEast,
                       sample / field.columns * field.spacingSouth, 0);
        walker.setPitch(pitch * kRadiansPerDegree);
        const std::string where =
            raster::whereText(walker, world.grid.placement, exaggeration, detail);
        const std::string end = ending;
        EXPECT_EQ(where.substr(where.size() - std::min(where.size(), end.size())), end);
        double first = 0, second = 0, ground = 0;
        ASSERT_EQ(std::sscanf(where.c_str(), format, &first, &second, &ground), 3) << where;
        const bool latitudeFirst = format[0] == '%';
        EXPECT_NEAR(latitudeFirst ? second : first, summitX,
                    std::abs(world.grid.placement.stepX) / 2)
            << where;
        EXPECT_NEAR(latitudeFirst ? first : second, summitY,
                    std::abs(world.grid.placement.stepY) / 2)
            << where;
        char pitchText[32];
        std::snprintf(pitchText, sizeof pitchText, "  pitch %+d deg  ", static_cast<int>(pitch));
        EXPECT_NE(where.find(pitchText), std::string::npos) << where;
        const char* eye = std::strstr(where.c_str(), "  eye ");
        double above = 0, alt = 0;
        EXPECT_EQ(std::sscanf(eye ? eye : "", "  eye %lf m above, alt %lf m", &above, &alt),
                  altitude ? 2 : 1)
            << where;
        EXPECT_NEAR(alt, altitude ? ground + above : 0.0, 1.0) << where;
        EXPECT_NEAR(ground, 250, 20) << where;
    }

    // The same cone cut into four tiles: a folder of them, joined by the reader, shows what a VRT
    // of them made with gdalbuildvrt shows, to the byte.
    fs::create_directory(folder.file("tiles"));
    std::vector<std::string> quarters;
    for (int tile = 0; tile < 4; ++tile) {
        const int left = tile % 2 * 30;
        const int top = tile / 2 * 30;
        quarters.push_back(folder.file("tiles/" + std::to_string(tile) + ".tif"));
        writeRaster(quarters.back(),
                    {"GTiff",
                     30,
                     30,
                     GDT_Int16,
                     {500000.0 + 30 * left, 30, 0, 5100000.0 - 30 * top, 0, -30},
                     32632,
                     -32768},
                    [&](int x, int y) { return cone(x + left, y + top); });
    }
    std::vector<const char*> names;
    for (const std::string& quarter : quarters) {
        names.push_back(quarter.c_str());
    }
    GDALDatasetH vrt =
        GDALBuildVRT(folder.file("cone.vrt").c_str(), 4, nullptr, names.data(), nullptr, nullptr);
    ASSERT_NE(vrt, nullptr);
    GDALClose(vrt);
    for (const char* source : {"tiles", "cone.vrt"}) {
        const ToolRun drawn =
            runTool({"render", source, "--out", std::string(source) + ".png"}, folder.path());
        EXPECT_EQ(drawn.status, 0) << drawn.err;
    }
    EXPECT_EQ(readFile(folder.file("tiles.png")), readFile(folder.file("cone.vrt.png")));

    writeFile(folder.file("notes.txt"), Bytes{'n', 'o'});
    const ToolRun run = runTool({"render", "notes.txt"}, folder.path());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.rfind("groundtool: cannot read notes.txt: not a raster", 0), 0u) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_FALSE(fileExists(folder.file("notes.png")));
}

TEST(RenderRaster, StandsWhereAskedInEitherCoordinatesLooksAsPitchedAndRefusesElsewhere) {
    TemporaryFolder folder;
    // 60 x 60 cells of 30 m: sample centres from 500015 to 501785 east, 5098215 to 5099985 north.
    const Raster utm = {"GTiff", 60, 60, GDT_Int16, {500000, 30, 0, 5100000, 0, -30}, 32632, 0};
    writeRaster(folder.file("hills.tif"), utm,
                [](int x, int y) { return 300 + 80 * std::sin(x / 5.0) * std::cos(y / 7.0); });
    const auto render = [&](const RenderOptions& asked) {
        RenderOptions options = asked;
        options.terrain = folder.file("hills.tif");
        options.width = kWidth;
        options.height = kHeight;
        std::vector<std::string> warnings;
        return groundtool::renderFrame(options, warnings);
    };
    const auto skyShare = [](const std::vector<std::uint8_t>& rgb) {
        int sky = 0;
        for (std::size_t i = 0; i < rgb.size(); i += 3) {
            sky += isSky({rgb[i], rgb[i + 1], rgb[i + 2]});
        }
        return sky / static_cast<double>(kWidth * kHeight);
    };

    RenderOptions inMetres;
    inMetres.view.start.at = std::pair{500915.0, 5099100.0};
    inMetres.view.start.headingDegrees = 135;
    const raster::ElevationWorld world = raster::loadElevationWorld(folder.file("hills.tif"), 1);
    double lon = 0, lat = 0;
    ASSERT_TRUE(world.grid.placement.latLon.toLatLon(500915.0, 5099100.0, lat, lon));
    RenderOptions inDegrees = inMetres;
    inDegrees.view.start.at.reset();
    inDegrees.view.start.atLatLon = std::pair{lat, lon};
    EXPECT_EQ(render(inMetres), render(inDegrees));

    const struct {
        double pitch;
        double lowestSky, highestSky;  // shares of the picture
    } kPitches[] = {{-80, 0, 0}, {-10, 0.2, 0.7}, {80, 1, 1}};
    for (const auto& pitched : kPitches) {
        RenderOptions options = inMetres;
        options.view.start.pitchDegrees = pitched.pitch;
        const double share = skyShare(render(options));
        EXPECT_GE(share, pitched.lowestSky) << pitched.pitch;
        EXPECT_LE(share, pitched.highestSky) << pitched.pitch;
    }

    // The data reaches to its outer cells' edges, included; gdaltransform puts its corners from
    // 46.0373715 to 46.0535744 N and 9 to 9.0232686 E.
    const std::string metres =
        "easting from 500000.00 to 501800.00 and northing from "
        "5098200.00 to 5100000.00";
    const std::string help = " (see groundtool render --help)";
    const struct {
        std::optional<std::pair<double, double>> at, atLatLon;
        std::string message;  // empty: rendered
    } kPlaces[] = {
        {std::pair{500000.0, 5098200.0}, {}, ""},
        {std::pair{501800.0, 5100000.0}, {}, ""},
        {std::pair{500900.0, 5100000.01},
         {},
         "--at: 500900,5100000.01 is outside the data: " + metres + help},
        {std::pair{8.5, 47.7},
         {},
         "--at: 8.5,47.7 is outside the data: " + metres + "; did you mean --at-latlon 47.7,8.5?" +
             help},
        {{},
         std::pair{46.04, 7.0},
         "--at-latlon: 46.04,7 is outside the data: latitude from 46.037372 to 46.053574 and "
         "longitude from 9.000000 to 9.023269" +
             help},
    };
    for (const auto& place : kPlaces) {
        RenderOptions options;
        options.view.start.at = place.at;
        options.view.start.atLatLon = place.atLatLon;
        try {
            render(options);
            EXPECT_EQ("", place.message);
        } catch (const groundtool::ToolError& error) {
            EXPECT_EQ(error.status(), groundtool::kExitUsage);
            EXPECT_EQ(error.what(), place.message);
        }
    }
}

// A hill stored in whole metres renders as its float original does: 10 m cells, steps 3 to 10
// cells apart on the gentle hill's flanks, under a cell on the steep one's.
TEST(RenderRaster, WholeMetreCopiesRenderAsTheirFloatOriginals) {
    TemporaryFolder folder;
    for (const auto& [rise, spread] : {std::pair{30.0, 60.0}, {400.0, 40.0}}) {
        std::vector<std::uint8_t> pictures[2];
        for (const GDALDataType type : {GDT_Float32, GDT_Int16}) {
            RenderOptions options;
            options.terrain = folder.file(GDALGetDataTypeName(type)) + ".tif";
            writeRaster(options.terrain,
                        {"GTiff", 240, 240, type, {500000, 10, 0, 5100000, 0, -10}, 32632, 0},
                        [&, r = rise, s = spread](int x, int y) {
                            const double d2 = std::pow(x - 120, 2) + std::pow(y - 100, 2);
                            const double h = 800 + r * std::exp(-d2 / (2 * s * s));
                            return type == GDT_Int16 ? std::round(h) : h;
                        });
            options.width = kWidth;
            options.height = kHeight;
            options.view.start.pitchDegrees = -30;
            std::vector<std::string> warnings;
            pictures[type == GDT_Int16] = groundtool::renderFrame(options, warnings);
        }
        ASSERT_EQ(pictures[0].size(), pictures[1].size());
        int apart = 0;  // pixels with a channel more than 8 levels off
        for (std::size_t i = 0; i < pictures[0].size(); i += 3) {
            apart += std::abs(pictures[0][i] - pictures[1][i]) > 8 ||
                     std::abs(pictures[0][i + 1] - pictures[1][i + 1]) > 8 ||
                     std::abs(pictures[0][i + 2] - pictures[1][i + 2]) > 8;
        }
        EXPECT_LE(apart, kWidth * kHeight / 200) << rise;
    }
}

// The step is read from the heights, whatever held them: whole metres, a scaled band's
// decimetres with an offset, feet; float heights have none and are shaded as they are.
TEST(RenderRaster, WholeStepsAreFoundInTheHeightsAndOnlyThere) {
    for (const auto& [step, offset] :
         {std::pair{1.0, 0.0}, {0.1, 0.05}, {0.3048, 0.0}, {0.0, 0.0}}) {
        HeightField field{60, 40, 10, 10, {}, std::vector<SampleKind>(2400, SampleKind::data)};
        for (int i = 0; i < 2400; ++i) {
            const double h =
                1500 + 40 * std::exp(-(std::pow(i % 60, 2) + std::pow(i / 60, 2)) / 900);
            field.heights.push_back(
                static_cast<float>(step > 0 ? offset + step * std::round(h / step) : h));
        }
        field.kinds[0] = SampleKind::missing;  // its placeholder counts for nothing
        field.heights[0] = 0.3f;
        const std::optional<double> found = raster::heightStep(field);
        EXPECT_NEAR(found.value_or(0.0), step, 1e-4);
        if (!found) {
            EXPECT_EQ(raster::shadingHeights(field, found), field.heights);
        }
    }
}

// Aimed at sample centres of a real-shaped tile from where the viewer starts, a pick reads what
// GDAL reads there, and a script reads the same from its line.
TEST(RenderRaster, APickAtASampleReadsWhatGdalReads) {
    TemporaryFolder folder;
    const std::string tile = folder.file("tile.tif");
    writeRaster(tile,
                {"GTiff", 120, 90, GDT_Int16, {7, 1.0 / 1200, 0, 46.2, 0, -1.0 / 1200}, 4326, 0},
                [](int x, int y) {
                    return 900 + 400 * std::sin(x / 9.0) * std::cos(y / 13.0) + 3 * ((x * y) % 7);
                });
    const raster::ElevationWorld world = raster::loadElevationWorld(tile, 1);
    const HeightField& field = world.grid.field;
    Walker walker(field);
    int checked = 0;
    for (int r = 2; r < field.rows; r += 11) {
        for (int c = 3; c < field.columns; c += 13) {
            const Point3 eye = walker.eye();
            const Point3 sample{c * field.spacingEast, field.at(c, r), r * field.spacingSouth};
            const auto hit = raster::groundHit(
                field, eye, {sample.x - eye.x, sample.y - eye.y, sample.z - eye.z});
            if (!hit || std::hypot(hit->x - sample.x, hit->z - sample.z) > 1e-6) {
                continue;  // hidden behind nearer ground
            }
            const raster::Pick pick{
                *hit, raster::sourcePointAt(world.grid.placement, field, hit->x, hit->z),
                SampleKind::data};
            const std::string line = raster::pickLine(pick, walker, world.grid.placement, 1);
            double x = 0, y = 0, height = 0;
            ASSERT_EQ(std::sscanf(line.c_str(), "pick %lf %lf %lf", &x, &y, &height), 3) << line;
            const std::string command = "gdallocationinfo -valonly -geoloc '" + tile + "' " +
                                        std::to_string(x) + " " + std::to_string(y);
            std::unique_ptr<FILE, int (*)(FILE*)> gdal(popen(command.c_str(), "r"), pclose);
            ASSERT_TRUE(gdal);
            double expected = 0;
            ASSERT_EQ(std::fscanf(gdal.get(), "%lf", &expected), 1) << command;
            EXPECT_EQ(height, expected) << line;
            ++checked;
        }
    }
    EXPECT_GT(checked, 20);
}

namespace {

// The numbers a command prints on standard output.
std::vector<double> numbersFrom(const std::string& command) {
    std::unique_ptr<FILE, int (*)(FILE*)> output(popen(command.c_str(), "r"), pclose);
    std::vector<double> numbers;
    double number = 0;
    while (output && std::fscanf(output.get(), "%lf", &number) == 1) {
        numbers.push_back(number);
    }
    return numbers;
}

}  // namespace

// The scene's height at a source pixel's centre is the pixel's own value, as gdallocationinfo
// reads it, and its latitude and longitude are gdaltransform's, whether the ground is held whole
// or streamed; degrees go back to the same place. A plane's heights make a rotated raster's
// warped samples exact too.
TEST(RenderRaster, HeightAtAndLatLonAnswerAsGdalWholeOrStreamed) {
    TemporaryFolder folder;
    const double third = 1.0 / 3;
    const struct {
        const char* name;
        Raster raster;
    } kTiles[] = {
        {"geographic.tif",
         {"GTiff", 120, 90, GDT_Float32, {7, 1.0 / 1200, 0, 46.2, 0, -1.0 / 1200}, 4326, 0}},
        {"utm.tif", {"GTiff", 110, 130, GDT_Float32, {500000, 10, 0, 5100000, 0, -10}, 32632, 0}},
        {"rotated.tif",
         {"GTiff",
          100,
          100,
          GDT_Float32,
          {500000, 8, 6 * third, 5100000, 6 * third, -8},
          32632,
          0}},
    };
    const auto plane = [](int x, int y) { return 700.0 + 2.5 * x - 1.25 * y; };
    ::setenv("XDG_CACHE_HOME", folder.file("cache").c_str(), 1);
    for (const bool streamed : {false, true}) {
        if (streamed) {
            ::setenv("GROUNDVIEW_STREAM_ABOVE", "64", 1);
        }
        for (const auto& tile : kTiles) {
            SCOPED_TRACE(std::string(tile.name) + (streamed ? " streamed" : " whole"));
            const std::string path = folder.file(tile.name);
            writeRaster(path, tile.raster, plane);
            ElevationScene scene(openWorld(path).raster, raster::ViewSettings{});
            ASSERT_EQ(scene.world().stream.has_value(), streamed);
            const std::vector<double>& t = tile.raster.placement;
            int checked = 0;
            for (int row = 7; row < tile.raster.height - 7; row += 17) {
                for (int column = 5; column < tile.raster.width - 7; column += 19) {
                    const double px = column + 0.5, py = row + 0.5;
                    const double x = t[0] + px * t[1] + py * t[2];
                    const double y = t[3] + px * t[4] + py * t[5];
                    const std::string at = std::to_string(x) + " " + std::to_string(y);
                    const std::vector<double> gdal =
                        numbersFrom("gdallocationinfo -valonly -geoloc '" + path + "' " + at);
                    ASSERT_EQ(gdal.size(), 1u) << at;
                    const std::optional<double> height = scene.heightAt(x, y);
                    ASSERT_TRUE(height.has_value()) << at;
                    EXPECT_NEAR(*height, gdal[0], t[2] == 0 ? 1e-9 : 0.01) << at;

                    const std::vector<double> degrees =
                        numbersFrom("echo " + at + " | gdaltransform -s_srs EPSG:" +
                                    std::to_string(tile.raster.epsg) + " -t_srs EPSG:4326");
                    ASSERT_GE(degrees.size(), 2u) << at;
                    double lat = 0, lon = 0, backX = 0, backY = 0;
                    ASSERT_TRUE(scene.toLatLon(x, y, lat, lon)) << at;
                    EXPECT_NEAR(lon, degrees[0], 1e-6) << at;  // as gdaltransform prints it
                    EXPECT_NEAR(lat, degrees[1], 1e-6) << at;
                    ASSERT_TRUE(scene.fromLatLon(lat, lon, backX, backY)) << at;
                    EXPECT_NEAR(backX, x, 1e-6) << at;
                    EXPECT_NEAR(backY, y, 1e-6) << at;
                    ++checked;
                }
            }
            EXPECT_GT(checked, 10);
            // Beyond the data there is no height.
            EXPECT_FALSE(scene.heightAt(t[0] - 50 * t[1], t[3]).has_value());
        }
    }
    ::unsetenv("GROUNDVIEW_STREAM_ABOVE");
    ::unsetenv("XDG_CACHE_HOME");
}
