#pragma once
// What the jailed reader tells about a source once it has opened it: everything the rest of the
// program needs to lay out, place and describe the source without opening it itself.

#include <array>
#include <string>

namespace raster {

// Decoding more takes minutes even when it streams; such a source is refused before any of it is
// read.
constexpr double kMaxSourceCells = 2147483648.0;  // 2^31, about 46341 x 46341

// Overviews beyond this many are not counted: halving 2^31 cells gives 32 at most.
constexpr int kMaxOverviews = 64;

// Where the source's cells lie on the ground.
struct Ground {
    double cellEast = 1.0;   // the extent of one source cell, in metres when inMetres
    double cellNorth = 1.0;  // otherwise in the source's own unit
    bool inMetres = false;   // false: no coordinate system, so heights share the cells' unit
    std::string description;
};

struct SourceFacts {
    int width = 0;  // cells west to east, as read (north-up)
    int height = 0;
    bool eightBit = false;  // a greyscale heightmap: its levels are the heights, 0 to 255
    Ground ground;
    // GDAL's (x0, dx, 0, y0, 0, dy) of the north-up raster read from; placed is false when the
    // source has none, and then pixels count as units, rows downwards.
    bool placed = false;
    std::array<double, 6> transform = {0.0, 1.0, 0.0, 0.0, 0.0, 1.0};
    std::string crsWkt;          // the coordinate system as WKT2, empty when it has none
    double metresPerUnit = 1.0;  // m, ft, US ft, mm, cm, dm, km; any other unit counts as m
    std::string heightUnit = "units";
    // For the user when the heights' unit is not known here and taken as metres, else empty.
    std::string heightNote;
    std::string kind;   // "GTiff, Int16", "VRT mosaic of 4 SRTMHGT, Int16"
    int overviews = 0;  // reduced copies the source's band holds, 0 to kMaxOverviews
    int band = 1;       // the band read as heights, counted from 1
};

}  // namespace raster
