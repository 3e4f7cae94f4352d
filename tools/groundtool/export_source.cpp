#include "export_source.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <sstream>

#include "elevation_grid.h"
#include "export_texture.h"
#include "lat_lon.h"
#include "option_values.h"
#include "printable.h"
#include "tool_error.h"
#include "viewer_load.h"

namespace groundtool {

namespace {
// The relief over an exported raster's mesh: detail beyond what its samples show, in a file
// size mesh tools take.
constexpr int kRasterTextureSide = 2048;

}  // namespace

ExportSource loadRasterSource(const raster::ElevationSource& source,
                              const raster::SourceWindow& window, int maxSamples, bool textured,
                              bool cutOutline) {
    ExportSource exported;
    raster::ElevationGrid grid =
        raster::readElevation(source, window, raster::kDefaultMaxSamples, maxSamples);
    if (cutOutline && !grid.field.complete() &&
        std::max(window.width, window.height) > std::max(grid.field.columns, grid.field.rows)) {
        grid = raster::readElevation(source, window);
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

namespace {

std::string gridSideText() {
    return std::to_string(kMinGridSide) + " x " + std::to_string(kMinGridSide);
}

std::string coordinate(double value) {
    constexpr int kDigits = 10;
    std::ostringstream text;
    text.precision(kDigits);
    text << value;
    return text.str();
}

// The source-coordinate box around the edges of a latitude and longitude box; false when the
// source has no coordinate system GDAL can reach from WGS 84.
bool boxFromLatLon(const raster::SourceFacts& facts, double south, double west, double north,
                   double east, std::array<double, 4>& box) {
    const raster::LatLon latLon(facts.crsWkt, "the source");
    if (!latLon.usable()) {
        return false;
    }
    box = {std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity(),
           -std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};
    // Edges curve in a projection: points along all four bound the box, not the corners alone.
    constexpr int kSteps = 20;
    for (int k = 0; k <= kSteps; ++k) {
        const double along = static_cast<double>(k) / kSteps;
        const double lon = west + (east - west) * along;
        const double lat = south + (north - south) * along;
        const double edges[4][2] = {{south, lon}, {north, lon}, {lat, west}, {lat, east}};
        for (const auto& edge : edges) {
            double x = 0.0, y = 0.0;
            if (latLon.fromLatLon(edge[0], edge[1], x, y)) {
                box = {std::min(box[0], x), std::min(box[1], y), std::max(box[2], x),
                       std::max(box[3], y)};
            }
        }
    }
    return box[0] <= box[2] && box[1] <= box[3];
}

}  // namespace

raster::SourceWindow areaWindow(const raster::SourceFacts& facts, const std::string& area,
                                bool latLon) {
    const auto& t = facts.transform;
    const double west = t[0];
    const double east = t[0] + facts.width * t[1];
    const double north = t[3];
    const double south = t[3] + facts.height * t[5];
    const std::string option = latLon ? "--area-latlon" : "--area";
    const std::string range = "the data spans " + coordinate(std::min(west, east)) + "," +
                              coordinate(std::min(north, south)) + "," +
                              coordinate(std::max(west, east)) + "," +
                              coordinate(std::max(north, south)) + " (W,S,E,N)";
    std::array<double, 4> numbers{};
    std::stringstream parts(area);
    std::string part;
    std::size_t count = 0;
    while (std::getline(parts, part, ',')) {
        if (count == numbers.size() || !app::parseDecimal(part, numbers[count])) {
            count = numbers.size() + 1;
            break;
        }
        ++count;
    }
    if (count != numbers.size()) {
        throw ToolError(option + ": expected " + (latLon ? "S,W,N,E" : "W,S,E,N") +
                            ", four numbers, not " + printable(area),
                        kExitUsage);
    }
    std::array<double, 4> box = numbers;  // W, S, E, N in the source's coordinates
    if (latLon && !boxFromLatLon(facts, numbers[0], numbers[1], numbers[2], numbers[3], box)) {
        throw ToolError(option + ": the source has no coordinate system to place degrees in; " +
                            "use --area in its own coordinates: " + range,
                        kExitUsage);
    }
    const double column0 = (box[0] - t[0]) / t[1];
    const double column1 = (box[2] - t[0]) / t[1];
    const double row0 = (box[3] - t[3]) / t[5];
    const double row1 = (box[1] - t[3]) / t[5];
    // Whole pixels as gdal_translate -projwin takes them: the first the one the west (north) edge
    // falls in, the count rounded; then clipped to the source.
    const double firstColumn = std::floor(std::min(column0, column1) + 0.001);
    const double firstRow = std::floor(std::min(row0, row1) + 0.001);
    const double left = std::clamp(firstColumn, 0.0, static_cast<double>(facts.width));
    const double top = std::clamp(firstRow, 0.0, static_cast<double>(facts.height));
    const double right = std::clamp(firstColumn + std::floor(std::abs(column1 - column0) + 0.5),
                                    0.0, static_cast<double>(facts.width));
    const double bottom = std::clamp(firstRow + std::floor(std::abs(row1 - row0) + 0.5), 0.0,
                                     static_cast<double>(facts.height));
    if (!(box[0] < box[2]) || !(box[1] < box[3]) || !(right - left >= kMinGridSide) ||
        !(bottom - top >= kMinGridSide)) {
        throw ToolError(
            option + " " + printable(area) +
                (box[0] < box[2] && box[1] < box[3] ? " holds less than " + gridSideText() + " cells of the data; "
                                                    : " is empty; ") +
                range,
            kExitUsage);
    }
    return {left, top, right - left, bottom - top};
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
    if (gridRows < kMinGridSide || gridColumns < kMinGridSide) {
        throw ToolError("cannot export " + path + ": " + std::to_string(gridRows) + " x " +
                        std::to_string(gridColumns) +
                        " samples; the viewer draws a grid of " + gridSideText() + " or more");
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
