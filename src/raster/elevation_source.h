#pragma once
// A height raster as GDAL reads it: its size, where its cells lie on the ground, its heights'
// unit, and its heights averaged onto any grid, missing cells (nodata, NaN, infinite) as NaN.
// Its placement is checked plausible before anything is computed from it.

#include <cstddef>
#include <string>

#include "gdal_raster.h"
#include "grid_layout.h"

namespace raster {

// Decoding more takes minutes even when it streams; such a source is refused before any of it is
// read.
constexpr double kMaxSourceCells = 2147483648.0;  // 2^31, about 46341 x 46341

// Where the source's cells lie on the ground.
struct Ground {
    double cellEast = 1.0;   // the extent of one source cell, in metres when inMetres
    double cellNorth = 1.0;  // otherwise in the source's own unit
    bool inMetres = false;   // false: no coordinate system, so heights share the cells' unit
    std::string description;
};

class ElevationSource {
  public:
    // Opens path with openSource and checks it is a raster that can be imported: 2 x 2 cells to
    // 2^31, cells 1 mm to 1000 km on the ground, latitudes within the poles. Throws RasterError
    // otherwise.
    explicit ElevationSource(const std::string& path);

    int width() const { return width_; }
    int height() const { return height_; }
    // 8-bit sources are greyscale heightmaps: their levels are the heights, 0 to 255.
    bool eightBit() const { return eightBit_; }
    const Ground& ground() const { return ground_; }
    // The dataset read from, north-up: its geotransform and coordinate system place the cells.
    GDALDatasetH northUp() const { return reading_; }
    // The length of one height unit in metres (1 when the source has no coordinate system).
    double metresPerUnit() const { return metresPerUnit_; }
    // The heights' unit as the source names it ("m" when it names none), or "units".
    const std::string& heightUnit() const { return heightUnit_; }
    // The format and cell type, as "GTiff, Int16".
    std::string kind() const;

    // The window resampled to columns x rows samples (averaged when shrinking both ways,
    // interpolated otherwise), written rows north to south, lineStride values apart; missing
    // heights as NaN. Any warning GDAL raises while reading (a damaged block) throws RasterError.
    void read(const SourceWindow& window, int columns, int rows, double* samples,
              std::ptrdiff_t lineStride) const;

  private:
    std::string shown_;  // the path as printed
    Dataset dataset_;
    Dataset adjusted_;  // palette expanded, voids declared; refers to dataset_
    Dataset turned_;    // resampled north-up; refers to the one before
    GDALDatasetH reading_ = nullptr;
    GDALRasterBandH band_ = nullptr;
    int width_ = 0;
    int height_ = 0;
    bool eightBit_ = false;
    bool hasNodata_ = false;
    double nodata_ = 0.0;
    double scale_ = 1.0;
    double offset_ = 0.0;
    double metresPerUnit_ = 1.0;
    std::string heightUnit_ = "units";
    Ground ground_;
};

}  // namespace raster
