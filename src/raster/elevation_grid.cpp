#include "elevation_grid.h"

#include <ogr_srs_api.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <stdexcept>
#include <vector>

#include "decimal_text.h"
#include "field_layout.h"
#include "gdal_raster.h"
#include "printable.h"
#include "raster_error.h"

namespace raster {

namespace {

// The layout of the most samples on the longer side that fits both limits.
GridLayout limitedLayout(const ElevationSource& source, long long maxSamples, int maxSide) {
    int size = std::min(nativeLongerSamples(source), maxSide);
    for (;;) {
        const GridLayout layout = fieldLayout(source, size);
        const long long samples = static_cast<long long>(layout.rows) * layout.columns;
        if ((samples <= maxSamples && layout.columns <= maxSide) || size == kMinGridSide) {
            return layout;
        }
        // The samples grow as the square of the longer side; the step down also ends the loop.
        const double shrink = std::sqrt(static_cast<double>(maxSamples) / samples);
        size =
            std::max(kMinGridSide, std::min(size - 1, static_cast<int>(std::floor(size * shrink))));
    }
}

struct SrsDeleter {
    void operator()(void* crs) const { OSRDestroySpatialReference(crs); }
};
struct TransformDeleter {
    void operator()(void* transform) const { OCTDestroyCoordinateTransformation(transform); }
};

// Source coordinates to WGS 84 longitude and latitude, or nothing when GDAL has no way there.
std::function<bool(double, double, double&, double&)> lonLatFrom(OGRSpatialReferenceH crs) {
    const std::unique_ptr<void, SrsDeleter> wgs84(OSRNewSpatialReference(nullptr));
    if (OSRSetWellKnownGeogCS(wgs84.get(), "WGS84") != OGRERR_NONE) {
        return {};
    }
    OSRSetAxisMappingStrategy(wgs84.get(), OAMS_TRADITIONAL_GIS_ORDER);
    const std::unique_ptr<void, SrsDeleter> from(OSRClone(crs));
    OSRSetAxisMappingStrategy(from.get(), OAMS_TRADITIONAL_GIS_ORDER);
    std::shared_ptr<void> transform(OCTNewCoordinateTransformation(from.get(), wgs84.get()),
                                    TransformDeleter());
    if (!transform) {
        return {};
    }
    return [transform](double x, double y, double& lon, double& lat) {
        double z = 0.0;
        if (!OCTTransform(transform.get(), 1, &x, &y, &z) || !std::isfinite(x) ||
            !std::isfinite(y)) {
            return false;
        }
        lon = x;
        lat = y;
        return true;
    };
}

SourcePlacement placeField(const ElevationSource& source, const GridLayout& layout) {
    const SourceFacts& facts = source.facts();
    const auto& t = facts.transform;  // pixels, rows downwards, when placed nowhere
    const double pixelsEast = layout.window.width / layout.rows;
    const double pixelsSouth = layout.window.height / layout.columns;
    SourcePlacement placement;
    placement.originX = t[0] + (layout.window.x + 0.5 * pixelsEast) * t[1];
    placement.originY = t[3] + (layout.window.y + 0.5 * pixelsSouth) * t[5];
    placement.stepX = pixelsEast * t[1];
    placement.stepY = pixelsSouth * t[5];
    if (!facts.crsWkt.empty()) {
        const std::unique_ptr<void, SrsDeleter> crs(OSRNewSpatialReference(nullptr));
        char* wkt = const_cast<char*>(facts.crsWkt.c_str());  // GDAL moves it, never writes
        if (OSRImportFromWkt(crs.get(), &wkt) == OGRERR_NONE) {
            placement.geographic = OSRIsGeographic(crs.get()) != 0;
            const char* name = OSRGetName(crs.get());
            placement.crsName = name != nullptr ? printable(name) : "";
            placement.toLonLat = lonLatFrom(crs.get());
        }
    }
    return placement;
}

std::string describe(const ElevationSource& source, const HeightField& field, bool limited,
                     std::size_t filled) {
    std::string note;
    if (field.columns != source.width() || field.rows != source.height()) {
        note = std::string(limited ? "averaged down" : "resampled to square cells") + " from " +
               std::to_string(source.width()) + " x " + std::to_string(source.height()) + " to " +
               std::to_string(field.columns) + " x " + std::to_string(field.rows) + " samples";
    }
    if (filled > 0) {
        note += (note.empty() ? "" : "; ") +
                decimalText(100.0 * static_cast<double>(filled) / field.heights.size()) +
                "% of the heights were missing and filled";
    }
    return note;
}

}  // namespace

ElevationGrid readElevation(const std::string& path, long long maxSamples, int maxSide) {
    return readElevation(ElevationSource(path), maxSamples, maxSide);
}

ElevationGrid readElevation(const ElevationSource& source, long long maxSamples, int maxSide) {
    if (maxSamples < kMinGridSide * kMinGridSide || maxSide < kMinGridSide) {
        throw std::logic_error("readElevation needs room for 2 x 2 samples");
    }
    const GridLayout layout = limitedLayout(source, maxSamples, maxSide);
    // Grid rows lie west to east: the layout's rows are the field's columns.
    const int columns = layout.rows;
    const int rows = layout.columns;
    std::vector<double> values(static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows));
    source.read(layout.window, columns, rows, values.data(), columns);
    if (std::all_of(values.begin(), values.end(), [](double v) { return std::isnan(v); })) {
        throw RasterError("cannot read " + source.shown() + ": it has no valid height");
    }
    const std::size_t filled = fillGaps(values, columns, rows);

    ElevationGrid grid;
    HeightField& field = grid.field;
    field.columns = columns;
    field.rows = rows;
    field.spacing = layout.cellEast;
    const double perUnit = source.metresPerUnit();
    field.heights.resize(values.size());
    std::transform(values.begin(), values.end(), field.heights.begin(),
                   [perUnit](double v) { return static_cast<float>(v * perUnit); });
    const auto [low, high] = std::minmax_element(field.heights.begin(), field.heights.end());
    if (!std::isfinite(*low) || !std::isfinite(*high)) {
        throw RasterError("cannot read " + source.shown() + ": its heights reach " +
                          decimalText(std::isfinite(*low) ? *high : *low) +
                          ", beyond what a float holds");
    }
    grid.placement = placeField(source, layout);
    const bool limited = std::max(columns, rows) < nativeLongerSamples(source);
    grid.note = describe(source, field, limited, filled);
    if (layout.cellNorth != layout.cellEast) {
        grid.note += (grid.note.empty() ? "" : "; ") +
                     std::string("stretched north–south to two rows of samples");
    }
    return grid;
}

}  // namespace raster
