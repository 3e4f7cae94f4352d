#pragma once
// How a HeightField lies on its source: every source sample, one to one, when the source fits the
// limits; otherwise both axes thinned by one factor, each sample the average of the cells it
// covers. Each axis keeps its own spacing on the ground. readElevation chooses the layout;
// reliefImage finds the same one from the field's size.

#include <algorithm>
#include <cmath>

#include "grid_layout.h"
#include "source_facts.h"

namespace raster {

struct FieldLayout {
    int columns = 0;           // samples west to east
    int rows = 0;              // samples north to south
    double spacingEast = 0.0;  // metres (or the source's unit) between samples
    double spacingSouth = 0.0;
    SourceWindow window;  // the whole source, in pixels
};

// The layout of columns x rows samples over window, in source pixels.
inline FieldLayout layoutOf(const SourceFacts& facts, const SourceWindow& window, int columns,
                            int rows) {
    FieldLayout layout;
    layout.columns = columns;
    layout.rows = rows;
    layout.window = window;
    layout.spacingEast = facts.ground.cellEast * window.width / columns;
    layout.spacingSouth = facts.ground.cellNorth * window.height / rows;
    return layout;
}

// The layout of columns x rows samples over the whole source.
inline FieldLayout layoutOf(const SourceFacts& facts, int columns, int rows) {
    return layoutOf(facts,
                    {0.0, 0.0, static_cast<double>(facts.width), static_cast<double>(facts.height)},
                    columns, rows);
}

// Every pixel of window (whole pixels, 2 or more each way) when both sides fit maxSide and their
// product maxSamples; otherwise the most that do, both axes thinned alike.
inline FieldLayout fieldLayout(const SourceFacts& facts, const SourceWindow& window,
                               long long maxSamples, int maxSide) {
    const double width = window.width;
    const double height = window.height;
    double factor = std::min(1.0, maxSide / std::max(width, height));
    const double samples = width * height * factor * factor;
    if (samples > static_cast<double>(maxSamples)) {
        factor *= std::sqrt(static_cast<double>(maxSamples) / samples);
    }
    const auto thinned = [factor, maxSide](double side) {
        return std::clamp(static_cast<int>(std::floor(side * factor + 1e-9)), kMinGridSide,
                          maxSide);
    };
    return layoutOf(facts, window, thinned(width), thinned(height));
}

// The same over the whole source.
inline FieldLayout fieldLayout(const SourceFacts& facts, long long maxSamples, int maxSide) {
    return fieldLayout(
        facts, {0.0, 0.0, static_cast<double>(facts.width), static_cast<double>(facts.height)},
        maxSamples, maxSide);
}

}  // namespace raster
