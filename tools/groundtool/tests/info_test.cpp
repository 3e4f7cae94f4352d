// groundtool info as a user runs it, in a folder of its own: the report, the exit status, and
// nothing on standard error or in a log.

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sstream>

#include "bmp_format.h"
#include "headless_gl.h"
#include "test_files.h"
#include "tool_runner.h"

namespace fs = std::filesystem;

namespace {

const Bytes kHeights = {0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120, 127, 0x80, 0xFF};

struct InfoCase {
    std::string name;
    std::function<void(const std::string& world)> makeFiles;  // in the folder "world"
    int status;
    std::vector<std::string> mentions;  // lines or parts of lines the report must hold
};

struct Report {
    int status;
    std::string text;
    std::string leakedStderr;
};

// The tool run in folder, as a user there would run it.
Report info(const TemporaryFolder& folder, const std::string& path) {
    const ToolRun run = runTool({"info", path}, folder.path());
    return {run.status, run.out, run.err};
}

int maxTextureSize() {
    HeadlessGL gl(16, 16);
    GLint size = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &size);
    return size;
}

void goodTerrain(const std::string& world) {
    writeFile(world + "/ground.3dt", terrainBytes(4, 4, 1, 2, 2, kHeights));
}
void goodTexture(const std::string& world) {
    writeFile(world + "/1.bmp", solidBitmapBytes(8, 8, {90, 120, 60}));
}

}  // namespace

TEST(Info, VerdictsOnGoodAndBrokenFiles) {
    const int tooWide = 2 * maxTextureSize();
    ASSERT_LE(tooWide, 65535) << "a BMP cannot be wider than OpenGL's maximum here";

    const std::vector<InfoCase> cases = {
        {"good",
         [](const std::string& world) {
             goodTerrain(world);
             goodTexture(world);
         },
         0,
         {"header      type 1 (terrain), rows 4, columns 4, texture number 1, tileX 2, tileY 2",
          "heights     -128 to 127", "bitmap      8 x 8 pixels, 24-bit uncompressed BMP",
          "texture     1.bmp, opened in world", "verdict: clean"}},
        {"missing texture",
         goodTerrain,
         1,
         {"bitmap      missing", "texture 1.bmp cannot be opened in world: No such file",
          "0 viewer messages, 1 silent problem"}},
        {"bad magic",
         [](const std::string& world) {
             Bytes bytes = terrainBytes(4, 4, 1, 2, 2, kHeights);
             bytes[1] = 'd';
             writeFile(world + "/ground.3dt", bytes);
             goodTexture(world);
         },
         1,
         {"errorlog.txt: not a 3d thing"}},
        {"type 2",
         [](const std::string& world) {
             Bytes bytes = terrainBytes(4, 4, 1, 2, 2, kHeights);
             bytes[2] = 2;
             writeFile(world + "/ground.3dt", bytes);
             goodTexture(world);
         },
         1,
         {"errorlog.txt: unknown type; 1 (terrain) expected|2"}},
        {"negative tile",
         [](const std::string& world) {
             writeFile(world + "/ground.3dt", terrainBytes(4, 4, 1, -3, 2, kHeights));
             goodTexture(world);
         },
         1,
         {"standard error: tex_tile_x must be positive", "1 viewer message, 0 silent problems"}},
        {"8-bit bitmap",
         [](const std::string& world) {
             goodTerrain(world);
             writeFile(world + "/1.bmp", bitmapBytes(
                                             8, 8,
                                             [](int, int) {
                                                 return Rgb{0, 0, 0};
                                             },
                                             8));
         },
         1,
         {"standard error: 8-bit color bitmaps are not currently supported.", "8 x 8 pixels, 8-bit",
          "the viewer cannot use 1.bmp (its message above says why) and draws the ground "
          "untextured",
          "1 viewer message, 0 silent problems"}},
        {"8-bit header declaring 16384 x 16384",
         [](const std::string& world) {
             goodTerrain(world);
             Bytes header(bmp::kHeaderBytes);
             bmp::writeHeader(header.data(), 16384, 16384, 8, 0, 0);
             writeFile(world + "/1.bmp", header);
         },
         1,
         {"standard error: 8-bit color bitmaps are not currently supported.",
          "16384 x 16384 pixels, 8-bit",
          "the viewer cannot use 1.bmp (its message above says why) and draws the ground "
          "untextured",
          "1 viewer message, 0 silent problems"}},
        {"8-bit bitmap declaring 65535 x 65535",
         [](const std::string& world) {
             goodTerrain(world);
             Bytes header = bitmapBytes(
                 1, 1,
                 [](int, int) {
                     return Rgb{0, 0, 0};
                 },
                 8);
             header.resize(bmp::kHeaderBytes);
             header[bmp::kWidthOffset] = header[bmp::kWidthOffset + 1] = 0xff;
             header[bmp::kHeightOffset] = header[bmp::kHeightOffset + 1] = 0xff;
             writeFile(world + "/1.bmp", header);
         },
         1,
         {"8-bit color bitmaps are not currently supported.", "Bitmap too large: 65535 x 65535",
          "draws the ground untextured"}},
        {"oversized texture",
         [tooWide](const std::string& world) {
             goodTerrain(world);
             writeFile(world + "/1.bmp", solidBitmapBytes(tooWide, 1, {1, 2, 3}));
         },
         1,
         {"larger than this OpenGL's maximum texture size", "errorlog.txt: OpenGL error:",
          "the viewer logs the OpenGL error at the start of its first frame and exits"}},
        {"short heights",
         [](const std::string& world) {
             writeFile(world + "/ground.3dt", terrainBytes(4, 4, 1, 2, 2, Bytes{1, 2}));
             goodTexture(world);
         },
         1,
         {"the file holds 2 of its 16 height bytes"}},
        {"grid too small",
         [](const std::string& world) {
             writeFile(world + "/ground.3dt", terrainBytes(1, 4, 1, 2, 2, Bytes{1, 2, 3, 4}));
             goodTexture(world);
         },
         1,
         {"a grid of 1 x 4 draws nothing"}},
        {"short bitmap",
         [](const std::string& world) {
             goodTerrain(world);
             Bytes bytes = solidBitmapBytes(8, 8, {1, 2, 3});
             bytes.resize(bytes.size() - 30);
             writeFile(world + "/1.bmp", bytes);
         },
         1,
         {"1.bmp holds 162 of its 192 pixel bytes"}},
        {"missing terrain file",
         [](const std::string&) {},
         1,
         {"errorlog.txt: Unable to find file|ground.3dt",
          "cannot open world/ground.3dt: No such file or directory"}},
    };

    for (const InfoCase& infoCase : cases) {
        TemporaryFolder folder;
        fs::create_directory(folder.file("world"));
        infoCase.makeFiles(folder.file("world"));
        // The texture next to the working folder is not the one the viewer would use.
        writeFile(folder.file("1.bmp"), solidBitmapBytes(8, 8, {1, 2, 3}));
        const Report report = info(folder, "world/ground.3dt");
        EXPECT_EQ(report.status, infoCase.status) << infoCase.name << "\n" << report.text;
        for (const std::string& mention : infoCase.mentions) {
            EXPECT_NE(report.text.find(mention), std::string::npos)
                << infoCase.name << ": no \"" << mention << "\" in\n"
                << report.text;
        }
        // The viewer's messages end up in the report, not on the terminal or in a log file.
        EXPECT_EQ(report.leakedStderr, "") << infoCase.name;
        EXPECT_FALSE(fileExists(folder.file("errorlog.txt"))) << infoCase.name;
        EXPECT_FALSE(fileExists(folder.file("world/errorlog.txt"))) << infoCase.name;
    }
}

TEST(Info, HistogramCountsEverySample) {
    TemporaryFolder folder;
    fs::create_directory(folder.file("world"));
    goodTerrain(folder.file("world"));
    goodTexture(folder.file("world"));
    const Report report = info(folder, "world/ground.3dt");
    // kHeights: 0-31 holds 0, 10, 20, 30 and the two lowest bins -128 and -1 one each.
    std::istringstream lines(report.text);
    std::vector<long> counts;
    for (std::string line; std::getline(lines, line);) {
        if (line.find(" to ") != std::string::npos && line.rfind("            ", 0) == 0) {
            counts.push_back(std::stol(line.substr(line.find_last_of(' ') + 1)));
        }
    }
    EXPECT_EQ(counts, (std::vector<long>{1, 0, 0, 1, 4, 3, 3, 4}));
}
