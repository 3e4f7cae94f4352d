// Loading ".3dt" files: the grid, the header checks, the texture, and every file problem on the
// channel a user looks at for it.

#include "terrain.h"

#include <GL/gl.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <iostream>
#include <stdexcept>

#include "headless_gl.h"
#include "test_files.h"

namespace {

using Lines = std::vector<std::string>;
using Grid = std::vector<std::vector<float>>;
using Channel = LoadMessage::Channel;

// Points descriptor 2 at a file while it lives: what the viewer prints, as a terminal gets it.
class StandardErrorInto {
  public:
    explicit StandardErrorInto(const std::string& path) : saved_(dup(2)) {
        const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (saved_ < 0 || file < 0 || dup2(file, 2) < 0) {
            throw std::runtime_error("cannot send standard error to " + path);
        }
        close(file);
    }
    ~StandardErrorInto() {
        std::cerr.flush();
        dup2(saved_, 2);
        close(saved_);
    }
    StandardErrorInto(const StandardErrorInto&) = delete;
    StandardErrorInto& operator=(const StandardErrorInto&) = delete;

  private:
    int saved_;
};

class TerrainLoad : public testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(gl.ok()) << gl.error(); }

    // Writes bytes as ground.3dt and loads it, returning what the viewer would print on standard
    // error; log() then gives what it would append to the error log.
    Lines load(Terrain& terrain, const Bytes& bytes) {
        writeFile(folder.file("ground.3dt"), bytes);
        return reload(terrain, "ground.3dt");
    }
    Lines reload(Terrain& terrain, const std::string& name) {
        report = terrain.loadFile(folder.file(name));
        return textsOn(report.messages, Channel::StandardError);
    }
    Lines log() const { return textsOn(report.messages, Channel::ErrorLog); }

    HeadlessGL gl{8, 8};
    TemporaryFolder folder;
    TerrainReport report;
};

const Bytes kExample = {'3', 'D', 1, 2, 3, 1, 4, 4, 0x00, 0x7F, 0x80, 0x01, 0xFF, 0x02};

TEST_F(TerrainLoad, ReadsTheGridRowMajorAsSignedBytes) {
    writeFile(folder.file("1.bmp"), solidBitmapBytes(4, 2, {1, 2, 3}));
    Terrain terrain;
    EXPECT_EQ(load(terrain, kExample), Lines{});
    EXPECT_EQ(terrain.rows(), 2);
    EXPECT_EQ(terrain.columns(), 3);
    EXPECT_EQ(terrain.textureNumber(), 1);
    EXPECT_EQ(terrain.tileX(), 4);
    EXPECT_EQ(terrain.tileY(), 4);
    EXPECT_EQ(terrain.heights(), (Grid{{0, 127, -128}, {1, -1, 2}}));
    EXPECT_EQ(terrain.bitmap().width(), 4);  // from "1.bmp"
    EXPECT_EQ(log(), Lines{});

    // Two height bytes only: the rest read as 0.
    Bytes shortFile(kExample.begin(), kExample.begin() + 10);
    EXPECT_EQ(load(terrain, shortFile), Lines{});
    EXPECT_EQ(terrain.heights(), (Grid{{0, 127, 0}, {0, 0, 0}}));

    // The largest grid, every value of a byte.
    const Bytes big = terrainBytes(127, 127, 1, 8, 8, [](int r, int c) { return r * 127 + c; });
    load(terrain, big);
    ASSERT_EQ(terrain.heights().size(), 127u);
    EXPECT_EQ(terrain.heights()[126].size(), 127u);
    EXPECT_EQ(terrain.heights()[0][1], 1);
    EXPECT_EQ(terrain.heights()[1][0], 127);
    EXPECT_EQ(terrain.heights()[1][1], -128);
    EXPECT_EQ(terrain.heights()[126][126], static_cast<std::int8_t>(126 * 127 + 126));
}

TEST_F(TerrainLoad, FileErrorsGoToTheLogAndLeaveTheTerrainAsItWas) {
    Terrain terrain;
    load(terrain, kExample);
    const Grid before = terrain.heights();

    const struct {
        Bytes file;
        Lines logged;
    } cases[] = {
        {{'3', 'd', 1, 5, 5, 1, 1, 1}, {"not a 3d thing"}},
        {{}, {"not a 3d thing"}},
        {{'3'}, {"not a 3d thing"}},
        {{'3', 'D'}, {"not a 3d thing"}},
        {{'3', 'D', 2, 5, 5, 1, 1, 1}, {"unknown type; 1 (terrain) expected|2"}},
        {{'3', 'D', 0xFE, 5, 5, 1, 1, 1}, {"unknown type; 1 (terrain) expected|-2"}},
        {{'3', 'D', 1, 0x80, 5, 1, 1, 1}, {"rows out of range; 0 to 127 expected|-128"}},
        {{'3', 'D', 1, 5, 0xFF, 1, 1, 1}, {"columns out of range; 0 to 127 expected|-1"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(load(terrain, c.file), Lines{});
        EXPECT_EQ(log(), c.logged);
        EXPECT_EQ(terrain.rows(), 2);
        EXPECT_EQ(terrain.columns(), 3);
        EXPECT_EQ(terrain.tileX(), 4);
        EXPECT_EQ(terrain.heights(), before);
    }

    std::remove(folder.file("ground.3dt").c_str());
    ASSERT_EQ(mkdir(folder.file("other.3dt").c_str(), 0755), 0);
    ASSERT_EQ(mkfifo(folder.file("pipe.3dt").c_str(), 0644), 0);
    Lines logged;
    Lines reasons;
    for (const char* name : {"ground.3dt", "other.3dt", "pipe.3dt"}) {
        EXPECT_EQ(reload(terrain, name), Lines{});
        const Lines entries = log();
        logged.insert(logged.end(), entries.begin(), entries.end());
        reasons.push_back(report.openFailure);
    }
    EXPECT_EQ(logged, (Lines{"Unable to find file|ground.3dt", "Unable to find file|other.3dt",
                             "Unable to find file|pipe.3dt"}));
    EXPECT_EQ(reasons, (Lines{"No such file or directory", "a folder, not a regular file",
                              "not a regular file"}));
    EXPECT_EQ(terrain.heights(), before);
}

TEST_F(TerrainLoad, HeaderChecksPrintInOrderAndLoadingGoesOn) {
    Terrain terrain;
    EXPECT_EQ(load(terrain, terrainBytes(2, 2, 1, 0, -3, Bytes{5, 6, 7, 8})),
              (Lines{"tex_tile_x must be positive", "tex_tile_y must be positive"}));
    EXPECT_EQ(terrain.heights(), (Grid{{5, 6}, {7, 8}}));

    writeFile(folder.file("0.bmp"), solidBitmapBytes(8, 4, {1, 1, 1}));
    EXPECT_EQ(load(terrain, terrainBytes(1, 1, 0, 1, 1, Bytes{9})), Lines{"must have texture"});
    EXPECT_EQ(terrain.bitmap().width(), 8);  // "0.bmp" was still tried

    writeFile(folder.file("-10.bmp"), solidBitmapBytes(16, 4, {1, 1, 1}));
    EXPECT_EQ(load(terrain, terrainBytes(1, 1, 0xF6, 1, 1, Bytes{9})), Lines{});
    EXPECT_EQ(terrain.textureNumber(), -10);
    EXPECT_EQ(terrain.bitmap().width(), 16);
    EXPECT_EQ(Terrain::textureFileName(-10), "-10.bmp");
    EXPECT_EQ(Terrain::textureFileName(7), "7.bmp");
    EXPECT_EQ(log(), Lines{});
}

TEST_F(TerrainLoad, MissingHeaderBytesKeepThePreviousValues) {
    writeFile(folder.file("-1.bmp"), solidBitmapBytes(32, 4, {1, 1, 1}));
    {
        Terrain fresh;
        EXPECT_EQ(load(fresh, Bytes{'3', 'D', 1}),
                  (Lines{"tex_tile_x must be positive", "tex_tile_y must be positive"}));
        EXPECT_EQ(fresh.rows(), 0);
        EXPECT_EQ(fresh.columns(), 0);
        EXPECT_EQ(fresh.textureNumber(), -1);
        EXPECT_EQ(fresh.bitmap().width(), 32);  // "-1.bmp"
        EXPECT_TRUE(fresh.heights().empty());
    }
    Terrain terrain;
    load(terrain, kExample);
    // Rows only: columns and both tiles stay, the texture number reads as -1, heights are 0.
    EXPECT_EQ(load(terrain, Bytes{'3', 'D', 1, 3}), Lines{});
    EXPECT_EQ(terrain.rows(), 3);
    EXPECT_EQ(terrain.columns(), 3);
    EXPECT_EQ(terrain.textureNumber(), -1);
    EXPECT_EQ(terrain.tileX(), 4);
    EXPECT_EQ(terrain.tileY(), 4);
    EXPECT_EQ(terrain.heights(), (Grid{{0, 0, 0}, {0, 0, 0}, {0, 0, 0}}));
    // Up to the texture number: the tiles still stay.
    EXPECT_EQ(load(terrain, Bytes{'3', 'D', 1, 1, 2, 5}), Lines{});
    EXPECT_EQ(terrain.textureNumber(), 5);
    EXPECT_EQ(terrain.tileY(), 4);
    EXPECT_EQ(terrain.heights(), (Grid{{0, 0}}));
    EXPECT_EQ(log(), Lines{});
}

TEST_F(TerrainLoad, UploadsTheTextureIntoOneReusedObject) {
    writeFile(folder.file("1.bmp"), bitmapBytes(2, 2, [](int x, int y) {
                  return Rgb{static_cast<std::uint8_t>(100 + x), static_cast<std::uint8_t>(y), 200};
              }));
    Terrain terrain;
    load(terrain, kExample);
    const unsigned texture = terrain.textureId();
    ASSERT_NE(texture, 0u);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));

    GLint value = 0;
    glBindTexture(GL_TEXTURE_2D, texture);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &value);
    EXPECT_EQ(value, GL_REPEAT);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &value);
    EXPECT_EQ(value, GL_LINEAR);
    std::uint8_t texels[2 * 2 * 4];
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels);
    EXPECT_EQ(texels[0], 100);
    EXPECT_EQ(texels[4], 101);
    EXPECT_EQ(texels[8 + 1], 1);  // the second row up
    EXPECT_EQ(texels[2], 200);
    EXPECT_EQ(texels[3], 255);  // alpha filled by OpenGL

    // Every display event reloads; the texture memory must not grow with them.
    for (int i = 0; i < 20; ++i) {
        reload(terrain, "ground.3dt");
        ASSERT_EQ(terrain.textureId(), texture);
    }
    GLuint next = 0;
    glGenTextures(1, &next);
    EXPECT_EQ(next, texture + 1);  // no names were used up meanwhile

    // A bitmap of another depth empties the texture, which draws as none, whatever it declares.
    Bytes header16384(bmp::kHeaderBytes);
    bmp::writeHeader(header16384.data(), 16384, 16384, 8, 0, 0);
    writeFile(folder.file("1.bmp"), header16384);
    EXPECT_EQ(reload(terrain, "ground.3dt"),
              Lines{"8-bit color bitmaps are not currently supported."});
    glBindTexture(GL_TEXTURE_2D, texture);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &value);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(TerrainLoad, AnOversizedTextureLeavesAnErrorForTheFrameCheck) {
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    ASSERT_LT(maxSize, 65535);
    Bytes wide = solidBitmapBytes(1, 1, {1, 2, 3});
    wide[18] = (maxSize * 2) & 0xFF;
    wide[19] = ((maxSize * 2) >> 8) & 0xFF;
    writeFile(folder.file("1.bmp"), wide);
    Terrain terrain;
    EXPECT_EQ(load(terrain, kExample), Lines{});
    EXPECT_EQ(glGetError(), GLenum(GL_INVALID_VALUE));
    EXPECT_EQ(log(), Lines{});
}

// The viewer's own load writes the report: log entries appended to errorlog.txt, the rest on
// descriptor 2, each channel in the report's order.
TEST_F(TerrainLoad, LoadWritesTheReportWhereTheViewerLooks) {
    writeFile(folder.file("ground.3dt"), terrainBytes(2, 2, 1, 0, -3, Bytes{5, 6, 7, 8}));
    const auto black = [](int, int) { return Rgb{0, 0, 0}; };
    writeFile(folder.file("1.bmp"), bitmapBytes(8, 8, black, 8));
    writeFile(folder.file("type2.3dt"), Bytes{'3', 'D', 2});
    const char* const names[] = {"ground.3dt", "type2.3dt", "absent.3dt"};
    Lines printed;
    Lines logged;
    Terrain terrain;
    for (const char* name : names) {
        const Lines lines = reload(terrain, name);
        const Lines entries = log();
        printed.insert(printed.end(), lines.begin(), lines.end());
        logged.insert(logged.end(), entries.begin(), entries.end());
    }
    EXPECT_EQ(printed, (Lines{"tex_tile_x must be positive", "tex_tile_y must be positive",
                              "8-bit color bitmaps are not currently supported."}));
    EXPECT_EQ(logged,
              (Lines{"unknown type; 1 (terrain) expected|2", "Unable to find file|absent.3dt"}));

    TemporaryFolder output;
    {
        ScopedErrorLog errorLog(output.path());
        StandardErrorInto standardError(output.file("stderr.txt"));
        for (const char* name : names) {
            terrain.load(folder.file(name));
        }
    }
    EXPECT_EQ(readLines(output.file("stderr.txt")), printed);
    EXPECT_EQ(readLines(output.file("errorlog.txt")), logged);
    EXPECT_FALSE(fileExists(folder.file("errorlog.txt")));
}

}  // namespace
