#include <gtest/gtest.h>
#include <stb/stb_image.h>

#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <regex>
#include <set>

#include "child_process.h"
#include "export_command.h"
#include "export_mesh.h"
#include "export_source.h"
#include "test_files.h"
#include "tool_error.h"
#include "tool_runner.h"

namespace {

constexpr int kGridRows = 6;     // along x: the field's columns
constexpr int kGridColumns = 9;  // along z: the field's rows
constexpr double kHeightScale = 0.3;
const std::string kValidatorFolder = std::string(GROUNDVIEW_SOURCE_DIR) + "/build-tools/npm";

int level(int row, int column) {
    return (row * 37 + column * 23) % 101 - 50;
}
double metresAt(int fieldColumn, int fieldRow) {
    return level(fieldColumn, fieldRow) / 127.0 * kHeightScale;
}

struct ExportRun {
    int status = 0;
    std::string out;
};

// export through its own command line, as main will dispatch it.
ExportRun exportWith(const std::string& folder, std::vector<std::string> arguments) {
    CLI::App app;
    const groundtool::Command command = groundtool::addExportCommand(app);
    arguments.insert(arguments.begin(), "export");
    std::reverse(arguments.begin(), arguments.end());
    const auto here = std::filesystem::current_path();
    std::filesystem::current_path(folder);
    ExportRun run;
    testing::internal::CaptureStdout();
    try {
        app.parse(arguments);
        run.status = command.run();
    } catch (const CLI::ParseError&) {
        run.status = groundtool::kExitUsage;
    } catch (const groundtool::ToolError& error) {
        run.status = error.status();
    }
    run.out = testing::internal::GetCapturedStdout();
    std::filesystem::current_path(here);
    return run;
}

float floatAt(const Bytes& bytes, std::size_t offset) {
    float value = 0.0f;
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

using Vertex = std::array<double, 3>;  // east, south, up in model units

std::vector<Vertex> stlVertices(const Bytes& stl, double depth) {
    std::vector<Vertex> vertices;
    for (std::size_t at = 84 + 12; at + 38 <= stl.size(); at += 50) {
        for (std::size_t k = 0; k < 3; ++k) {
            vertices.push_back({floatAt(stl, at + 12 * k), depth - floatAt(stl, at + 12 * k + 4),
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

// Every grid sample must appear as a top vertex at its own place and height.
void expectTopHeights(const std::vector<Vertex>& vertices, double unit, double exaggeration,
                      double tolerance) {
    std::set<std::pair<int, int>> seen;
    for (const Vertex& v : vertices) {
        const int column = static_cast<int>(std::lround(v[0] / unit));
        const int row = static_cast<int>(std::lround(v[1] / unit));
        const double expected = metresAt(column, row) * exaggeration * unit;
        if (std::abs(v[2] - expected) <= tolerance) {
            EXPECT_NEAR(v[0], column * unit, 1e-4 * unit);
            seen.insert({column, row});
        }
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(kGridRows * kGridColumns));
}

// Heightmap levels back in metres, through the range the report printed.
void expectLevels(const std::vector<unsigned>& levels, const std::string& report,
                  double exaggeration) {
    std::smatch range;
    ASSERT_TRUE(std::regex_search(report, range,
                                  std::regex("0 stands for (\\S+) m and 65535 for (\\S+) m")));
    const double low = std::stod(range[1]);
    const double high = std::stod(range[2]);
    ASSERT_EQ(levels.size(), static_cast<std::size_t>(kGridRows * kGridColumns));
    for (std::size_t i = 0; i < levels.size(); ++i) {
        const double expected = metresAt(i % kGridRows, i / kGridRows) * exaggeration;
        EXPECT_NEAR(low + levels[i] * (high - low) / 65535.0, expected, (high - low) / 65535.0)
            << i;
    }
}

// admesh's verdict on a solid: 1 part, nothing to fix, positive volume, and the bounding box.
void expectClosedSolid(const std::string& path, double longerSide) {
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
    EXPECT_EQ(field("Number of parts"), 1.0);
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
    }
    TemporaryFolder folder;
};

struct FormatRow {
    std::vector<std::string> arguments;
    double widthMm;  // 0: life size
    double exaggeration;
};

class ExportFormatTest : public ExportTest, public testing::WithParamInterface<FormatRow> {};

TEST_P(ExportFormatTest, WritesEverySampleAtItsHeight) {
    const FormatRow& row = GetParam();
    std::vector<std::string> arguments = {"ground.3dt"};
    arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
    const ExportRun run = exportWith(folder.path(), arguments);
    ASSERT_EQ(run.status, 0) << run.out;
    const std::string out = row.arguments[1];
    const std::string path = folder.file(out);
    const double unit = row.widthMm > 0.0 ? row.widthMm / (kGridColumns - 1) : 1.0;
    const std::string extension = std::filesystem::path(out).extension();
    if (extension == ".stl") {
        expectTopHeights(stlVertices(readFile(path), (kGridColumns - 1) * unit), unit,
                         row.exaggeration, 1e-4 * unit);
        expectClosedSolid(path, row.widthMm);
    } else if (extension == ".obj") {
        expectTopHeights(objVertices(path), unit, row.exaggeration, 1e-5 * unit);
        EXPECT_TRUE(fileExists(folder.file("hill.mtl")) && fileExists(folder.file("hill.png")));
    } else if (extension == ".glb") {
        expectTopHeights(glbVertices(readFile(path)), unit, row.exaggeration, 1e-5);
        expectValidGltf(path);
    } else if (extension == ".png") {
        int width = 0, height = 0, channels = 0;
        stbi_us* pixels = stbi_load_16(path.c_str(), &width, &height, &channels, 1);
        ASSERT_TRUE(pixels && width == kGridRows && height == kGridColumns);
        expectLevels(std::vector<unsigned>(pixels, pixels + width * height), run.out,
                     row.exaggeration);
        stbi_image_free(pixels);
    } else {
        const Bytes raw = readFile(path);
        std::vector<unsigned> levels;
        for (std::size_t i = 0; i + 1 < raw.size(); i += 2) {
            levels.push_back(raw[i] | raw[i + 1] << 8);
        }
        expectLevels(levels, run.out, row.exaggeration);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, ExportFormatTest,
    testing::Values(
        FormatRow{{"--out", "hill.stl"}, 0.0, 1.0},
        FormatRow{{"--out", "hill.stl", "--width-mm", "100", "--exaggeration", "3"}, 100.0, 3.0},
        FormatRow{{"--out", "hill.obj", "--width-mm", "80"}, 80.0, 1.0},
        FormatRow{{"--out", "hill.glb", "--exaggeration", "2.5"}, 0.0, 2.5},
        FormatRow{{"--out", "hill.png", "--exaggeration", "2"}, 0.0, 2.0},
        FormatRow{{"--out", "hill.r16"}, 0.0, 1.0},
        FormatRow{{"--out", "hill.bin", "--format", "raw"}, 0.0, 1.0}));

TEST_F(ExportTest, TilesAreClosedSolidsSharingTheirEdges) {
    ASSERT_EQ(exportWith(folder.path(), {"ground.3dt", "--out", "t.stl", "--tiles", "2x2"}).status,
              0);
    std::map<std::string, std::set<Vertex>> tiles;
    for (const char* name : {"t_1_1.stl", "t_2_1.stl", "t_1_2.stl", "t_2_2.stl"}) {
        expectClosedSolid(folder.file(name), 0.0);
        for (const Vertex& v : stlVertices(readFile(folder.file(name)), 0.0)) {
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
};

class ExportRefusalTest : public ExportTest, public testing::WithParamInterface<RefusalRow> {};

TEST_P(ExportRefusalTest, RefusesAndWritesNothing) {
    writeFile(folder.file("old.stl"), {1, 2, 3});
    const std::vector<std::string> before = folderContents(folder.path());
    EXPECT_EQ(exportWith(folder.path(), GetParam().arguments).status, GetParam().status);
    EXPECT_EQ(folderContents(folder.path()), before);
    EXPECT_EQ(readFile(folder.file("old.stl")), Bytes({1, 2, 3}));
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, ExportRefusalTest,
    testing::Values(
        RefusalRow{{"ground.3dt", "--out", "hill.xyz"}, groundtool::kExitUsage},
        RefusalRow{{"ground.3dt", "--out", "hill.stl", "--tiles", "0x1"}, groundtool::kExitUsage},
        RefusalRow{{"ground.3dt", "--out", "hill.stl", "--exaggeration", "0x10"},
                   groundtool::kExitUsage},
        RefusalRow{{"ground.3dt", "--out", "hill.stl", "--samples", "300"}, groundtool::kExitUsage},
        RefusalRow{{"ground.3dt", "--out", "old.stl"}, groundtool::kExitFailure},
        RefusalRow{{"ground.3dt", "--out", "old.stl", "--tiles", "9x1", "--force"},
                   groundtool::kExitFailure},
        RefusalRow{{"ground.3dt", "--out", "missing/hill.stl"}, groundtool::kExitFailure},
        RefusalRow{{"elevation.tif", "--out", "hill.stl"}, groundtool::kExitFailure}));

// A raster comes averaged down to --samples on its longer side, whatever the reader returns.
TEST_F(ExportTest, RasterIsAveragedDownToSamples) {
    const auto saved = groundtool::loadRasterSource;
    groundtool::loadRasterSource = [](const std::string&, int) {
        groundtool::ExportSource source;
        source.field = {201, 101, 30.0, std::vector<float>(201 * 101, 0.0f)};
        for (std::size_t i = 0; i < source.field.heights.size(); ++i) {
            source.field.heights[i] = static_cast<float>(i % 201);  // rising eastwards
        }
        return source;
    };
    writeFile(folder.file("elevation.tif"), {0});
    const ExportRun run =
        exportWith(folder.path(), {"elevation.tif", "--out", "r.stl", "--samples", "21"});
    groundtool::loadRasterSource = saved;
    ASSERT_EQ(run.status, 0);
    EXPECT_NE(run.out.find(std::to_string(groundtool::solidTriangleCount(21, 11)) + " triangles"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("6000 x 3000 x"), std::string::npos) << run.out;
    expectClosedSolid(folder.file("r.stl"), 0.0);
}

}  // namespace
