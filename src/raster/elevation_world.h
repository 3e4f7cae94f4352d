#pragma once
// An elevation raster made ready to walk over, the same way for the viewer and for groundtool
// render: its heights read whole (exaggerated as asked) and its relief texture computed, before
// any window opens, so a source that can't be used is refused without one.

#include <string>

#include "elevation_grid.h"

namespace raster {

// The texture's longer side: mipmapped, distant ground does not shimmer, and OpenGL's own
// maximum lowers it where that is smaller.
constexpr int kReliefTextureSide = 4096;
constexpr double kMaxExaggeration = 100.0;

struct ElevationWorld {
    ElevationGrid grid;
    GroundImage image;
    double exaggeration = 1.0;
};

// Reads path under the open policy and multiplies its heights by exaggeration (above 0, at most
// kMaxExaggeration). Throws RasterError on one line.
ElevationWorld loadElevationWorld(const std::string& path, double exaggeration);
// The same from a source already open.
ElevationWorld loadElevationWorld(const ElevationSource& source, double exaggeration);

}  // namespace raster
