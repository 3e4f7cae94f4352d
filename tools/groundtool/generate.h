#pragma once
// groundtool generate: a new world for the viewer, a fractal terrain with a matching ground
// texture, the same bytes for the same seed on every machine.

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "terrain_file.h"

namespace groundtool {

struct GenerateOptions {
    int size = 64;  // samples per side, 2 to 127
    std::uint64_t seed = 1;
    double roughness = 0.5;  // how much each finer octave adds, above 0 up to 1
    int textureNumber = 1;   // the texture is written as "<number>.bmp"
    int tile = 12;           // grid cells per texture repeat, both ways
    std::string folder = ".";
    bool force = false;  // replace existing files
};

constexpr int kTextureSide = 256;

// size * size heights, row-major, stretched to use -128 to 127.
std::vector<std::int8_t> generateHeights(int size, std::uint64_t seed, double roughness);
// kTextureSide * kTextureSide RGB pixels, rows top to bottom, repeating without seams.
std::vector<std::uint8_t> generateTexture(std::uint64_t seed);

// Writes <folder>/ground.3dt and <folder>/<number>.bmp and says so on out.
void runGenerate(const GenerateOptions& options, std::ostream& out);

}  // namespace groundtool
