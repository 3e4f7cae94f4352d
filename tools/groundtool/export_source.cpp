#include "export_source.h"

#include <ogr_srs_api.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <sstream>

#include "elevation_grid.h"
#include "export_texture.h"
#include "option_values.h"
#include "printable.h"
#include "tool_error.h"
#include "viewer_load.h"

namespace groundtool {

namespace {
// The relief over an exported raster's mesh: detail beyond what its samples show, in a file
// size mesh tools take.
constexpr int kRasterTextureSide = 2048;

constexpr int kMinGridSize = 2;  // a single row or column draws nothing
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

std::string coordinate(double value) {
    constexpr int kDigits = 10;
    std::ostringstream text;
    text.precision(kDigits);
    text << value;
    return text.str();
}

struct OsrDeleter {
    void operator()(void* crs) const { OSRDestroySpatialReference(crs); }
};
struct TransformDeleter {
    void operator()(void* transform) const { OCTDestroyCoordinateTransformation(transform); }
};

// The source-coordinate box around the edges of a latitude and longitude box; false when the
// source has no coordinate system GDAL can reach from WGS 84.
bool boxFromLatLon(const raster::SourceFacts& facts, double south, double west, double north,
                   double east, std::array<double, 4>& box) {
    if (facts.crsWkt.empty()) {
        return false;
    }
    raster::refuseGridsOutsideProjData(facts.crsWkt, "the source");
    const std::unique_ptr<void, OsrDeleter> wgs84(OSRNewSpatialReference(nullptr));
    const std::unique_ptr<void, OsrDeleter> target(OSRNewSpatialReference(nullptr));
    char* wkt = const_cast<char*>(facts.crsWkt.c_str());  // GDAL moves it, never writes
    if (OSRSetWellKnownGeogCS(wgs84.get(), "WGS84") != OGRERR_NONE ||
        OSRImportFromWkt(target.get(), &wkt) != OGRERR_NONE) {
        return false;
    }
    OSRSetAxisMappingStrategy(wgs84.get(), OAMS_TRADITIONAL_GIS_ORDER);
    OSRSetAxisMappingStrategy(target.get(), OAMS_TRADITIONAL_GIS_ORDER);
    const std::unique_ptr<void, TransformDeleter> transform(
        OCTNewCoordinateTransformation(wgs84.get(), target.get()));
    if (!transform) {
        return false;
    }
    // Edges curve in a projection: points along all four bound the box, not the corners alone.
    constexpr int kSteps = 20;
    std::vector<double> xs, ys;
    for (int k = 0; k <= kSteps; ++k) {
        const double along = static_cast<double>(k) / kSteps;
        const double lon = west + (east - west) * along;
        const double lat = south + (north - south) * along;
        xs.insert(xs.end(), {lon, lon, west, east});
        ys.insert(ys.end(), {south, north, lat, lat});
    }
    std::vector<int> fine(xs.size());
    if (!OCTTransformEx(transform.get(), static_cast<int>(xs.size()), xs.data(), ys.data(), nullptr,
                        fine.data())) {
        return false;
    }
    box = {std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity(),
           -std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};
    for (std::size_t i = 0; i < xs.size(); ++i) {
        if (fine[i] && std::isfinite(xs[i]) && std::isfinite(ys[i])) {
            box = {std::min(box[0], xs[i]), std::min(box[1], ys[i]), std::max(box[2], xs[i]),
                   std::max(box[3], ys[i])};
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
    if (!(box[0] < box[2]) || !(box[1] < box[3]) || !(right - left >= 2.0) ||
        !(bottom - top >= 2.0)) {
        throw ToolError(
            option + " " + printable(area) +
                (box[0] < box[2] && box[1] < box[3] ? " holds less than 2 x 2 cells of the data; "
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
