#pragma once
// groundtool import: a greyscale heightmap image turned into a ".3dt" terrain, dark low and
// light high.

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "image_files.h"

namespace groundtool {

struct ImportOptions {
    std::string image;
    int size = 0;  // samples per side, 2 to 127; 0 keeps the image's shape (see gridShape)
    int textureNumber = 1;
    int tile = 12;
    std::string output = "ground.3dt";
    bool force = false;
};

struct GridShape {
    int rows;     // image rows, top to bottom, become grid rows along x
    int columns;  // image columns, left to right, become grid columns along z
};

// The image's own size when it fits; otherwise scaled down to fit 127 on its longer side, keeping
// its proportions. Never fewer than 2 per side, the least the viewer draws.
GridShape gridShape(int imageWidth, int imageHeight);

// Resamples the grey levels to rows * columns (an area average when shrinking, bilinear when
// enlarging) and maps grey 0 to -128 and 255 to 127. Row-major.
std::vector<std::int8_t> heightsFromImage(const GreyImage& image, GridShape shape);

void runImport(const ImportOptions& options, std::ostream& out);

}  // namespace groundtool
