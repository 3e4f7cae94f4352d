#pragma once
// Colours for a height raster from GDAL's DEM processing: its hillshade, a colour tint by height,
// or the two multiplied, as maps show relief.

#include <cstdint>
#include <vector>

namespace raster {

enum class TextureKind {
    relief,     // hillshade multiplied by a colour tint by height
    hillshade,  // grey shading, light from the north-west at 45 degrees
    tint,       // colour by height alone
    none,       // no texture file
};

// Heights in source units mapped to the lowest and highest level.
struct HeightRange {
    double low = 0.0;
    double high = 0.0;
};

// width x height RGB pixels, pixel-interleaved, for heights (rows top to bottom, in source units)
// placed by GDAL's geotransform placement, whose cell sizes are in the heights' unit so that
// slopes come out true. kind is not none.
std::vector<std::uint8_t> reliefColours(std::vector<double>& heights, int width, int height,
                                        const std::vector<double>& placement, TextureKind kind,
                                        HeightRange range);

}  // namespace raster
