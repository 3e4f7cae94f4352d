#pragma once
// Writing ".3dt" terrain files, the other direction of the viewer's loader: "3D", type 1, rows,
// columns, texture number, tileX, tileY, then rows * columns signed heights, row by row.

#include <cstdint>
#include <vector>

#include "file_output.h"

namespace groundtool {

// The header fields in the ranges groundtool accepts; the checks live with the options.
struct TerrainHeader {
    int rows = 0;           // 2 to 127, along world x
    int columns = 0;        // 2 to 127, along world z
    int textureNumber = 1;  // -128 to 127 but not 0; names "<number>.bmp"
    int tileX = 8;          // grid columns per texture repeat, 1 to 127
    int tileY = 8;          // grid rows per texture repeat, 1 to 127
};

constexpr int kMinGridSize = 2;  // a single row or column draws nothing
constexpr int kMaxGridSize = 127;
constexpr int kMaxTile = 127;
constexpr int kMinTextureNumber = -128;
constexpr int kMaxTextureNumber = 127;

// heights holds rows * columns samples, row-major.
Bytes encodeTerrain(const TerrainHeader& header, const std::vector<std::int8_t>& heights);

}  // namespace groundtool
