#pragma once
// Writing ".3dt" terrain files with the ranges groundtool accepts; the layout itself and its
// encoder are the core's (terrain_format.h).

#include <cstdint>
#include <vector>

#include "file_output.h"
#include "terrain_format.h"

namespace groundtool {

// rows and columns 2 to 127, texture number -128 to 127 but not 0, tiles 1 to 127; the checks
// live with the options.
using TerrainHeader = terrain_format::Header;

constexpr int kMinGridSize = 2;  // a single row or column draws nothing
constexpr int kMaxGridSize = terrain_format::kMaxGridSize;
constexpr int kMaxTile = 127;
constexpr int kMinTextureNumber = -128;
constexpr int kMaxTextureNumber = 127;

// heights holds rows * columns samples, row-major.
Bytes encodeTerrain(const TerrainHeader& header, const std::vector<std::int8_t>& heights);

}  // namespace groundtool
