#include "export_source.h"

#include <cstdint>
#include <memory>

#include "byte_source.h"
#include "elevation_grid.h"
#include "export_texture.h"
#include "image.h"
#include "terrain.h"
#include "terrain_format.h"
#include "tool_error.h"
#include "world.h"

namespace groundtool {

namespace format = terrain_format;

namespace {
// The relief over an exported raster's mesh: detail beyond what its samples show, in a file
// size mesh tools take.
constexpr int kRasterTextureSide = 2048;
}  // namespace

ExportSource loadRasterSource(const std::string& path, int maxSamples, bool textured) {
    ExportSource source;
    const raster::ElevationSource opened(path);
    raster::ElevationGrid grid =
        raster::readElevation(opened, raster::kDefaultMaxSamples, maxSamples);
    source.field = std::move(grid.field);
    source.place = {opened.facts().placed, grid.placement.originX, grid.placement.originY,
                    grid.placement.stepX,  grid.placement.stepY,   opened.facts().crsWkt};
    if (textured) {
        source.image = raster::reliefImage(source.field, kRasterTextureSide);
    }
    if (!grid.note.empty()) {
        source.warnings.push_back(grid.note);
    }
    return source;
}

namespace {

constexpr int kMinGridSize = 2;  // a single row or column draws nothing

std::unique_ptr<FileSource> openSource(const std::string& path) {
    std::string failure;
    std::unique_ptr<FileSource> file = FileSource::open(path, &failure);
    if (!file) {
        throw ToolError(fileError("cannot open", path, failure));
    }
    return file;
}

}  // namespace

ExportSource loadTerrainSource(const std::string& path, double heightScale) {
    std::unique_ptr<FileSource> file = openSource(path);
    std::uint8_t header[format::kHeaderBytes] = {};
    if (file->read(header, sizeof header) != sizeof header) {
        throw ToolError("cannot export " + path + ": the header ends early");
    }
    const auto field = [&header](std::size_t offset) {
        return static_cast<int>(static_cast<std::int8_t>(header[offset]));
    };
    if (field(format::kTypeOffset) != format::kTypeTerrain) {
        throw ToolError("cannot export " + path + ": type " +
                        std::to_string(field(format::kTypeOffset)) + " is no terrain");
    }
    const int gridRows = field(format::kRowsOffset);
    const int gridColumns = field(format::kColumnsOffset);
    if (gridRows < kMinGridSize || gridColumns < kMinGridSize) {
        throw ToolError("cannot export " + path + ": " + std::to_string(gridRows) + " x " +
                        std::to_string(gridColumns) +
                        " samples; the viewer draws a grid of 2 x 2 or more");
    }
    // Both are at most 127, so the sample count fits easily.
    const std::size_t sampleCount = static_cast<std::size_t>(gridRows) * gridColumns;
    std::vector<std::uint8_t> levels(sampleCount, 0);
    file->read(levels.data(), sampleCount);

    ExportSource source;
    HeightField& heights = source.field;
    heights.columns = gridRows;
    heights.rows = gridColumns;
    heights.spacingEast = scene::kSpacing;
    heights.spacingSouth = scene::kSpacing;
    heights.heights.resize(sampleCount);
    for (int i = 0; i < gridRows; ++i) {
        for (int j = 0; j < gridColumns; ++j) {
            const auto level =
                static_cast<std::int8_t>(levels[static_cast<std::size_t>(i) * gridColumns + j]);
            heights.heights[static_cast<std::size_t>(j) * gridRows + i] =
                scene::worldHeight(level, static_cast<float>(heightScale));
        }
    }

    const std::string textureName = world::textureFileName(field(format::kTextureNumberOffset));
    Bitmap bitmap;
    const BitmapReport report = bitmap.load(world::inFolder(world::folderOf(path), textureName));
    if (bitmap.pixels() == nullptr) {
        source.warnings.push_back(
            "no texture " + textureName +
            (report.openFailure.empty() ? " (unreadable)" : " (" + report.openFailure + ")") +
            "; the ground is plain grey");
    }
    source.image = unrolledTexture(
        bitmap, {field(format::kTileXOffset), field(format::kTileYOffset)}, heights);
    return source;
}

}  // namespace groundtool
