#include "import.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <vector>

#include "app.h"
#include "decimal_text.h"
#include "elevation_source.h"
#include "file_output.h"
#include "gdal_raster.h"
#include "grid_layout.h"
#include "image_files.h"
#include "no_data.h"
#include "open_world.h"
#include "option_values.h"
#include "printable.h"
#include "raster_error.h"
#include "terrain.h"
#include "tool_error.h"
#include "world.h"

namespace fs = std::filesystem;

namespace groundtool {

using raster::decimalText;
using raster::ElevationSource;
using raster::GridLayout;
using raster::Ground;

std::string percentage(std::size_t part, std::size_t whole) {
    return decimalText(100.0 * static_cast<double>(part) / static_cast<double>(whole)) + "%";
}

std::string length(double value, bool inMetres) {
    return decimalText(value) + (inMetres ? " m" : value == 1.0 ? " unit" : " units");
}

namespace {

constexpr int kLevels = terrain_format::kLevelSteps;

const char* describe(TextureKind kind) {
    switch (kind) {
        case TextureKind::relief:
            return "relief (hillshade times height tint)";
        case TextureKind::hillshade:
            return "hillshade";
        case TextureKind::tint:
            return "height tint";
        case TextureKind::none:
            break;
    }
    return "none";
}

// The grid's heights in source units, rows of samples north to south, each west to east.
struct GridSamples {
    std::vector<double> values;
    std::size_t filled = 0;   // samples with no valid source cell under them
    std::size_t clipped = 0;  // samples outside the height range, set by chooseRange
};

GridSamples readGrid(const ElevationSource& source, const GridLayout& grid,
                     const std::string& path) {
    GridSamples samples;
    samples.values.resize(static_cast<std::size_t>(grid.rows) * grid.columns);
    source.read(grid.window, grid.rows, grid.columns, samples.values.data(), grid.rows);
    if (std::all_of(samples.values.begin(), samples.values.end(),
                    [](double v) { return raster::missingHeight(v); })) {
        throw ToolError("cannot import " + printable(path) + ": it has no valid height");
    }
    samples.filled = raster::fillGaps(samples.values, grid.rows, grid.columns);
    return samples;
}

HeightRange chooseRange(const ImportOptions& options, const ElevationSource& source,
                        GridSamples& samples) {
    const std::vector<double>& values = samples.values;
    if (options.range) {
        const HeightRange range = *options.range;
        samples.clipped =
            static_cast<std::size_t>(std::count_if(values.begin(), values.end(), [range](double v) {
                return v < range.low || v > range.high;
            }));
        return range;
    }
    if (source.eightBit()) {
        return {0.0, 255.0};
    }
    const auto [low, high] = std::minmax_element(values.begin(), values.end());
    if (!std::isfinite(*high - *low)) {
        throw ToolError("cannot import " + printable(options.source) + ": its heights span " +
                        decimalText(*low) + " to " + decimalText(*high) +
                        ", wider than a number holds");
    }
    return {*low, *high};
}

// Grid rows run west to east and columns north to south, so the samples turn round.
std::vector<std::int8_t> gridLevels(const std::vector<double>& values, const GridLayout& grid,
                                    HeightRange range) {
    std::vector<std::int8_t> levels(values.size());
    for (int row = 0; row < grid.rows; ++row) {
        for (int column = 0; column < grid.columns; ++column) {
            levels[static_cast<std::size_t>(row) * grid.columns + column] =
                heightLevel(values[static_cast<std::size_t>(column) * grid.rows + row], range);
        }
    }
    return levels;
}

// The grid's shape and spacing: "127 samples west–east by 87 north–south, every 657 m".
std::string gridText(const GridLayout& grid, bool inMetres) {
    const std::string spacing = grid.cellEast == grid.cellNorth
                                    ? "every " + length(grid.cellEast, inMetres)
                                    : "every " + length(grid.cellEast, inMetres) +
                                          " west–east and " + length(grid.cellNorth, inMetres) +
                                          " north–south";
    return std::to_string(grid.rows) + " samples west–east by " + std::to_string(grid.columns) +
           " north–south, " + spacing;
}

// A word a POSIX shell reads back as text: quoted unless plain, control characters escaped.
std::string shellWord(const std::string& text) {
    if (!text.empty() &&
        text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                               "0123456789_./:+,=@%-") == std::string::npos) {
        return text;
    }
    std::string quoted = "'";
    for (const char c : printable(text)) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

// The viewer's height scale that shows the ground's true relief, and the command that opens the
// world with it.
void reportScale(const ImportOptions& options, double step, double cell, std::ostream& out) {
    const std::string folder = shellWord(options.folder);
    if (!(step > 0.0)) {
        out << "the source is flat: any height scale shows it flat\n"
            << "groundview --window " << folder << "\n";
        return;
    }
    // One world unit is one cell, and a level rises 1/127 of the height scale.
    const double truth = scene::kHeightDivisor * step / cell;
    const double scale = std::clamp(truth, app::kMinHeightScale, double{app::kMaxHeightScale});
    if (scale == truth) {
        out << "true relief: height scale " << decimalText(scale) << "\n";
    } else {
        out << "true relief needs height scale " << decimalText(truth) << "; clamped to "
            << decimalText(scale) << ", the nearest the viewer accepts\n";
    }
    out << "groundview --window --height-scale " << decimalText(scale) << " " << folder << "\n"
        << "or walk over the source itself: groundview --window";
    for (const std::string& source : options.sources) {
        out << " " << shellWord(source);
    }
    out << "\n";
}

void report(const ImportOptions& options, const ElevationSource& source, const GridLayout& grid,
            const GridSamples& samples, HeightRange range, const std::string& terrainPath,
            const std::string& texturePath, std::ostream& out) {
    const Ground& ground = source.ground();
    out << "read " << printable(options.source) << " (" << printable(source.kind())
        << "): " << source.width() << " x " << source.height() << " cells, "
        << printable(ground.description) << "\n";

    const double step = (range.high - range.low) / kLevels * source.metresPerUnit();
    const std::string unit = printable(source.heightUnit());
    out << "wrote " << printable(terrainPath) << ": " << gridText(grid, ground.inMetres)
        << "; heights " << decimalText(range.low) << " to " << decimalText(range.high) << " "
        << unit << " in " << kLevels << " steps of " << length(step, ground.inMetres);
    if (samples.clipped > 0) {
        out << "; --range clips " << percentage(samples.clipped, samples.values.size())
            << " of the samples";
    }
    if (samples.filled > 0) {
        out << "; " << percentage(samples.filled, samples.values.size())
            << " of the samples had no valid height and were filled from around them";
    }
    out << "\n";
    if (options.texture != TextureKind::none) {
        out << "wrote " << printable(texturePath) << ": " << options.textureSide << " x "
            << options.textureSide << " " << describe(options.texture)
            << ", spread once over the grid\n";
    } else if (fs::exists(texturePath)) {
        out << "no texture written; the viewer will draw the " << printable(texturePath)
            << " already there\n";
    } else {
        out << "no texture written; the viewer draws the grid untextured\n";
    }
    reportScale(options, step, std::sqrt(grid.cellEast * grid.cellNorth), out);
}

}  // namespace

std::optional<HeightRange> parseHeightRange(const std::string& text) {
    if (!heightRangeProblem(text).empty()) {
        return std::nullopt;
    }
    const auto pair = app::parseDecimalPair(text);
    return HeightRange{pair->first, pair->second};
}

std::string heightRangeProblem(const std::string& text) {
    const auto pair = app::parseDecimalPair(text);
    if (!pair) {
        return "expected LOW,HIGH, two plain decimal numbers";
    }
    const auto [low, high] = *pair;
    if (!(low < high)) {
        return "expected LOW below HIGH";
    }
    // Every level's height is computed from the difference.
    if (!std::isfinite(high - low)) {
        return "HIGH - LOW is too large a number";
    }
    return "";
}

std::int8_t heightLevel(double height, HeightRange range) {
    if (!(range.high > range.low)) {
        return terrain_format::levelOf(0.0);
    }
    return terrain_format::levelOf((height - range.low) / (range.high - range.low));
}

void runImport(const ImportOptions& options, std::ostream& out) {
    const OutputFolder folder(options.folder);
    const std::string terrainPath = world::terrainPath(options.folder);
    const std::string texturePath = world::texturePath(options.folder, options.textureNumber);
    const bool textured = options.texture != TextureKind::none;
    StagedOutput output(options.force);
    output.checkTarget(terrainPath);
    if (textured) {
        output.checkTarget(texturePath);
    }

    const OpenedWorld opened = openWorld(options.sources, options.band);
    if (!opened.raster) {
        throw ToolError("cannot import " + printable(options.source) +
                        ": it is a terrain file already; import reads elevation rasters");
    }
    const ElevationSource& source = *opened.raster;
    const Ground& ground = source.ground();
    const GridLayout grid = raster::layoutGrid(source.width(), source.height(), ground.cellEast,
                                               ground.cellNorth, options.size);
    GridSamples samples = readGrid(source, grid, options.source);
    const HeightRange range = chooseRange(options, source, samples);

    TerrainHeader header;
    header.rows = grid.rows;
    header.columns = grid.columns;
    header.textureNumber = options.textureNumber;
    const raster::TextureTiles tiles = raster::textureTiles(grid);
    header.tileX = tiles.tileX;
    header.tileY = tiles.tileY;
    // Everything is computed before the first byte is staged, so an interruption during the
    // long part leaves no temporary behind.
    const Bytes texture =
        textured ? encodeBmp(options.textureSide, options.textureSide,
                             raster::reliefTexture(source, grid, samples.values, options.texture,
                                                   options.textureSide, range))
                 : Bytes();
    output.stage(terrainPath, encodeTerrain(header, gridLevels(samples.values, grid, range)));
    if (textured) {
        output.stage(texturePath, texture);
    }
    output.commit();
    report(options, source, grid, samples, range, terrainPath, texturePath, out);
}

}  // namespace groundtool
