#include "import.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <vector>

#include "app.h"
#include "command_line.h"
#include "decimal_text.h"
#include "elevation_source.h"
#include "file_output.h"
#include "gdal_raster.h"
#include "grid_layout.h"
#include "image_files.h"
#include "terrain.h"
#include "tool_error.h"

namespace fs = std::filesystem;

namespace groundtool {

namespace {

constexpr int kLevels = 255;  // steps from the lowest level, -128, to the highest, 127
constexpr int kLowestLevel = -128;

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
    std::size_t filled = 0;  // samples with no valid source cell under them
};

GridSamples readGrid(const ElevationSource& source, const GridLayout& grid,
                     const std::string& path) {
    GridSamples samples;
    samples.values.resize(static_cast<std::size_t>(grid.rows) * grid.columns);
    source.read(grid.window, grid.rows, grid.columns, samples.values.data(), grid.rows);
    if (std::all_of(samples.values.begin(), samples.values.end(),
                    [](double v) { return std::isnan(v); })) {
        throw ToolError("cannot import " + path + ": it has no valid height");
    }
    samples.filled = fillGaps(samples.values, grid.rows, grid.columns);
    return samples;
}

HeightRange chooseRange(const ImportOptions& options, const ElevationSource& source,
                        const std::vector<double>& values) {
    if (options.range) {
        return *options.range;
    }
    if (source.eightBit()) {
        return {0.0, 255.0};
    }
    const auto [low, high] = std::minmax_element(values.begin(), values.end());
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

// A length in the source's ground unit: metres, or the unit of a source placed nowhere.
std::string length(double value, bool inMetres) {
    return decimalText(value) + (inMetres ? " m" : value == 1.0 ? " unit" : " units");
}

void report(const ImportOptions& options, const ElevationSource& source, const GridLayout& grid,
            const GridSamples& samples, HeightRange range, const std::string& terrainPath,
            const std::string& texturePath, std::ostream& out) {
    const Ground& ground = source.ground();
    out << "read " << options.source << " (" << source.kind() << "): " << source.width() << " x "
        << source.height() << " cells, " << ground.description << "\n";

    const double cell = std::sqrt(grid.cellEast * grid.cellNorth);
    const double level = (range.high - range.low) / kLevels * source.metresPerUnit();
    out << "wrote " << terrainPath << ": " << grid.rows << " rows west to east x " << grid.columns
        << " columns north to south, a cell "
        << (grid.cellEast == grid.cellNorth ? length(cell, ground.inMetres)
                                            : length(grid.cellEast, ground.inMetres) + " by " +
                                                  length(grid.cellNorth, ground.inMetres))
        << "; heights " << decimalText(range.low) << " to " << decimalText(range.high) << " "
        << source.heightUnit() << " onto levels -128 to 127, a level "
        << length(level, ground.inMetres);
    if (samples.filled > 0) {
        out << "; " << samples.filled << " cells with no valid height filled from around them";
    }
    out << "\n";
    if (options.texture != TextureKind::none) {
        out << "wrote " << texturePath << ": " << options.textureSide << " x "
            << options.textureSide << " " << describe(options.texture)
            << ", spread once over the grid\n";
    } else if (fs::exists(texturePath)) {
        out << "no texture written; the viewer will draw the " << texturePath << " already there\n";
    } else {
        out << "no texture written; the viewer draws the grid untextured\n";
    }
    if (level > 0.0) {
        // One world unit is one cell, and a level rises 1/127 of the height scale.
        out << "true relief: groundview --height-scale " << decimalText(127.0 * level / cell)
            << "\n";
    } else {
        out << "the source is flat: any height scale shows it flat\n";
    }
}

}  // namespace

std::optional<HeightRange> parseHeightRange(const std::string& text) {
    const std::size_t comma = text.find(',');
    if (comma == std::string::npos) {
        return std::nullopt;
    }
    double low = 0.0;
    double high = 0.0;
    if (!app::parseDecimal(text.substr(0, comma), low) ||
        !app::parseDecimal(text.substr(comma + 1), high) || !(low < high)) {
        return std::nullopt;
    }
    return HeightRange{low, high};
}

std::int8_t heightLevel(double height, HeightRange range) {
    if (!(range.high > range.low)) {
        return kLowestLevel;
    }
    const double share = (height - range.low) / (range.high - range.low);
    const long level = std::lround(std::clamp(share, 0.0, 1.0) * kLevels) + kLowestLevel;
    return static_cast<std::int8_t>(level);
}

void runImport(const ImportOptions& options, std::ostream& out) {
    const fs::path folder(options.folder);
    const std::string terrainPath = (folder / app::kTerrainFileName).string();
    const std::string texturePath =
        (folder / Terrain::textureFileName(options.textureNumber)).string();
    const bool textured = options.texture != TextureKind::none;
    StagedOutput output(options.force);
    output.checkTarget(terrainPath);
    if (textured) {
        output.checkTarget(texturePath);
    }

    const ElevationSource source(options.source);
    const Ground& ground = source.ground();
    const GridLayout grid = layoutGrid(source.width(), source.height(), ground.cellEast,
                                       ground.cellNorth, options.size);
    const GridSamples samples = readGrid(source, grid, options.source);
    const HeightRange range = chooseRange(options, source, samples.values);

    TerrainHeader header;
    header.rows = grid.rows;
    header.columns = grid.columns;
    header.textureNumber = options.textureNumber;
    const TextureTiles tiles = textureTiles(grid);
    header.tileX = tiles.tileX;
    header.tileY = tiles.tileY;
    output.stage(terrainPath, encodeTerrain(header, gridLevels(samples.values, grid, range)));
    if (textured) {
        output.stage(texturePath,
                     encodeBmp(options.textureSide, options.textureSide,
                               reliefTexture(source, grid, samples.values, options.texture,
                                             options.textureSide, range)));
    }
    output.commit();
    report(options, source, grid, samples, range, terrainPath, texturePath, out);
}

}  // namespace groundtool
