#include "grid_layout.h"

#include <algorithm>
#include <cmath>

namespace raster {

GridLayout layoutGrid(int sourceWidth, int sourceHeight, double pixelEast, double pixelNorth,
                      int size) {
    const double eastExtent = sourceWidth * pixelEast;
    const double northExtent = sourceHeight * pixelNorth;
    const bool eastLonger = eastExtent >= northExtent;
    const double longer = eastLonger ? eastExtent : northExtent;
    const double shorter = eastLonger ? northExtent : eastExtent;
    const double cell = longer / size;
    // The tolerance keeps a side of exactly n cells from losing one to rounding.
    int shortSamples = static_cast<int>(std::floor(shorter / cell + 1e-9));
    double shortCell = cell;
    if (shortSamples < kMinGridSide) {
        // Two square cells would trim away most of the longer side; stretch instead.
        shortSamples = kMinGridSide;
        shortCell = shorter / kMinGridSide;
    }

    GridLayout layout;
    layout.rows = eastLonger ? size : shortSamples;
    layout.columns = eastLonger ? shortSamples : size;
    layout.cellEast = eastLonger ? cell : shortCell;
    layout.cellNorth = eastLonger ? shortCell : cell;
    layout.window.width = std::min<double>(sourceWidth, layout.rows * layout.cellEast / pixelEast);
    layout.window.height =
        std::min<double>(sourceHeight, layout.columns * layout.cellNorth / pixelNorth);
    layout.window.x = (sourceWidth - layout.window.width) / 2.0;
    layout.window.y = (sourceHeight - layout.window.height) / 2.0;
    return layout;
}

}  // namespace raster
