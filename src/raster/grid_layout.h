#pragma once
// Where an imported world's grid lies on its source: as many samples as fit the requested size on
// the longer side, cells square on the ground, north away from the viewer's start camera.

#include "height_field.h"

namespace raster {

// A part of the source in pixels, fractions allowed: x runs east, y south.
struct SourceWindow {
    double x = 0.0;
    double y = 0.0;
    double width = 0.0;
    double height = 0.0;
};

struct GridLayout {
    int rows = 0;            // samples west to east: grid rows lie along world x, east is +x
    int columns = 0;         // samples north to south: grid columns lie along world z, north is -z
    double cellEast = 0.0;   // the ground one grid cell covers, in the source's ground unit;
    double cellNorth = 0.0;  // equal unless the source is too narrow for two square cells
    SourceWindow window;     // the source pixels the grid's cells cover, centred in the source
};

// size samples on the longer side of the ground the source covers (in pixels of pixelEast by
// pixelNorth); the shorter side gets as many whole cells of the same size as it holds, and what
// is left over, less than one cell, is trimmed evenly from both edges.
GridLayout layoutGrid(int sourceWidth, int sourceHeight, double pixelEast, double pixelNorth,
                      int size);

}  // namespace raster
