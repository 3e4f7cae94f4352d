#include "generate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>

#include "headless_gl.h"
#include "terrain.h"
#include "test_files.h"
#include "tool_error.h"
#include "viewer_check.h"

namespace fs = std::filesystem;
using groundtool::GenerateOptions;
using groundtool::runGenerate;

namespace {

void generateInto(const std::string& folder, GenerateOptions options) {
    fs::create_directories(folder);
    options.folder = folder;
    std::ostringstream out;
    runGenerate(options, out);
}

double meanAbsoluteStep(const std::vector<std::int8_t>& heights, int size) {
    double sum = 0.0;
    for (int r = 0; r < size; ++r) {
        for (int c = 0; c + 1 < size; ++c) {
            sum += std::abs(heights[r * size + c] - heights[r * size + c + 1]);
        }
    }
    return sum / (size * (size - 1));
}

}  // namespace

TEST(Generate, WritesAWorldTheViewerLoadsCleanly) {
    TemporaryFolder folder;
    GenerateOptions options;
    options.size = 40;
    options.seed = 5;
    options.textureNumber = -3;
    options.tile = 10;
    generateInto(folder.path(), options);

    HeadlessGL gl(16, 16);
    ASSERT_TRUE(gl.ok()) << gl.error();
    Terrain terrain;
    EXPECT_EQ(viewerLoad(terrain, folder.file("ground.3dt")), std::vector<std::string>{});
    EXPECT_EQ(terrain.rows(), 40);
    EXPECT_EQ(terrain.columns(), 40);
    EXPECT_EQ(terrain.textureNumber(), -3);
    EXPECT_EQ(terrain.tileX(), 10);
    EXPECT_EQ(terrain.tileY(), 10);
    EXPECT_TRUE(fileExists(folder.file("-3.bmp")));
    EXPECT_EQ(readFile(folder.file("ground.3dt")).size(), 8u + 40 * 40);

    // Heights use the whole signed range and are not a handful of plateaus.
    std::set<float> distinct;
    float lowest = 0.0f;
    float highest = 0.0f;
    for (const auto& row : terrain.heights()) {
        distinct.insert(row.begin(), row.end());
        lowest = std::min(lowest, *std::min_element(row.begin(), row.end()));
        highest = std::max(highest, *std::max_element(row.begin(), row.end()));
    }
    EXPECT_EQ(lowest, -128.0f);
    EXPECT_EQ(highest, 127.0f);
    EXPECT_GT(distinct.size(), 100u);

    const Bitmap& texture = terrain.bitmap();
    ASSERT_NE(texture.pixels(), nullptr);
    EXPECT_EQ(texture.width(), groundtool::kTextureSide);
    EXPECT_EQ(texture.height(), groundtool::kTextureSide);
}

TEST(Generate, TextureLooksLikeGroundAndRepeatsWithoutSeams) {
    const int side = groundtool::kTextureSide;
    const std::vector<std::uint8_t> rgb = groundtool::generateTexture(11);
    ASSERT_EQ(rgb.size(), static_cast<std::size_t>(side) * side * 3);
    auto at = [&](int x, int y, int channel) { return rgb[(y * side + x) * 3 + channel]; };

    // Earth colours: green and red above blue on average, and real variation, not a flat fill.
    double sum[3] = {};
    double sumSquares = 0.0;
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            const double luminance = (at(x, y, 0) + at(x, y, 1) + at(x, y, 2)) / 3.0;
            sumSquares += luminance * luminance;
            for (int c = 0; c < 3; ++c) {
                sum[c] += at(x, y, c);
            }
        }
    }
    const double pixels = static_cast<double>(side) * side;
    const double meanLuminance = (sum[0] + sum[1] + sum[2]) / 3.0 / pixels;
    EXPECT_GT(sum[1], sum[2] * 1.2);
    EXPECT_GT(sum[0], sum[2] * 1.2);
    EXPECT_GT(std::sqrt(sumSquares / pixels - meanLuminance * meanLuminance), 8.0);

    // The texture wraps (GL_REPEAT): across its edges it changes no more than between
    // neighbouring pixels inside it.
    auto columnStep = [&](int x0, int x1) {
        double total = 0.0;
        for (int y = 0; y < side; ++y) {
            for (int c = 0; c < 3; ++c) {
                total += std::abs(at(x0, y, c) - at(x1, y, c));
            }
        }
        return total;
    };
    auto rowStep = [&](int y0, int y1) {
        double total = 0.0;
        for (int x = 0; x < side; ++x) {
            for (int c = 0; c < 3; ++c) {
                total += std::abs(at(x, y0, c) - at(x, y1, c));
            }
        }
        return total;
    };
    double inside = 0.0;
    for (int i = 1; i < side; ++i) {
        inside += columnStep(i - 1, i) + rowStep(i - 1, i);
    }
    inside /= 2 * (side - 1);
    EXPECT_LT(columnStep(side - 1, 0), inside * 1.5);
    EXPECT_LT(rowStep(side - 1, 0), inside * 1.5);
}

TEST(Generate, SameSeedGivesSameBytesAndOtherSeedsOthers) {
    TemporaryFolder folder;
    GenerateOptions options;
    options.seed = 9;
    generateInto(folder.file("a"), options);
    generateInto(folder.file("b"), options);
    options.seed = 10;
    generateInto(folder.file("c"), options);

    for (const std::string name : {"ground.3dt", "1.bmp"}) {
        EXPECT_EQ(readFile(folder.file("a/" + name)), readFile(folder.file("b/" + name))) << name;
        EXPECT_NE(readFile(folder.file("a/" + name)), readFile(folder.file("c/" + name))) << name;
    }
    // Seeds far apart in the 64-bit range work too.
    EXPECT_NE(groundtool::generateHeights(64, 0, 0.5),
              groundtool::generateHeights(64, 0xFFFFFFFFFFFFFFFFull, 0.5));
}

TEST(Generate, RoughnessAddsFineDetail) {
    for (const std::uint64_t seed : {1ull, 2ull, 3ull}) {
        const double smooth = meanAbsoluteStep(groundtool::generateHeights(100, seed, 0.2), 100);
        const double rough = meanAbsoluteStep(groundtool::generateHeights(100, seed, 0.9), 100);
        EXPECT_GT(rough, smooth * 1.5) << "seed " << seed;
    }
}

TEST(Generate, RefusesToReplaceFilesUnlessForced) {
    TemporaryFolder folder;
    writeFile(folder.file("ground.3dt"), Bytes{'k', 'e', 'e', 'p'});
    GenerateOptions options;
    options.folder = folder.path();
    std::ostringstream out;
    try {
        runGenerate(options, out);
        FAIL() << "generate replaced an existing ground.3dt";
    } catch (const groundtool::ToolError& error) {
        EXPECT_NE(std::string(error.what()).find("ground.3dt already exists"), std::string::npos)
            << error.what();
        EXPECT_EQ(error.status(), groundtool::kExitFailure);
    }
    EXPECT_EQ(readFile(folder.file("ground.3dt")), (Bytes{'k', 'e', 'e', 'p'}));
    EXPECT_FALSE(fileExists(folder.file("1.bmp")));

    options.force = true;
    runGenerate(options, out);
    EXPECT_EQ(readFile(folder.file("ground.3dt")).size(), 8u + 64 * 64);
    EXPECT_TRUE(fileExists(folder.file("1.bmp")));
}
