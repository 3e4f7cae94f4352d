#include "elevation_grid.h"

#include <ogr_srs_api.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "decimal_text.h"
#include "field_layout.h"
#include "gdal_raster.h"
#include "no_data.h"
#include "printable.h"
#include "raster_error.h"

namespace raster {

namespace {

struct SrsDeleter {
    void operator()(void* crs) const { OSRDestroySpatialReference(crs); }
};
SourcePlacement placeField(const ElevationSource& source, const FieldLayout& layout) {
    const SourceFacts& facts = source.facts();
    const auto& t = facts.transform;  // pixels, rows downwards, when placed nowhere
    const double pixelsEast = layout.window.width / layout.columns;
    const double pixelsSouth = layout.window.height / layout.rows;
    SourcePlacement placement;
    placement.originX = t[0] + (layout.window.x + 0.5 * pixelsEast) * t[1];
    placement.originY = t[3] + (layout.window.y + 0.5 * pixelsSouth) * t[5];
    placement.stepX = pixelsEast * t[1];
    placement.stepY = pixelsSouth * t[5];
    placement.latLon = LatLon(facts.crsWkt, source.shown());
    if (!facts.crsWkt.empty()) {
        const std::unique_ptr<void, SrsDeleter> crs(OSRNewSpatialReference(nullptr));
        char* wkt = const_cast<char*>(facts.crsWkt.c_str());  // GDAL moves it, never writes
        if (OSRImportFromWkt(crs.get(), &wkt) == OGRERR_NONE) {
            placement.geographic = OSRIsGeographic(crs.get()) != 0;
            const char* name = OSRGetName(crs.get());
            placement.crsName = name != nullptr ? printable(name) : "";
        }
    }
    return placement;
}

std::string share(long long part, std::size_t whole) {
    return decimalText(100.0 * static_cast<double>(part) / static_cast<double>(whole)) + "%";
}

std::string plural(long long count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string describe(const SourceWindow& window, const HeightField& field,
                     const NoDataSummary& noData) {
    std::string averaged;
    const auto width = static_cast<int>(window.width);
    const auto height = static_cast<int>(window.height);
    if (field.columns != width || field.rows != height) {
        averaged = "averaged down from " + std::to_string(width) + " x " + std::to_string(height) +
                   " to " + std::to_string(field.columns) + " x " + std::to_string(field.rows) +
                   " samples";
    }
    return joinedNote({averaged, noDataNote(noData, field.heights.size())});
}

// Fills one void smoothly from the heights around it: each height the mean of its four
// neighbours, solved by over-relaxed sweeps from the mean of its shore.
void fillVoid(std::vector<float>& values, int columns, int rows,
              const std::vector<std::size_t>& cells, double start) {
    constexpr double kOverRelaxation = 1.8;
    constexpr int kSweeps = 4 * kLargestFilledVoid;
    for (const std::size_t cell : cells) {
        values[cell] = static_cast<float>(start);
    }
    const auto stride = static_cast<std::size_t>(columns);
    for (int sweep = 0; sweep < kSweeps; ++sweep) {
        double largestChange = 0.0;
        for (const std::size_t cell : cells) {
            const int column = static_cast<int>(cell % stride),
                      row = static_cast<int>(cell / stride);
            double sum = 0.0;
            int count = 0;
            if (column > 0) {
                sum += values[cell - 1];
                ++count;
            }
            if (column + 1 < columns) {
                sum += values[cell + 1];
                ++count;
            }
            if (row > 0) {
                sum += values[cell - stride];
                ++count;
            }
            if (row + 1 < rows) {
                sum += values[cell + stride];
                ++count;
            }
            const double change = kOverRelaxation * (sum / count - values[cell]);
            values[cell] = static_cast<float>(values[cell] + change);
            largestChange = std::max(largestChange, std::abs(change));
        }
        if (largestChange < 1e-3) {
            break;
        }
    }
}

// Sorts every missing sample into a void to fill or a region left without data, as sea where it
// reaches sea level, in one pass over the samples. values are metres, NaN where missing; on return
// every value is finite: the voids filled, the sea at 0, other regions at the lowest height on
// their rim (the lowest valid height where they have none).
NoDataSummary classify(std::vector<float>& values, int columns, int rows,
                       std::vector<SampleKind>& kinds) {
    NoDataSummary summary;
    const auto stride = static_cast<std::size_t>(columns);
    double lowest = std::numeric_limits<double>::infinity();
    for (const float value : values) {
        if (!std::isnan(value)) {
            ++summary.dataSamples;
            lowest = std::min<double>(lowest, value);
        }
    }
    if (summary.dataSamples == static_cast<long long>(values.size())) {
        return summary;
    }
    kinds.assign(values.size(), SampleKind::data);
    std::vector<char> seen(values.size(), 0);
    std::vector<std::size_t> region;
    std::vector<double> shore;
    for (std::size_t first = 0; first < values.size(); ++first) {
        if (!std::isnan(values[first]) || seen[first]) {
            continue;
        }
        // The whole region, four-connected, with its extent and the heights along its shore.
        region.clear();
        shore.clear();
        region.push_back(first);
        seen[first] = 1;
        int left = columns, right = -1, top = rows, bottom = -1;
        for (std::size_t next = 0; next < region.size(); ++next) {
            const std::size_t cell = region[next];
            const int column = static_cast<int>(cell % stride),
                      row = static_cast<int>(cell / stride);
            left = std::min(left, column);
            right = std::max(right, column);
            top = std::min(top, row);
            bottom = std::max(bottom, row);
            const auto visit = [&](std::size_t neighbour) {
                if (!std::isnan(values[neighbour])) {
                    shore.push_back(values[neighbour]);
                } else if (!seen[neighbour]) {
                    seen[neighbour] = 1;
                    region.push_back(neighbour);
                }
            };
            if (column > 0)
                visit(cell - 1);
            if (column + 1 < columns)
                visit(cell + 1);
            if (row > 0)
                visit(cell - stride);
            if (row + 1 < rows)
                visit(cell + stride);
        }
        if (right - left < kLargestFilledVoid && bottom - top < kLargestFilledVoid &&
            !shore.empty()) {
            double sum = 0.0;
            for (const double height : shore) {
                sum += height;
            }
            for (const std::size_t cell : region) {
                kinds[cell] = SampleKind::filled;
            }
            ++summary.voidsFilled;
            summary.filledSamples += static_cast<long long>(region.size());
            // A region is all the missing samples that touch: its shore is data, and filling it
            // now changes no other region.
            fillVoid(values, columns, rows, region, sum / static_cast<double>(shore.size()));
            continue;
        }
        // Cliffs are high, but beaches and coves touch 0 m.
        const std::size_t lowCount = std::max<std::size_t>(
            1, static_cast<std::size_t>(std::ceil(shore.size() * kShoreShare)));
        bool sea = false;
        if (!shore.empty()) {
            std::nth_element(shore.begin(), shore.begin() + (lowCount - 1), shore.end());
            double sum = 0.0;
            for (std::size_t i = 0; i < lowCount; ++i) {
                sum += shore[i];
            }
            sea = std::abs(sum / lowCount) <= kSeaLevelMetres;
        }
        // A hole's floor lies at the lowest height on its own rim.
        const double floor =
            shore.empty() ? lowest : *std::min_element(shore.begin(), shore.begin() + lowCount);
        const SampleKind kind = sea ? SampleKind::sea : SampleKind::missing;
        for (const std::size_t cell : region) {
            kinds[cell] = kind;
            values[cell] = sea ? 0.0f : static_cast<float>(floor);
        }
        (sea ? summary.seaRegions : summary.missingRegions) += 1;
        (sea ? summary.seaSamples : summary.missingSamples) +=
            static_cast<long long>(region.size());
    }
    return summary;
}

}  // namespace

std::string noDataNote(const NoDataSummary& noData, std::size_t all) {
    std::vector<std::string> parts;
    if (noData.voidsFilled > 0) {
        parts.push_back(plural(noData.voidsFilled, "void", "voids") + " filled (" +
                        share(noData.filledSamples, all) + " of the samples)");
    }
    if (noData.seaRegions > 0) {
        parts.push_back(plural(noData.seaRegions, "region", "regions") + " without data (" +
                        share(noData.seaSamples, all) + ") drawn as sea");
    }
    if (noData.missingRegions > 0) {
        parts.push_back(plural(noData.missingRegions, "region", "regions") + " without data (" +
                        share(noData.missingSamples, all) + ") drawn as a floor");
    }
    return joinedNote(parts);
}

std::string joinedNote(const std::vector<std::string>& parts) {
    std::string note;
    for (const std::string& part : parts) {
        if (!part.empty()) {
            note += (note.empty() ? "" : "; ") + part;
        }
    }
    return note;
}

ElevationGrid readElevation(const std::string& path, long long maxSamples, int maxSide) {
    return readElevation(ElevationSource(path), maxSamples, maxSide);
}

ElevationGrid readElevation(const ElevationSource& source, long long maxSamples, int maxSide) {
    const SourceFacts& facts = source.facts();
    return readElevation(
        source, {0.0, 0.0, static_cast<double>(facts.width), static_cast<double>(facts.height)},
        maxSamples, maxSide);
}

ElevationGrid readElevation(const ElevationSource& source, const SourceWindow& window,
                            long long maxSamples, int maxSide) {
    const SourceFacts& facts = source.facts();
    if (maxSamples < kMinGridSide * kMinGridSide || maxSide < kMinGridSide || !(window.x >= 0.0) ||
        !(window.y >= 0.0) || !(window.width >= kMinGridSide) || !(window.height >= kMinGridSide) ||
        window.x + window.width > facts.width || window.y + window.height > facts.height) {
        throw std::logic_error("readElevation needs room for 2 x 2 samples inside the source");
    }
    ElevationGrid grid = readElevation(source, fieldLayout(facts, window, maxSamples, maxSide));
    if (grid.noData.dataSamples == 0) {
        throw RasterError("cannot read " + source.shown() + ": it has no valid height");
    }
    grid.note = joinedNote({facts.heightNote, describe(window, grid.field, grid.noData)});
    return grid;
}

ElevationGrid readElevation(const ElevationSource& source, const FieldLayout& layout) {
    const int columns = layout.columns;
    const int rows = layout.rows;
    ElevationGrid grid;
    HeightField& field = grid.field;
    field.columns = columns;
    field.rows = rows;
    field.spacingEast = layout.spacingEast;
    field.spacingSouth = layout.spacingSouth;
    double beyond = 0.0;  // a height a float cannot hold
    {
        // Taken straight from the reader's memory, in metres, in one pass that writes each
        // height once.
        const SharedSamples samples = source.readShared(layout.window, columns, rows);
        const double perUnit = source.metresPerUnit();
        const float* from = samples.data();
        field.heights.reserve(samples.size());
        for (std::size_t i = 0; i < samples.size(); ++i) {
            const double metres = static_cast<double>(from[i]) * perUnit;
            if (missingHeight(metres)) {
                field.heights.push_back(std::numeric_limits<float>::quiet_NaN());
            } else if (std::abs(metres) > std::numeric_limits<float>::max()) {
                beyond = metres;
                field.heights.push_back(std::numeric_limits<float>::quiet_NaN());
            } else {
                field.heights.push_back(static_cast<float>(metres));
            }
        }
    }
    if (beyond != 0.0) {
        throw RasterError("cannot read " + source.shown() + ": its heights reach " +
                          decimalText(beyond) + ", beyond what a float holds");
    }
    grid.noData = classify(field.heights, columns, rows, field.kinds);
    grid.placement = placeField(source, layout);
    return grid;
}

}  // namespace raster
