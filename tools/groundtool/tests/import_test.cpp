#include "import.h"

#include <gtest/gtest.h>
#include <stb/stb_image_write.h>

#include <sstream>

#include "headless_gl.h"
#include "terrain.h"
#include "test_files.h"
#include "tool_error.h"
#include "viewer_check.h"

using groundtool::GridShape;
using groundtool::ImportOptions;
using groundtool::runImport;

namespace {

// A binary PGM: "P5", size, maximum 255, then the grey bytes row by row.
void writePgm(const std::string& path, int width, int height, const Bytes& grey) {
    std::ostringstream header;
    header << "P5\n" << width << " " << height << "\n255\n";
    const std::string text = header.str();
    Bytes bytes(text.begin(), text.end());
    bytes.insert(bytes.end(), grey.begin(), grey.end());
    writeFile(path, bytes);
}

void writeGreyPng(const std::string& path, int width, int height, const Bytes& grey) {
    ASSERT_NE(stbi_write_png(path.c_str(), width, height, 1, grey.data(), width), 0);
}

std::vector<std::vector<float>> importAndLoad(const ImportOptions& options) {
    std::ostringstream out;
    runImport(options, out);
    writeFile("1.bmp", solidBitmapBytes(4, 4, {90, 120, 60}));
    HeadlessGL gl(16, 16);
    EXPECT_TRUE(gl.ok()) << gl.error();
    Terrain terrain;
    EXPECT_EQ(viewerLoad(terrain, options.output), std::vector<std::string>{});
    return terrain.heights();
}

std::string failureOf(const ImportOptions& options) {
    std::ostringstream out;
    try {
        runImport(options, out);
    } catch (const groundtool::ToolError& error) {
        return error.what();
    }
    return "no failure";
}

}  // namespace

TEST(Import, GreyLevelsBecomeHeightsDarkLowInImageOrder) {
    ScopedWorkingFolder folder;
    // Three image rows of four pixels; rows become grid rows, columns grid columns.
    writePgm("heights.pgm", 4, 3, {0, 255, 128, 127, 1, 2, 3, 4, 200, 100, 50, 25});
    ImportOptions options;
    options.image = "heights.pgm";
    const auto heights = importAndLoad(options);
    const std::vector<std::vector<float>> expected = {
        {-128, 127, 0, -1}, {-127, -126, -125, -124}, {72, -28, -78, -103}};
    EXPECT_EQ(heights, expected);
    EXPECT_EQ(readFile("ground.3dt")[5], 1);   // texture number
    EXPECT_EQ(readFile("ground.3dt")[6], 12);  // tile
}

TEST(Import, ResamplesToTheRequestedSize) {
    ScopedWorkingFolder folder;
    // 8 x 8: the left half black, the right half white, one grey pixel in the top-left block.
    Bytes grey(64);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            grey[y * 8 + x] = x < 4 ? 0 : 255;
        }
    }
    grey[0] = 100;
    writeGreyPng("halves.png", 8, 8, grey);
    ImportOptions options;
    options.image = "halves.png";
    options.size = 4;
    options.textureNumber = 1;
    options.tile = 3;
    const auto shrunk = importAndLoad(options);
    ASSERT_EQ(shrunk.size(), 4u);
    // Each sample averages a 2 x 2 block: 100 / 4 = 25 in the top-left one.
    EXPECT_EQ(shrunk[0], (std::vector<float>{25 - 128, -128, 127, 127}));
    for (int r = 1; r < 4; ++r) {
        EXPECT_EQ(shrunk[r], (std::vector<float>{-128, -128, 127, 127}));
    }

    // Enlarging interpolates: black to white across, rising steadily.
    writeGreyPng("ramp.png", 2, 1, {0, 255});
    options.image = "ramp.png";
    options.size = 6;
    options.force = true;
    const auto grown = importAndLoad(options);
    ASSERT_EQ(grown.size(), 6u);
    EXPECT_EQ(grown[0].front(), -128);
    EXPECT_EQ(grown[0].back(), 127);
    for (int c = 1; c < 6; ++c) {
        EXPECT_LE(grown[0][c - 1], grown[0][c]);
    }
    EXPECT_LT(grown[0][2], 0);
    EXPECT_GT(grown[0][3], 0);
    EXPECT_EQ(grown[5], grown[0]);
}

TEST(Import, GridKeepsTheImageShapeWithin127) {
    const GridShape same = groundtool::gridShape(50, 20);
    EXPECT_EQ(same.rows, 20);
    EXPECT_EQ(same.columns, 50);
    const GridShape wide = groundtool::gridShape(300, 200);
    EXPECT_EQ(wide.columns, 127);
    EXPECT_EQ(wide.rows, 85);
    const GridShape tall = groundtool::gridShape(100, 1000);
    EXPECT_EQ(tall.rows, 127);
    EXPECT_EQ(tall.columns, 13);
    const GridShape dot = groundtool::gridShape(1, 1);
    EXPECT_EQ(dot.rows, 2);
    EXPECT_EQ(dot.columns, 2);
}

TEST(Import, UnreadableImagesFailNamingTheFileAndWriteNothing) {
    ScopedWorkingFolder folder;
    ImportOptions options;
    options.image = "absent.png";
    EXPECT_EQ(failureOf(options), "cannot read absent.png: No such file or directory");

    writeFile("notes.png", Bytes{'h', 'e', 'l', 'l', 'o'});
    options.image = "notes.png";
    EXPECT_EQ(failureOf(options).rfind("cannot read notes.png: not an image", 0), 0u)
        << failureOf(options);

    writeGreyPng("whole.png", 16, 16, Bytes(256, 7));
    Bytes cut = readFile("whole.png");
    cut.resize(cut.size() / 2);
    writeFile("cut.png", cut);
    options.image = "cut.png";
    EXPECT_EQ(failureOf(options).rfind("cannot read cut.png: ", 0), 0u) << failureOf(options);

    EXPECT_FALSE(fileExists("ground.3dt"));
}
