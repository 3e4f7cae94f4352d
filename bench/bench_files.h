#pragma once
// The files the benchmarks and the viewer probe read: bitmaps of the reader's sizes and the
// viewer's largest world, a 127 x 127 grid with a 1024 x 1024 texture. Written once per run.

#include <string>

namespace bench {

constexpr int kGridSize = 127;  // the largest grid a ".3dt" file holds
constexpr int kTextureSide = 1024;
constexpr int kLargeBitmapSide = 4096;
constexpr int kTextureNumber = 1;  // so the texture is "1.bmp"
constexpr int kTextureTile = 8;    // grid cells per texture repeat
constexpr const char* kTerrainFile = "ground.3dt";

// "<folder>/bitmap-<side>.bmp": where writeBitmap puts a bitmap of that side.
std::string bitmapPath(const std::string& folder, int side);
// A square 24-bit bitmap of the given side with a colour ramp, written at bitmapPath; returns
// that path.
std::string writeBitmap(const std::string& folder, int side);

// "ground.3dt" and its texture "1.bmp" in folder, as the viewer finds them beside each other.
void writeWorld(const std::string& folder);

}  // namespace bench
