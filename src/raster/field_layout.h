#pragma once
// How a HeightField lies on its source: square cells, so many samples on the longer side of the
// ground. readElevation chooses that number; reliefImage finds the same layout from the field.

#include <algorithm>
#include <cmath>

#include "elevation_source.h"
#include "grid_layout.h"

namespace raster {

// Samples on the longer side of the source's ground at its own resolution, the coarser of its
// cell sizes: no axis gains samples it has no data for.
inline int nativeLongerSamples(const ElevationSource& source) {
    const Ground& ground = source.ground();
    const double coarser = std::max(ground.cellEast, ground.cellNorth);
    const double longer =
        std::max(source.width() * ground.cellEast, source.height() * ground.cellNorth);
    return std::max(kMinGridSide, static_cast<int>(std::floor(longer / coarser + 1e-9)));
}

inline GridLayout fieldLayout(const ElevationSource& source, int longerSamples) {
    return layoutGrid(source.width(), source.height(), source.ground().cellEast,
                      source.ground().cellNorth, longerSamples);
}

}  // namespace raster
