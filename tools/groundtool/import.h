#pragma once
// groundtool import: any raster GDAL reads (a DEM in metres, an SRTM tile, a greyscale heightmap)
// turned into a world for the viewer, DIR/ground.3dt and its texture DIR/K.bmp, north away from
// the start camera and east to its right.

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>

#include "relief_texture.h"
#include "terrain_file.h"

namespace groundtool {

using raster::HeightRange;
using raster::kMinTextureSide;
using raster::TextureKind;

struct ImportOptions {
    std::string source;                // as messages name it
    std::vector<std::string> sources;  // as named: one raster, a folder or tiles to join
    std::string folder = ".";
    int size = kMaxGridSize;  // samples on the longer side of the ground, 2 to 127
    // Source heights for levels -128 and 127; by default 0 and 255 for 8-bit sources and the
    // lowest and highest height of the grid for others.
    std::optional<HeightRange> range;
    TextureKind texture = TextureKind::relief;
    int textureSide = 1024;  // a power of two, kMinTextureSide to kMaxTextureSide
    int textureNumber = 1;   // the texture is written as "<number>.bmp"
    bool force = false;      // replace existing files
    int band = 0;            // the raster band read as heights, from 1; 0: none chosen
};

// "LOW,HIGH": two plain decimals, LOW below HIGH, HIGH - LOW finite.
std::optional<HeightRange> parseHeightRange(const std::string& text);
// Why text is no height range, for a usage message, or "" when it is one.
std::string heightRangeProblem(const std::string& text);

// A share of samples as people write it: "0.1%", "40%".
std::string percentage(std::size_t part, std::size_t whole);
// A length in the source's ground unit: "30.9 m", or "1 unit" for a source placed nowhere.
std::string length(double value, bool inMetres);

// A height in source units as a level: range.low gives -128, range.high 127, linearly between,
// clamped beyond.
std::int8_t heightLevel(double height, HeightRange range);

// Writes both files, or neither, and says what it made of the source on out, ending with the
// viewer's command line that shows it. Throws ToolError (also for a terrain file) or
// raster::RasterError.
void runImport(const ImportOptions& options, std::ostream& out);

}  // namespace groundtool
