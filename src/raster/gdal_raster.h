#pragma once
// GDAL's rasters in memory and its processing on them, and datasets closed by their owners. GDAL
// itself is set up by useGdal (raster_open.h).

#include <gdal.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "gdal_errors.h"
#include "grid_layout.h"

namespace raster {

struct DatasetCloser {
    void operator()(void* dataset) const { GDALClose(dataset); }
};
using Dataset = std::unique_ptr<void, DatasetCloser>;

// GDAL's (x0, dx, 0, y0, 0, dy) placing a raster's pixels on the ground.
using GeoTransform = std::vector<double>;

// A one-band Float64 raster in memory that works on values in place (width * height, rows top to
// bottom), with NaN as its nodata value. values must outlive it and keep its size.
Dataset rasterOver(std::vector<double>& values, int width, int height,
                   const GeoTransform& placement);

// The window of band (pixels, fractions allowed) resampled to columns x rows values at out, rows
// lineStride apart: averaged when it shrinks both ways, interpolated otherwise. On failure returns
// false, GDAL's message left for gdalMessage. progress, when given, hears how far it got.
bool readResampled(GDALRasterBandH band, const SourceWindow& window, int columns, int rows,
                   double* out, std::ptrdiff_t lineStride, GDALProgressFunc progress = nullptr,
                   void* progressData = nullptr);
bool readResampled(GDALRasterBandH band, const SourceWindow& window, int columns, int rows,
                   float* out, std::ptrdiff_t lineStride, GDALProgressFunc progress = nullptr,
                   void* progressData = nullptr);
// The same into out of any of GDAL's types.
bool readResampled(GDALRasterBandH band, const SourceWindow& window, int columns, int rows,
                   void* out, GDALDataType type, std::ptrdiff_t lineStride,
                   GDALProgressFunc progress, void* progressData);

// Why a read failed, on one line: the first problem watch saw, else GDAL's last message. libtiff
// prints the row of a whole strip or tile it failed at as 4294967295 (-1 unsigned); that row is
// left out.
std::string readFailure(const GdalErrorWatch& watch);

// Interpolates every NaN in values (width * height) from the valid values around it, with GDAL's
// GDALFillNodata; needs one valid value at least. Returns how many there were.
std::size_t fillGaps(std::vector<double>& values, int width, int height);

// GDALDEMProcessing into memory: "hillshade" or "color-relief" with gdaldem's own options.
Dataset demProcessing(GDALDatasetH source, const std::string& processing,
                      const std::vector<std::string>& options, const std::string& colourFile = "");

// The first count bands of an in-memory Byte raster, pixel-interleaved, rows top to bottom.
std::vector<std::uint8_t> readBytes(GDALDatasetH raster, int count);

}  // namespace raster
