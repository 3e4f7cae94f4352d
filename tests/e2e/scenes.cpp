#include "scenes.h"

#include <cmath>

#include "test_files.h"

void writeCheckerTerrain(const std::string& folder) {
    constexpr int kGrid = 64;
    constexpr int kTile = 8;
    constexpr int kTextureNumber = 1;
    // Heights up to +-60 of 127 stay within +-0.15 world units after the viewer's scaling.
    writeFile(folder + "/ground.3dt",
              terrainBytes(kGrid, kGrid, kTextureNumber, kTile, kTile, [](int row, int column) {
                  return static_cast<int>(
                      std::lround(60.0 * std::sin(row * 0.3) * std::cos(column * 0.2)));
              }));
    constexpr int kTextureSize = 256;
    constexpr int kSquare = 64;
    writeFile(folder + "/1.bmp", bitmapBytes(kTextureSize, kTextureSize, [](int x, int y) {
                  const Pixel square =
                      (x / kSquare + y / kSquare) % 2 == 0 ? kRedSquare : kGreenSquare;
                  return Rgb{square.r, square.g, square.b};
              }));
}

void writeLargestWorld(const std::string& folder) {
    constexpr int kGrid = 127;
    constexpr int kTile = 8;
    constexpr int kTextureNumber = 1;
    writeFile(folder + "/ground.3dt",
              terrainBytes(kGrid, kGrid, kTextureNumber, kTile, kTile, [](int row, int column) {
                  return static_cast<int>(
                      std::lround(100.0 * std::sin(row * 0.15) * std::cos(column * 0.11)));
              }));
    constexpr int kTextureSize = 1024;
    constexpr int kSquare = 128;
    writeFile(folder + "/1.bmp", bitmapBytes(kTextureSize, kTextureSize, [](int x, int y) {
                  const Pixel square =
                      (x / kSquare + y / kSquare) % 2 == 0 ? kRedSquare : kGreenSquare;
                  return Rgb{square.r, square.g, square.b};
              }));
}
