#pragma once
// Elevation data as drawn and exported: a grid of heights in metres. Sample (column, row) lies at
// x = column * spacingEast (east) and z = row * spacingSouth (south), so the north edge is z = 0
// and north lies along -z; y is up. Cells need not be square: each axis keeps the source's own
// spacing. A sample may hold no data: such samples are never drawn as ground, and their heights,
// finite like every other, are only placeholders (0 m for the sea, the lowest height on the rim
// elsewhere).

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

constexpr int kMinGridSide = 2;  // samples a side: a single row or column draws nothing
// Texels on the longer side of the largest ground texture made, exported or uploaded.
constexpr int kMaxTextureSide = 4096;

// What a sample holds.
enum class SampleKind : std::uint8_t {
    data,     // the source's own height
    filled,   // a small void filled smoothly from around it
    missing,  // no data, drawn as a flat floor at its placeholder height
    sea,      // no data in a region that reaches sea level, drawn as water at 0 m
};

// The lowest and highest of some heights, metres; empty when there were none.
struct HeightBounds {
    float low = std::numeric_limits<float>::infinity();
    float high = -std::numeric_limits<float>::infinity();
    bool empty() const { return !(low <= high); }
};

// What keeps a height field from being drawn or exported.
enum class FieldFault : std::uint8_t {
    none,
    shape,    // under kMinGridSide samples a side, spacings not finite and positive, or heights (or
              // kinds) not columns * rows
    heights,  // a height not finite
};

struct HeightField {
    int columns = 0;                // samples west to east, 2 or more
    int rows = 0;                   // samples north to south, 2 or more
    double spacingEast = 1.0;       // metres between neighbouring samples west to east
    double spacingSouth = 1.0;      // and north to south
    std::vector<float> heights;     // metres, rows north to south, each west to east
    std::vector<SampleKind> kinds;  // the same layout; empty when every sample is data

    std::size_t index(int column, int row) const {
        return static_cast<std::size_t>(row) * static_cast<std::size_t>(columns) +
               static_cast<std::size_t>(column);
    }
    float at(int column, int row) const { return heights[index(column, row)]; }
    SampleKind kind(int column, int row) const {
        return kinds.empty() ? SampleKind::data : kinds[index(column, row)];
    }
    // A height from the source or filled from it: ground that is drawn.
    bool drawn(int column, int row) const { return kind(column, row) <= SampleKind::filled; }
    bool complete() const { return kinds.empty(); }
    double width() const { return (columns - 1) * spacingEast; }  // metres west to east
    double depth() const { return (rows - 1) * spacingSouth; }    // metres north to south

    // The lowest and highest height of the samples drawn (never the placeholders of the regions
    // without data), or of every sample when all is true.
    HeightBounds drawnRange(bool all = false) const {
        return drawnRange(0, 0, columns - 1, rows - 1, all);
    }
    // The same over columns firstColumn to lastColumn and rows firstRow to lastRow.
    HeightBounds drawnRange(int firstColumn, int firstRow, int lastColumn, int lastRow,
                            bool all) const {
        HeightBounds bounds;
        for (int row = firstRow; row <= lastRow; ++row) {
            for (int column = firstColumn; column <= lastColumn; ++column) {
                if (all || drawn(column, row)) {
                    bounds.low = std::min(bounds.low, at(column, row));
                    bounds.high = std::max(bounds.high, at(column, row));
                }
            }
        }
        return bounds;
    }

    FieldFault fault() const {
        const auto usable = [](double spacing) { return std::isfinite(spacing) && spacing > 0; };
        if (columns < kMinGridSide || rows < kMinGridSide || !usable(spacingEast) ||
            !usable(spacingSouth)) {
            return FieldFault::shape;
        }
        const std::size_t samples =
            static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows);
        if (heights.size() != samples || (!kinds.empty() && kinds.size() != samples)) {
            return FieldFault::shape;
        }
        return std::all_of(heights.begin(), heights.end(), [](float h) { return std::isfinite(h); })
                   ? FieldFault::none
                   : FieldFault::heights;
    }
};

// An RGB picture laid over a whole height field: texel rows north to south, each west to east,
// the first and last texel centres half a texel inside the field's edges.
struct GroundImage {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;  // width * height * 3
};
