#include "export_source.h"

#include <algorithm>

#include "elevation_grid.h"
#include "export_texture.h"
#include "tool_error.h"
#include "viewer_load.h"

namespace groundtool {

namespace {
// The relief over an exported raster's mesh: detail beyond what its samples show, in a file
// size mesh tools take.
constexpr int kRasterTextureSide = 2048;

constexpr int kMinGridSize = 2;  // a single row or column draws nothing
}  // namespace

ExportSource loadRasterSource(const raster::ElevationSource& source, int maxSamples, bool textured,
                              bool cutOutline) {
    ExportSource exported;
    raster::ElevationGrid grid =
        raster::readElevation(source, raster::kDefaultMaxSamples, maxSamples);
    const raster::SourceFacts& facts = source.facts();
    if (cutOutline && !grid.field.complete() &&
        std::max(facts.width, facts.height) > std::max(grid.field.columns, grid.field.rows)) {
        grid = raster::readElevation(source);
    }
    exported.field = std::move(grid.field);
    exported.place = {source.facts().placed, grid.placement.originX, grid.placement.originY,
                      grid.placement.stepX,  grid.placement.stepY,   source.facts().crsWkt};
    if (textured) {
        exported.image = raster::reliefImage(exported.field, kRasterTextureSide);
    }
    if (!grid.note.empty()) {
        exported.warnings.push_back(grid.note);
    }
    return exported;
}

ExportSource loadTerrainSource(const std::string& path, const ClassicWorld& world,
                               double heightScale) {
    const TerrainReport& report = world.report;
    if (!report.found) {
        throw ToolError(fileError("cannot open", path, report.openFailure));
    }
    if (!report.accepted) {
        throw ToolError("cannot export " + path + ": the viewer rejects it (" +
                        joined(report.messages) + ")");
    }
    const TerrainGrid& grid = world.grid;
    const int gridRows = grid.rows;
    const int gridColumns = grid.columns;
    if (gridRows < kMinGridSize || gridColumns < kMinGridSize) {
        throw ToolError("cannot export " + path + ": " + std::to_string(gridRows) + " x " +
                        std::to_string(gridColumns) +
                        " samples; the viewer draws a grid of 2 x 2 or more");
    }

    ExportSource exported;
    HeightField& heights = exported.field;
    heights.columns = gridRows;
    heights.rows = gridColumns;
    heights.spacingEast = scene::kSpacing;
    heights.spacingSouth = scene::kSpacing;
    // Both are at most 127, so the sample count fits easily.
    heights.heights.resize(static_cast<std::size_t>(gridRows) * gridColumns);
    for (int i = 0; i < gridRows; ++i) {
        for (int j = 0; j < gridColumns; ++j) {
            heights.heights[static_cast<std::size_t>(j) * gridRows + i] =
                scene::worldHeight(grid.heights[i][j], static_cast<float>(heightScale));
        }
    }

    if (grid.bitmap.pixels() == nullptr) {
        const std::string& failure = report.texture.openFailure;
        exported.warnings.push_back("no texture " + report.textureName +
                                    (failure.empty() ? " (unreadable)" : " (" + failure + ")") +
                                    "; the ground is plain grey");
    }
    exported.image = unrolledTexture(grid.bitmap, {grid.tileX, grid.tileY}, heights);
    return exported;
}

}  // namespace groundtool
