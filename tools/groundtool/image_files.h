#pragma once
// Image files: 24-bit BMP textures through the core's encoder, PNG previews through stb. Pixels
// are RGB triples, rows top to bottom, tightly packed. (Heightmaps are read through GDAL.)

#include <string>
#include <vector>

#include "file_output.h"

namespace groundtool {

// An uncompressed 24-bit BMP with the 54-byte header the viewer's reader expects.
Bytes encodeBmp(int width, int height, const std::vector<std::uint8_t>& rgb);
Bytes encodePng(int width, int height, const std::vector<std::uint8_t>& rgb);

}  // namespace groundtool
