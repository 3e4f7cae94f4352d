#include "bench_files.h"

#include <algorithm>
#include <cmath>

#include "terrain.h"
#include "test_files.h"
#include "world.h"

namespace bench {

namespace {

Bytes rampBitmap(int side) {
    return bitmapBytes(side, side, [](int x, int y) {
        return Rgb{static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y),
                   static_cast<std::uint8_t>((x ^ y) >> 2)};
    });
}

// Rolling hills over the whole signed range, so every strip has slope and no two are alike.
int hillHeight(int row, int column) {
    const double height = 127.0 * std::sin(row * 0.21) * std::cos(column * 0.13);
    return std::clamp(static_cast<int>(std::lround(height)), -128, 127);
}

}  // namespace

std::string bitmapPath(const std::string& folder, int side) {
    return world::inFolder(folder, "bitmap-" + std::to_string(side) + ".bmp");
}

std::string writeBitmap(const std::string& folder, int side) {
    const std::string path = bitmapPath(folder, side);
    writeFile(path, rampBitmap(side));
    return path;
}

void writeWorld(const std::string& folder) {
    writeFile(
        world::inFolder(folder, kTerrainFile),
        terrainBytes(kGridSize, kGridSize, kTextureNumber, kTextureTile, kTextureTile, hillHeight));
    writeFile(world::texturePath(folder, kTextureNumber), rampBitmap(kTextureSide));
}

}  // namespace bench
