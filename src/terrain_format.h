#pragma once
// The ".3dt" terrain file, all single bytes:
//   0-1  "3D"            2  type, 1 = terrain
//   3    rows (signed)   4  columns (signed), 0 to 127
//   5    texture number (signed, not 0): the texture is "<number>.bmp"
//   6    tileX (signed, > 0)  7  tileY (signed, > 0)
//   8-   rows * columns heights, row-major, signed
// Rows run along world x, columns along world z.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace terrain_format {

constexpr std::size_t kHeaderBytes = 8;
constexpr std::uint8_t kMagic0 = '3';
constexpr std::uint8_t kMagic1 = 'D';
constexpr std::size_t kTypeOffset = 2;
constexpr std::size_t kRowsOffset = 3;
constexpr std::size_t kColumnsOffset = 4;
constexpr std::size_t kTextureNumberOffset = 5;
constexpr std::size_t kTileXOffset = 6;
constexpr std::size_t kTileYOffset = 7;
constexpr std::int8_t kTypeTerrain = 1;
constexpr int kMaxGridSize = 127;
constexpr int kLowestLevel = -128;
constexpr int kLevelSteps = 255;  // from the lowest height byte to the highest, 127

// The height byte for a share of the way from the lowest level to the highest: 0 gives -128,
// 1 gives 127, to the nearest level between, clamped beyond; NaN gives -128.
std::int8_t levelOf(double share);

// The header's fields as the file holds them. A file may hold any byte in each; the viewer's
// rules for them live with its loader.
struct Header {
    int type = kTypeTerrain;
    int rows = 0;
    int columns = 0;
    int textureNumber = 1;
    int tileX = 8;  // grid columns (along z) per texture repeat
    int tileY = 8;  // grid rows (along x) per texture repeat
};

// The header, each field stored as its low byte, then the height bytes as they are: a file
// writer passes rows * columns of them, a test may pass fewer or more.
std::vector<std::uint8_t> encode(const Header& header, const std::vector<std::uint8_t>& heights);
std::vector<std::uint8_t> encode(const Header& header, const std::vector<std::int8_t>& heights);

}  // namespace terrain_format
