#pragma once
// Image files through stb: greyscale input for heightmaps, 24-bit BMP output for textures and PNG
// output for previews. Pixels are RGB triples, rows top to bottom, tightly packed.

#include <string>
#include <vector>

#include "file_output.h"

namespace groundtool {

struct GreyImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> grey;  // width * height values, rows top to bottom
};

// Any format stb_image reads, colour turned into grey. Throws ToolError naming path.
GreyImage readGreyImage(const std::string& path);

// An uncompressed 24-bit BMP with the 54-byte header the viewer's reader expects.
Bytes encodeBmp(int width, int height, const std::vector<std::uint8_t>& rgb);
Bytes encodePng(int width, int height, const std::vector<std::uint8_t>& rgb);

}  // namespace groundtool
