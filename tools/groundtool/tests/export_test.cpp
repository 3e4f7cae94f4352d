#include <gdal.h>
#include <gtest/gtest.h>
#include <stb/stb_image.h>

#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <tuple>

#include "child_process.h"
#include "elevation_grid.h"
#include "export_command.h"
#include "export_mesh.h"
#include "export_source.h"
#include "gdal_raster.h"
#include "test_files.h"
#include "tool_error.h"
#include "tool_runner.h"

namespace {

constexpr int kGridRows = 6;     // along x: the field's columns
constexpr int kGridColumns = 9;  // along z: the field's rows
constexpr double kHeightScale = 0.3;
constexpr double kFloatPrecision = 1e-6;  // relative: what a float position keeps of a height
const std::string kValidatorFolder = std::string(GROUNDVIEW_SOURCE_DIR) + "/build-tools/npm";

int level(int row, int column) {
    return (row * 37 + column * 23) % 101 - 50;
}
// The world's heights as the viewer reads them: its grid row i is the field's column i.
HeightField worldField() {
    HeightField field{kGridRows, kGridColumns, 1.0, 1.0, {}, {}};
    for (int row = 0; row < kGridColumns; ++row) {
        for (int column = 0; column < kGridRows; ++column) {
            field.heights.push_back(static_cast<float>(level(column, row) / 127.0 * kHeightScale));
        }
    }
    return field;
}

// A ramp rising east with a peak north of the middle, in metres.
double rampAndPeak(int x, int y) {
    return 300.0 + 2.0 * x + 900.0 * std::exp(-(std::pow(x - 190, 2) + std::pow(y - 70, 2)) / 900);
}
const Raster kUtmDem{"GTiff", 300, 200, GDT_Float32, {400000, 30, 0, 5100000, 0, -30}, 32632, 0};
const Raster kGeographicDem{
    "GTiff", 300, 200, GDT_Int16, {7.0, 1 / 3600.0, 0, 46.1, 0, -1 / 3600.0}, 4326, 0};

ToolRun exportRun(const std::string& folder, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "export");
    return runTool(arguments, folder);
}

float floatAt(const Bytes& bytes, std::size_t offset) {
    float value = 0.0f;
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

using Vertex = std::array<double, 3>;  // east, south, up in model units

std::vector<Vertex> stlVertices(const Bytes& stl) {
    std::vector<Vertex> vertices;
    for (std::size_t at = 84 + 12; at + 38 <= stl.size(); at += 50) {
        for (std::size_t k = 0; k < 3; ++k) {
            vertices.push_back({floatAt(stl, at + 12 * k), -floatAt(stl, at + 12 * k + 4),
                                floatAt(stl, at + 12 * k + 8)});
        }
    }
    return vertices;
}

std::vector<Vertex> objVertices(const std::string& path) {
    std::vector<Vertex> vertices;
    for (const std::string& line : readLines(path)) {
        double x = 0, y = 0, z = 0;
        if (std::sscanf(line.c_str(), "v %lf %lf %lf", &x, &y, &z) == 3) {
            vertices.push_back({x, z, y});
        }
    }
    return vertices;
}

std::vector<Vertex> glbVertices(const Bytes& glb) {
    std::uint32_t jsonBytes = 0;
    std::memcpy(&jsonBytes, glb.data() + 12, 4);
    const std::string json(glb.begin() + 20, glb.begin() + 20 + jsonBytes);
    std::smatch count;
    std::regex_search(json, count, std::regex("\"count\":([0-9]+)"));
    std::vector<Vertex> vertices;
    const std::size_t binary = 28 + jsonBytes;
    for (std::size_t v = 0; v < std::stoul(count[1]); ++v) {
        vertices.push_back({floatAt(glb, binary + 12 * v), floatAt(glb, binary + 12 * v + 8),
                            floatAt(glb, binary + 12 * v + 4)});
    }
    return vertices;
}

// Every sample of field must appear as a top vertex at its own place and height, the model
// centred across with its base (the default 2 units below the lowest point) at 0 and nothing below.
void expectTopHeights(const std::vector<Vertex>& vertices, const HeightField& field,
                      double unitsPerMetre, double exaggeration) {
    const double step = field.spacingEast * unitsPerMetre;
    const double stepSouth = field.spacingSouth * unitsPerMetre;
    const double lowest = *std::min_element(field.heights.begin(), field.heights.end());
    const double base = lowest * exaggeration * unitsPerMetre - groundtool::kDefaultBaseMm;
    std::array<double, 3> low{1e30, 1e30, 1e30};
    std::array<double, 3> high{-1e30, -1e30, -1e30};
    std::set<std::pair<int, int>> seen;
    for (const Vertex& v : vertices) {
        for (std::size_t axis = 0; axis < 3; ++axis) {
            low[axis] = std::min(low[axis], v[axis]);
            high[axis] = std::max(high[axis], v[axis]);
        }
        const double east = v[0] + field.width() * unitsPerMetre / 2;
        const double south = v[1] + field.depth() * unitsPerMetre / 2;
        const int column = static_cast<int>(std::lround(east / step));
        const int row = static_cast<int>(std::lround(south / stepSouth));
        if (column < 0 || row < 0 || column >= field.columns || row >= field.rows) {
            ADD_FAILURE() << "vertex beyond the field at " << v[0] << ", " << v[1];
            continue;
        }
        const double expected = field.at(column, row) * exaggeration * unitsPerMetre - base;
        if (std::abs(v[2] - expected) <= kFloatPrecision * std::max(1.0, std::abs(expected))) {
            EXPECT_NEAR(east, column * step, 1e-4 * step);
            seen.insert({column, row});
        }
    }
    EXPECT_EQ(seen.size(), field.heights.size());
    EXPECT_NEAR(low[0], -high[0], 1e-4 * step);
    EXPECT_NEAR(low[1], -high[1], 1e-4 * stepSouth);
    EXPECT_EQ(low[2], 0.0);
}

// Heightmap levels back in metres, through the range the report printed.
void expectLevels(const std::vector<unsigned>& levels, const std::string& report,
                  const HeightField& field, double exaggeration) {
    std::smatch range;
    ASSERT_TRUE(std::regex_search(report, range,
                                  std::regex("0 stands for (\\S+) m and 65535 for (\\S+) m")));
    const double low = std::stod(range[1]);
    const double high = std::stod(range[2]);
    ASSERT_EQ(levels.size(), field.heights.size());
    for (std::size_t i = 0; i < levels.size(); ++i) {
        EXPECT_NEAR(low + levels[i] * (high - low) / 65535.0, field.heights[i] * exaggeration,
                    (high - low) / 65535.0)
            << i;
    }
}

// admesh's verdict on a solid: its parts, nothing to fix, positive volume, and the bounding box.
void expectClosedSolid(const std::string& path, double longerSide, int parts = 1) {
    ChildOptions options;
    options.executable = "/usr/bin/admesh";
    if (!std::filesystem::exists(options.executable)) {
        GTEST_SKIP() << "admesh is not installed (scripts/install-deps installs it)";
    }
    options.arguments = {path};
    ChildProcess admesh(options);
    ASSERT_TRUE(admesh.waitForExit(std::chrono::seconds(60)));
    const std::string out = admesh.standardOutput();
    const auto field = [&out](const std::string& name) {
        std::smatch match;
        EXPECT_TRUE(std::regex_search(out, match, std::regex(name + "\\s*[:=]\\s*(-?[0-9.e+-]+)")))
            << name;
        return match.empty() ? -1.0 : std::stod(match[1]);
    };
    for (const char* zero : {"Edges fixed", "Facets removed", "Facets added", "Backwards edges",
                             "Degenerate facets", "Facets reversed"}) {
        EXPECT_EQ(field(zero), 0.0) << zero << " in\n" << out;
    }
    EXPECT_EQ(field("Number of parts"), parts);
    EXPECT_GT(field("Volume"), 0.0);
    if (longerSide > 0.0) {
        const double width = field("Max X") - field("Min X");
        const double depth = field("Max Y") - field("Min Y");
        EXPECT_NEAR(std::max(width, depth), longerSide, 0.1);
    }
}

void expectValidGltf(const std::string& path) {
    if (!std::filesystem::exists(kValidatorFolder + "/node_modules/gltf-validator")) {
        GTEST_SKIP() << "gltf-validator is not installed (scripts/install-deps installs it)";
    }
    ChildOptions options;
    options.executable = "/usr/bin/node";
    options.arguments = {
        std::string(GROUNDVIEW_SOURCE_DIR) + "/tools/groundtool/tests/validate_gltf.js",
        kValidatorFolder, path};
    ChildProcess validator(options);
    const auto status = validator.waitForExit(std::chrono::seconds(60));
    EXPECT_TRUE(status && *status == ExitStatus::withCode(0)) << validator.standardOutput();
    EXPECT_NE(validator.standardOutput().find("errors 0"), std::string::npos);
}

class ExportTest : public testing::Test {
  protected:
    void SetUp() override {
        writeFile(folder.file("ground.3dt"),
                  terrainBytes(kGridRows, kGridColumns, 4, 8, 8,
                               [](int r, int c) { return level(r, c); }));
        writeFile(folder.file("4.bmp"), bitmapBytes(16, 16, [](int x, int y) {
                      return Rgb{std::uint8_t(x * 16), std::uint8_t(y * 16), 90};
                  }));
        writeRaster(folder.file("utm.tif"), kUtmDem, rampAndPeak);
        writeRaster(folder.file("geographic.tif"), kGeographicDem, rampAndPeak);
    }
    TemporaryFolder folder;
};

struct FormatRow {
    std::string source;
    std::vector<std::string> arguments;  // --out FILE first
    double widthMm;                      // 0: life size
    double exaggeration;
    int samples = 0;  // a raster's --samples; 0: export's own choice
};

TEST_F(ExportTest, EachFormatHoldsEverySampleAtItsHeight) {
    const std::vector<FormatRow> rows = {
        {"ground.3dt", {"--out", "hill.stl"}, 0.0, 1.0},
        {"ground.3dt", {"--out", "print.stl", "--width-mm", "100", "--exaggeration", "3"}, 100, 3},
        {"ground.3dt", {"--out", "hill.obj", "--width-mm", "80"}, 80.0, 1.0},
        {"ground.3dt", {"--out", "hill.glb", "--exaggeration", "2.5"}, 0.0, 2.5},
        {"ground.3dt", {"--out", "levels.png", "--exaggeration", "2"}, 0.0, 2.0},
        {"ground.3dt", {"--out", "hill.r16"}, 0.0, 1.0},
        {"ground.3dt", {"--out", "raw.bin", "--format", "raw"}, 0.0, 1.0},
        {"utm.tif", {"--out", "utm.stl", "--width-mm", "150", "--exaggeration", "2"}, 150, 2},
        {"utm.tif", {"--out", "utm.obj"}, 0.0, 1.0},
        {"utm.tif", {"--out", "utm.glb", "--exaggeration", "1.5"}, 0.0, 1.5},
        {"utm.tif", {"--out", "utm_levels.png"}, 0.0, 1.0},
        {"utm.tif", {"--out", "utm.r16", "--exaggeration", "3"}, 0.0, 3.0},
        {"utm.tif", {"--out", "flat.stl", "--exaggeration", "0.001"}, 0.0, 0.001},
        {"geographic.tif",
         {"--out", "geo.stl", "--samples", "100", "--width-mm", "90"},
         90,
         1,
         100},
    };
    for (const FormatRow& row : rows) {
        SCOPED_TRACE(row.source + " to " + row.arguments[1]);
        std::vector<std::string> arguments = {row.source};
        arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
        const ToolRun run = exportRun(folder.path(), arguments);
        ASSERT_EQ(run.status, 0) << run.err;
        // A raster's heights are what the raster library reads at the same sample count.
        // Meshes keep fewer triangles by default as their files grow per triangle; a heightmap
        // keeps as many samples as an STL.
        const std::string named = row.arguments[1].substr(row.arguments[1].rfind('.') + 1);
        const std::uint64_t triangles =
            named == "obj" || named == "glb"
                ? groundtool::defaultTriangles(groundtool::exportFormat(named, ""))
                : groundtool::kDefaultMaxTriangles;
        const int samples =
            row.samples != 0 ? row.samples : groundtool::samplesForTriangles(triangles);
        const HeightField field = row.source == "ground.3dt"
                                      ? worldField()
                                      : raster::readElevation(folder.file(row.source),
                                                              raster::kDefaultMaxSamples, samples)
                                            .field;
        // The report gives true heights, to three digits, and how much they are drawn up.
        std::smatch reported;
        ASSERT_TRUE(std::regex_search(
            run.out, reported, std::regex("heights (\\S+) m to (\\S+) m(, drawn x (\\S+))?[,;]")))
            << run.out;
        const auto [lowest, highest] =
            std::minmax_element(field.heights.begin(), field.heights.end());
        EXPECT_NEAR(std::stod(reported[1]), *lowest, 0.005 * std::abs(*lowest)) << run.out;
        EXPECT_NEAR(std::stod(reported[2]), *highest, 0.005 * std::abs(*highest)) << run.out;
        EXPECT_EQ(reported[3].matched ? std::stod(reported[4]) : 1.0, row.exaggeration) << run.out;
        const double perMetre =
            row.widthMm > 0.0 ? row.widthMm / std::max(field.width(), field.depth()) : 1.0;
        const std::string path = folder.file(row.arguments[1]);
        const std::string extension = std::filesystem::path(path).extension();
        if (extension == ".stl") {
            expectTopHeights(stlVertices(readFile(path)), field, perMetre, row.exaggeration);
            expectClosedSolid(path, row.widthMm);
        } else if (extension == ".obj") {
            expectTopHeights(objVertices(path), field, perMetre, row.exaggeration);
            const std::string stem = std::filesystem::path(path).replace_extension();
            for (const char* beside : {".mtl", "_texture.png"}) {
                EXPECT_TRUE(fileExists(stem + beside)) << beside;
            }
        } else if (extension == ".glb") {
            expectTopHeights(glbVertices(readFile(path)), field, perMetre, row.exaggeration);
            expectValidGltf(path);
        } else if (extension == ".png") {
            int width = 0, height = 0, channels = 0;
            stbi_us* pixels = stbi_load_16(path.c_str(), &width, &height, &channels, 1);
            ASSERT_TRUE(pixels && width == field.columns && height == field.rows);
            expectLevels(std::vector<unsigned>(pixels, pixels + width * height), run.out, field,
                         row.exaggeration);
            stbi_image_free(pixels);
        } else {
            const Bytes raw = readFile(path);
            std::vector<unsigned> levels;
            for (std::size_t i = 0; i + 1 < raw.size(); i += 2) {
                levels.push_back(raw[i] | raw[i + 1] << 8);
            }
            expectLevels(levels, run.out, field, row.exaggeration);
        }
    }
}

TEST_F(ExportTest, TilesAreClosedSolidsSharingTheirEdges) {
    ASSERT_EQ(exportRun(folder.path(), {"ground.3dt", "--out", "t.stl", "--tiles", "2x2"}).status,
              0);
    std::map<std::string, std::set<Vertex>> tiles;
    for (const char* name : {"t_1_1.stl", "t_2_1.stl", "t_1_2.stl", "t_2_2.stl"}) {
        expectClosedSolid(folder.file(name), 0.0);
        for (const Vertex& v : stlVertices(readFile(folder.file(name)))) {
            tiles[name].insert(v);
        }
    }
    // East edge of the west tiles and south edge of the north tiles, found in their neighbours.
    const auto expectShared = [&tiles](const std::string& a, const std::string& b,
                                       std::size_t axis) {
        double edge = -1e9;
        for (const Vertex& v : tiles[a])
            edge = std::max(edge, v[axis]);
        std::size_t shared = 0;
        for (const Vertex& v : tiles[a]) {
            if (v[axis] == edge) {
                EXPECT_EQ(tiles[b].count(v), 1u) << a << " " << b;
                ++shared;
            }
        }
        EXPECT_GE(shared, 4u);
    };
    expectShared("t_1_1.stl", "t_2_1.stl", 0);
    expectShared("t_1_2.stl", "t_2_2.stl", 0);
    expectShared("t_1_1.stl", "t_1_2.stl", 1);
    expectShared("t_2_1.stl", "t_2_2.stl", 1);
}

struct RefusalRow {
    std::vector<std::string> arguments;
    int status;
    std::string error = "";  // all of standard error, when given
};

TEST_F(ExportTest, RefusalsWriteNothing) {
    writeFile(folder.file("old.stl"), {1, 2, 3});
    writeFile(folder.file("notes.txt"), {'h', 'e', 'l', 'l', 'o', '\n'});  // no world, no raster
    // One height a float holds, though not 100 times over, nor scaled to 10 m across 210 m.
    writeRaster(folder.file("huge.tif"), {"GTiff", 8, 8, GDT_Float32, kUtmDem.placement, 32632, 0},
                [](int x, int y) { return x == 3 && y == 2 ? 1e38 : 800.0 + x; });
    const std::string overflow =
        "groundtool: cannot export huge.tif: its heights reach 1e+38; times 100 that is 1e+40, "
        "beyond what a float holds\n";
    const std::vector<std::string> before = folderContents(folder.path());
    const std::vector<RefusalRow> rows = {
        {{"ground.3dt", "--out", "hill.xyz"}, groundtool::kExitUsage},
        {{"ground.3dt", "--out", "hill.stl", "--tiles", "0x1"}, groundtool::kExitUsage},
        {{"ground.3dt", "--out", "hill.stl", "--exaggeration", "0x10"}, groundtool::kExitUsage},
        {{"ground.3dt", "--out", "hill.stl", "--samples", "300"}, groundtool::kExitUsage},
        {{"utm.tif", "--out", "hill.png", "--width-mm", "100"}, groundtool::kExitUsage},
        {{"ground.3dt", "--out", "old.stl"}, groundtool::kExitFailure},
        {{"ground.3dt", "--out", "old.stl", "--tiles", "9x1", "--force"}, groundtool::kExitFailure},
        {{"ground.3dt", "--out", "missing/deeper/hill.stl"}, groundtool::kExitFailure},
        {{"notes.txt", "--out", "hill.stl"}, groundtool::kExitFailure},
        {{"huge.tif", "--out", "hill.stl", "--exaggeration", "100"}, 1, overflow},
        {{"huge.tif", "--out", "hill.obj", "--exaggeration", "100"}, 1, overflow},
        {{"huge.tif", "--out", "hill.glb", "--exaggeration", "100"}, 1, overflow},
        {{"huge.tif", "--out", "hill.stl", "--exaggeration", "3", "--width-mm", "10000"},
         1,
         "groundtool: cannot export huge.tif 10000 mm wide: its heights go beyond what a float "
         "holds\n"},
        {{"utm.tif", "--out", "hill.tif", "--exaggeration", "2"},
         groundtool::kExitUsage,
         "groundtool: --exaggeration is for meshes and 16-bit heightmaps; .tif and .asc hold true "
         "heights\n"},
        {{"utm.tif", "--out", "hill.stl", "--area", "1,2,3,4"},
         groundtool::kExitUsage,
         "groundtool: --area 1,2,3,4 holds less than 2 x 2 cells of the data; the data spans "
         "400000,5094000,409000,5100000 (W,S,E,N)\n"},
        {{"utm.tif", "--out", "hill.stl", "--area", "405000,5095000,401000,5099000"},
         groundtool::kExitUsage,
         "groundtool: --area 405000,5095000,401000,5099000 is empty; the data spans "
         "400000,5094000,409000,5100000 (W,S,E,N)\n"},
        {{"utm.tif", "--out", "hill.stl", "--area-latlon", "46,7"},
         groundtool::kExitUsage,
         "groundtool: --area-latlon: expected S,W,N,E, four numbers, not 46,7\n"},
        {{"ground.3dt", "--out", "hill.stl", "--area", "0,0,3,3"}, groundtool::kExitUsage},
        {{"utm.tif", "--out", "hill.png", "--outline", "cut"},
         groundtool::kExitUsage,
         "groundtool: --outline is for STL, OBJ and glTF; heightmaps mark where there is no "
         "data\n"},
        {{"utm.tif", "--out", "hill.stl", "--exaggeration", "0.0009"},
         groundtool::kExitUsage,
         "groundtool: --exaggeration: expected a number from 0.001 to 100, not 0.0009 (see "
         "groundtool --help)\n"}};
    for (const RefusalRow& row : rows) {
        const ToolRun run = exportRun(folder.path(), row.arguments);
        EXPECT_EQ(run.status, row.status) << row.arguments[0] << " " << row.arguments[2] << run.err;
        if (!row.error.empty()) {
            EXPECT_EQ(run.err, row.error);
        }
        EXPECT_EQ(folderContents(folder.path()), before);
    }
    EXPECT_EQ(readFile(folder.file("old.stl")), Bytes({1, 2, 3}));
}

// An OBJ's texture and a heightmap of the same name are two files; a second export over the
// first is refused without --force, and neither replaces the other with it.
TEST_F(ExportTest, TextureAndHeightmapOfOneNameAreDistinctFiles) {
    ASSERT_EQ(exportRun(folder.path(), {"utm.tif", "--out", "hill.obj", "--samples", "40"}).status,
              0);
    const Bytes texture = readFile(folder.file("hill_texture.png"));
    const std::vector<std::string> material = readLines(folder.file("hill.mtl"));
    EXPECT_EQ(std::count(material.begin(), material.end(), "map_Kd hill_texture.png"), 1);
    const ToolRun again =
        exportRun(folder.path(), {"utm.tif", "--out", "hill.obj", "--samples", "40"});
    EXPECT_EQ(again.status, groundtool::kExitFailure);
    EXPECT_NE(again.err.find("hill.obj"), std::string::npos) << again.err;
    for (const bool force : {false, true}) {
        std::vector<std::string> arguments = {"utm.tif", "--out", "hill.png", "--samples", "40"};
        if (force) {
            arguments.push_back("--force");
        }
        const ToolRun heightmap = exportRun(folder.path(), arguments);
        ASSERT_EQ(heightmap.status, 0) << heightmap.err;
        EXPECT_EQ(readFile(folder.file("hill_texture.png")), texture);
        int width = 0, height = 0, channels = 0;
        ASSERT_TRUE(stbi_info(folder.file("hill.png").c_str(), &width, &height, &channels));
        EXPECT_EQ(std::pair(width, height), std::pair(40, 26));
        EXPECT_EQ(channels, 1);
    }
}

// Smooth normals: unit length everywhere, upwards over the textured top; the walls and the
// underside plain, sideways and down. glTF carries them as NORMAL.
TEST_F(ExportTest, MeshesCarryUnitNormalsUpOverTheTop) {
    for (const char* out : {"n.obj", "n.glb"}) {
        const ToolRun run = exportRun(folder.path(), {"utm.tif", "--out", out, "--samples", "60"});
        ASSERT_EQ(run.status, 0) << run.err;
        // The source's middle, where the model's origin lies.
        EXPECT_NE(
            run.out.find("; origin at (404500, 5097000) in the source's coordinates, base at "),
            std::string::npos)
            << run.out;
    }
    std::vector<std::array<double, 3>> normals;
    std::string material;
    std::map<std::string, int> upwards;  // per material: corners whose normal points up
    std::map<std::string, int> corners;
    for (const std::string& line : readLines(folder.file("n.obj"))) {
        std::array<double, 3> n{};
        char name[32] = {};
        unsigned v[3] = {};
        if (std::sscanf(line.c_str(), "vn %lf %lf %lf", &n[0], &n[1], &n[2]) == 3) {
            EXPECT_NEAR(std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]), 1.0, 1e-6) << line;
            normals.push_back(n);
        } else if (std::sscanf(line.c_str(), "usemtl %31s", name) == 1) {
            material = name;
        } else if (std::sscanf(line.c_str(), "f %*u/%*u/%u %*u/%*u/%u %*u/%*u/%u", &v[0], &v[1],
                               &v[2]) == 3) {
            for (const unsigned index : v) {
                ASSERT_LE(index, normals.size());
                upwards[material] += normals[index - 1][1] > 0.0;
                ++corners[material];
            }
        }
    }
    EXPECT_EQ(upwards["ground"], corners["ground"]);
    EXPECT_EQ(corners["ground"], 2 * 59 * 39 * 3);
    EXPECT_EQ(upwards["sides"], 0);
    EXPECT_GT(corners["sides"], 0);
    const std::vector<std::string> mtl = readLines(folder.file("n.mtl"));
    EXPECT_EQ(std::count_if(mtl.begin(), mtl.end(),
                            [](const std::string& line) { return line.rfind("map_Kd", 0) == 0; }),
              1);
    const Bytes glb = readFile(folder.file("n.glb"));
    EXPECT_NE(std::string(glb.begin(), glb.begin() + 2000).find(R"("NORMAL":1)"),
              std::string::npos);
    expectValidGltf(folder.file("n.glb"));
}

// What gdalinfo tells of a file: its geotransform and the name of its CRS.
struct GdalFacts {
    std::array<double, 6> transform{};
    std::string crs;
};

GdalFacts gdalinfo(const std::string& path) {
    ChildOptions options;
    options.executable = "/usr/bin/gdalinfo";
    options.arguments = {path};
    ChildProcess child(options);
    EXPECT_TRUE(child.waitForExit(std::chrono::seconds(60)));
    const std::string out = child.standardOutput();
    GdalFacts facts;
    std::smatch match;
    EXPECT_TRUE(std::regex_search(
        out, match, std::regex("Origin = \\((\\S+),(\\S+)\\)\nPixel Size = \\((\\S+),(\\S+)\\)")))
        << out;
    if (!match.empty()) {
        facts.transform = {std::stod(match[1]), std::stod(match[3]), 0, std::stod(match[2]), 0,
                           std::stod(match[4])};
    }
    if (std::regex_search(out, match, std::regex("\n(PROJ|GEOG)CRS\\[\"([^\"]+)\""))) {
        facts.crs = match[2];
    }
    return facts;
}

// A heightmap's samples in metres, read by GDAL from the file alone; 16-bit levels through the
// low and high of the JSON beside them.
std::vector<double> heightmapMetres(const std::string& path, const std::string& json) {
    const raster::Dataset file(GDALOpen(path.c_str(), GA_ReadOnly));
    EXPECT_TRUE(file) << path;
    if (!file) {
        return {};
    }
    const int width = GDALGetRasterXSize(file.get());
    const int height = GDALGetRasterYSize(file.get());
    std::vector<double> values(static_cast<std::size_t>(width) * height);
    EXPECT_EQ(GDALRasterIO(GDALGetRasterBand(file.get(), 1), GF_Read, 0, 0, width, height,
                           values.data(), width, height, GDT_Float64, 0, 0),
              CE_None);
    if (!json.empty()) {
        const Bytes bytes = readFile(json);
        const std::string text(bytes.begin(), bytes.end());
        std::smatch low, high;
        EXPECT_TRUE(std::regex_search(text, low, std::regex("\"low\": (\\S+),")) &&
                    std::regex_search(text, high, std::regex("\"high\": (\\S+),")))
            << text;
        for (double& value : values) {
            value = std::stod(low[1]) + value * (std::stod(high[1]) - std::stod(low[1])) / 65535;
        }
    }
    return values;
}

const std::string kUtm = "WGS 84 / UTM zone 32N";

struct HeightmapRow {
    std::string source;
    std::string out;
    std::string crs;
    std::string json;                 // the sidecar of the scale; empty for true heights
    std::vector<std::string> beside;  // what else is written
    std::string heightsOf = "";       // the source in metres it holds the heights of; "": source
};

// Each heightmap opens in GDAL as it is, placed where the source lies, with the source's heights.
TEST_F(ExportTest, HeightmapsCarryTheirPlaceAndScale) {
    // A square of 80 x 80 samples without data in the north-west: more than a void is filled.
    writeRaster(folder.file("holed.tif"),
                {"GTiff", 120, 100, GDT_Float32, kUtmDem.placement, 32632, -9999},
                [](int x, int y) { return x < 80 && y < 80 ? std::nan("") : rampAndPeak(x, y); });
    // The same ground in centimetres and in kilometres: metres once exported.
    for (const auto& [name, unit, perMetre] :
         {std::tuple{"cm.tif", "cm", 100.0}, std::tuple{"km.tif", "km", 0.001}}) {
        Raster raster = kUtmDem;
        raster.unit = unit;
        writeRaster(folder.file(name), raster,
                    [perMetre = perMetre](int x, int y) { return rampAndPeak(x, y) * perMetre; });
    }
    const std::vector<HeightmapRow> rows = {
        {"utm.tif", "u.tif", kUtm, "", {}},
        {"utm.tif", "u.asc", kUtm, "", {"u.prj"}},
        {"utm.tif", "u16.png", kUtm, "u16.json", {"u16.pgw", "u16.prj", "u16.png.aux.xml"}},
        {"utm.tif", "u16.r16", kUtm, "u16.json", {"u16.hdr"}},
        {"geographic.tif", "g.tif", "WGS 84", "", {}},
        {"geographic.tif", "g.png", "WGS 84", "g.json", {"g.pgw", "g.prj", "g.png.aux.xml"}},
        {"holed.tif", "h.tif", kUtm, "", {}},
        {"cm.tif", "c.tif", kUtm, "", {}, "utm.tif"},
        {"km.tif", "k.asc", kUtm, "", {"k.prj"}, "utm.tif"},
    };
    for (const HeightmapRow& row : rows) {
        SCOPED_TRACE(row.source + " to " + row.out);
        const ToolRun run = exportRun(folder.path(), {row.source, "--out", row.out, "--force"});
        ASSERT_EQ(run.status, 0) << run.err;
        std::vector<std::string> written = {row.out};
        written.insert(written.end(), row.beside.begin(), row.beside.end());
        if (!row.json.empty()) {
            written.push_back(row.json);
        }
        for (const std::string& name : written) {
            EXPECT_NE(run.out.find("wrote " + name + ": "), std::string::npos) << run.out;
        }
        const raster::Dataset source(GDALOpen(folder.file(row.source).c_str(), GA_ReadOnly));
        std::array<double, 6> transform{};
        GDALGetGeoTransform(source.get(), transform.data());
        const GdalFacts facts = gdalinfo(folder.file(row.out));
        EXPECT_EQ(facts.crs, row.crs);
        for (std::size_t i = 0; i < 6; ++i) {
            EXPECT_NEAR(facts.transform[i], transform[i], 1e-9 * std::abs(transform[i])) << i;
        }
        const HeightField field =
            raster::readElevation(folder.file(row.heightsOf.empty() ? row.source : row.heightsOf))
                .field;
        if (row.source == "holed.tif") {
            EXPECT_FALSE(field.complete());
            EXPECT_NE(run.out.find("Float32 metres, -32768 where there is none"), std::string::npos)
                << run.out;
        }
        const std::vector<double> metres =
            heightmapMetres(folder.file(row.out), row.json.empty() ? "" : folder.file(row.json));
        ASSERT_EQ(metres.size(), field.heights.size());
        const auto [low, high] = std::minmax_element(field.heights.begin(), field.heights.end());
        const double precision = row.json.empty() ? 1e-3 : (*high - *low) / 65535;
        for (std::size_t i = 0; i < metres.size(); ++i) {
            const bool drawn = field.kinds.empty() || field.kinds[i] <= SampleKind::filled;
            ASSERT_NEAR(metres[i], drawn || !row.json.empty() ? field.heights[i] : -32768.0,
                        precision)
                << i;
        }
    }
}

// A raster comes averaged down to --samples on its longer side, both axes by one factor: 201 x 101
// cells of 30 m become 21 x 10 samples, 287 m apart east and 303 m south.
TEST_F(ExportTest, RasterIsAveragedDownToSamples) {
    writeRaster(folder.file("elevation.tif"),
                {"GTiff", 201, 101, GDT_Float32, {400000, 30, 0, 5100000, 0, -30}, 32632, 0},
                [](int x, int) { return x; });  // rising eastwards
    const ToolRun run =
        exportRun(folder.path(), {"elevation.tif", "--out", "r.stl", "--samples", "21"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find(std::to_string(groundtool::solidTriangleCount(21, 10)) + " triangles"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("5743 x 2727 x"), std::string::npos) << run.out;
    expectClosedSolid(folder.file("r.stl"), 0.0);
    // More samples than the source holds: its own, said so.
    const ToolRun finer =
        exportRun(folder.path(), {"elevation.tif", "--out", "f.stl", "--samples", "1025"});
    ASSERT_EQ(finer.status, 0) << finer.err;
    EXPECT_EQ(finer.err,
              "groundtool: elevation.tif: kept its own 201 x 101 samples; --samples "
              "1025 asks for more than it holds\n");
    EXPECT_NE(
        finer.out.find(std::to_string(groundtool::solidTriangleCount(201, 101)) + " triangles"),
        std::string::npos)
        << finer.out;
}

// An area cut from the source lies where gdal_translate -projwin cuts the same numbers.
TEST_F(ExportTest, AreaCutsAsProjwin) {
    const std::vector<std::array<const char*, 4>> areas = {
        {"401010", "5095020", "405000", "5099000"},
        {"400000", "5094005", "400700.5", "5099990"},
    };
    for (const auto& area : areas) {
        const std::string numbers =
            std::string(area[0]) + "," + area[1] + "," + area[2] + "," + area[3];
        SCOPED_TRACE(numbers);
        std::filesystem::remove(folder.file("area.tif"));
        std::filesystem::remove(folder.file("projwin.tif"));
        const ToolRun run =
            exportRun(folder.path(), {"utm.tif", "--out", "area.tif", "--area", numbers});
        ASSERT_EQ(run.status, 0) << run.err;
        ChildOptions options;
        options.executable = "/usr/bin/gdal_translate";
        options.arguments = {"-q",
                             "-projwin",
                             area[0],
                             area[3],
                             area[2],
                             area[1],
                             folder.file("utm.tif"),
                             folder.file("projwin.tif")};
        ChildProcess translate(options);
        ASSERT_TRUE(translate.waitForExit(std::chrono::seconds(60)));
        const GdalFacts ours = gdalinfo(folder.file("area.tif"));
        const GdalFacts theirs = gdalinfo(folder.file("projwin.tif"));
        for (std::size_t k : {0, 1, 3, 5}) {
            EXPECT_NEAR(ours.transform[k], theirs.transform[k], 15.0) << k;
        }
        const raster::Dataset a(GDALOpen(folder.file("area.tif").c_str(), GA_ReadOnly));
        const raster::Dataset b(GDALOpen(folder.file("projwin.tif").c_str(), GA_ReadOnly));
        ASSERT_TRUE(a && b);
        EXPECT_EQ(GDALGetRasterXSize(a.get()), GDALGetRasterXSize(b.get()));
        EXPECT_EQ(GDALGetRasterYSize(a.get()), GDALGetRasterYSize(b.get()));
    }
    // Degrees: a box inside the tile, read as the source's coordinates around it.
    const ToolRun degrees = exportRun(folder.path(), {"geographic.tif", "--out", "deg.stl",
                                                      "--area-latlon", "46.06,7.02,46.09,7.06"});
    ASSERT_EQ(degrees.status, 0) << degrees.err;
    EXPECT_NE(degrees.out.find("origin at (7.04"), std::string::npos) << degrees.out;
}

// A country with an island off its coast: two discs of data in a 300 x 200 DEM of 30 m cells, no
// data around them (more than half the DEM).
bool onLand(double x, double y) {
    return std::hypot(x - 120, y - 100) <= 80 || std::hypot(x - 250, y - 60) <= 25;
}
double land(int x, int y) {
    return onLand(x, y) ? 400.0 + x : std::nan("");
}

struct OutlineRow {
    std::vector<std::string> arguments;  // --out FILE first
    bool cut;
    int parts;         // islands: admesh's parts
    double cell = 30;  // model units per 30 m cell of the source
    // How far the footprint may fall short of the land: a coarser grid loses up to half a cell
    // of its own all along the coast.
    double shortfall = 0.02;
};

TEST_F(ExportTest, OutlineCutsMeshesToTheData) {
    writeRaster(folder.file("land.tif"),
                {"GTiff", 300, 200, GDT_Float32, kUtmDem.placement, 32632, -9999}, land);
    long long landCells = 0;
    for (int y = 0; y < 200; ++y) {
        for (int x = 0; x < 300; ++x) {
            landCells += onLand(x, y);
        }
    }
    const std::vector<OutlineRow> rows = {
        {{"--out", "land.stl"}, true, 2},
        {{"--out", "coarse.stl", "--samples", "120", "--width-mm", "150"},
         true,
         2,
         150 / 299.0,
         0.1},
        {{"--out", "land.obj", "--outline", "cut"}, true, 0},
        {{"--out", "land.glb"}, true, 0},
        {{"--out", "whole.stl", "--outline", "fill"}, false, 1},
        // A base asked for joins the islands on a plate under the whole rectangle.
        {{"--out", "joined.stl", "--base-mm", "2"}, false, 1},
        {{"--out", "whole.obj", "--outline", "fill"}, false, 0},
    };
    for (const OutlineRow& row : rows) {
        SCOPED_TRACE(row.arguments[1]);
        std::vector<std::string> arguments = {"land.tif"};
        arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
        const ToolRun run = exportRun(folder.path(), arguments);
        ASSERT_EQ(run.status, 0) << run.err;
        const std::string path = folder.file(row.arguments[1]);
        const std::string extension = std::filesystem::path(path).extension();
        const std::vector<Vertex> vertices = extension == ".stl"   ? stlVertices(readFile(path))
                                             : extension == ".obj" ? objVertices(path)
                                                                   : glbVertices(readFile(path));
        // Centred: the source's middle, pixel (149.5, 99.5), at the origin.
        const double cell = row.cell;
        std::size_t outside = 0;
        std::array<double, 2> low{1e30, 1e30};
        std::array<double, 2> high{-1e30, -1e30};
        for (const Vertex& v : vertices) {
            outside += !onLand(std::lround(v[0] / cell + 149.5), std::lround(v[1] / cell + 99.5));
            for (std::size_t axis = 0; axis < 2; ++axis) {
                low[axis] = std::min(low[axis], v[axis]);
                high[axis] = std::max(high[axis], v[axis]);
            }
        }
        if (row.cut) {
            EXPECT_EQ(outside, 0u);
        } else {
            EXPECT_NEAR(high[0] - low[0], 299 * cell, 1e-3);
            EXPECT_NEAR(high[1] - low[1], 199 * cell, 1e-3);
        }
        if (extension == ".glb") {
            expectValidGltf(path);
        }
        if (extension != ".stl") {
            continue;
        }
        expectClosedSolid(path, 0.0, row.parts);
        // Top and underside each cover the footprint once; walls stand upright.
        double covered = 0.0;
        for (std::size_t i = 0; i + 2 < vertices.size(); i += 3) {
            const Vertex& a = vertices[i];
            const Vertex& b = vertices[i + 1];
            const Vertex& c = vertices[i + 2];
            covered += std::abs((b[0] - a[0]) * (c[1] - a[1]) - (b[1] - a[1]) * (c[0] - a[0])) / 4;
        }
        const double footprint = covered / (cell * cell);
        EXPECT_NEAR(footprint, row.cut ? landCells : 299.0 * 199.0,
                    row.cut ? row.shortfall * landCells : 1e-3)
            << run.out;
    }
}

}  // namespace
