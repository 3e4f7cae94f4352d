#pragma once
// The files the end-to-end tests put in front of the viewer, and what their pictures are made of.

#include <string>

#include "app.h"
#include "picture.h"

// The clear colour: the sky wherever no terrain is drawn.
constexpr Pixel kSky{app::kSkyRgb8[0], app::kSkyRgb8[1], app::kSkyRgb8[2]};
inline bool isSky(Pixel pixel) {
    return pixel == kSky;
}

// Texture squares, far from the sky's blue and from the white of the fog.
constexpr Pixel kRedSquare{220, 40, 30};
constexpr Pixel kGreenSquare{40, 170, 40};

// Writes "ground.3dt" and "1.bmp" into folder: a 64 x 64 grid of gentle hills textured with a
// 256 x 256 checkerboard of red and green 64-pixel squares that repeats every 8 cells.
void writeCheckerTerrain(const std::string& folder);

// Writes "ground.3dt" and "1.bmp" into folder: the largest world, a 127 x 127 grid of hills
// textured with a 1024 x 1024 checkerboard of red and green 128-pixel squares that repeats every 8
// cells.
void writeLargestWorld(const std::string& folder);
