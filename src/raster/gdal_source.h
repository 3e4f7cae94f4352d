#pragma once
// A height raster as GDAL reads it, inside the jailed reader only: its size, where its cells lie on
// the ground, its heights' unit, and its heights averaged onto any grid, cells without data
// (no_data.h) as NaN. Its placement is checked plausible before anything is computed from it.

#include <cstddef>
#include <string>

#include "gdal_raster.h"
#include "grid_layout.h"
#include "mosaic.h"
#include "source_facts.h"

namespace raster {

class GdalSource {
  public:
    // Opens path with openSource and checks it is a raster that can be imported: 2 x 2 cells to
    // 2^31, cells 1 mm to 1000 km on the ground, latitudes within the poles. Throws RasterError
    // otherwise.
    explicit GdalSource(const std::string& path);
    // The same of names: one source as above, or tiles joined with joinTiles, progress told as
    // they are checked and joined; names.band read as heights. A colour image (three or four
    // 8-bit bands) is refused unless a band is chosen, and so is a GeoTIFF cut short.
    explicit GdalSource(const SourceNames& names, NoteSink note = {},
                        GDALProgressFunc progress = nullptr, void* progressData = nullptr);

    // Size, placement, units and kind, as the rest of the program sees the source.
    SourceFacts facts() const;
    int width() const { return width_; }
    int height() const { return height_; }

    // The window resampled to columns x rows samples (averaged when shrinking both ways,
    // interpolated otherwise), written rows north to south, lineStride values apart; missing
    // heights as NaN. Any warning GDAL raises while reading (a damaged block) throws RasterError.
    // progress, when given, is called as the read advances.
    void read(const SourceWindow& window, int columns, int rows, double* samples,
              std::ptrdiff_t lineStride, GDALProgressFunc progress = nullptr,
              void* progressData = nullptr) const;
    // The same in floats, half the memory: what the height field holds anyway. A height beyond
    // a float is missing.
    void read(const SourceWindow& window, int columns, int rows, float* samples,
              std::ptrdiff_t lineStride, GDALProgressFunc progress = nullptr,
              void* progressData = nullptr) const;
    // Source rows firstRow to firstRow + rowCount - 1, whole and cell for cell, halved: each of
    // the (width + 1) / 2 x (rowCount + 1) / 2 samples at halved the mean of its 2 x 2 box's
    // heights, boxes aligned on firstRow and the west edge, NaN when the box has none; at an odd
    // last column or row the box is clipped. Rows packed; throws as read does.
    void readHalved(int firstRow, int rowCount, float* halved, GDALProgressFunc progress = nullptr,
                    void* progressData = nullptr) const;

  private:
    // bandNumber_ for the band the user chose, 0 for none; refuses a band beyond the source's
    // and, none chosen, a source of 8-bit red, green, blue (and alpha).
    void chooseBand(int band);
    // Checks and reads the facts of dataset_ as opened, kind_ and eightBit_ set already.
    void examine();
    // adjusted_, turned_, reading_, band_ and direct_, made of dataset_.
    void makeViews() const;
    // After a read of window (cells of dataset_) failed: drops from a mosaic the first tile there
    // that fails to read, with a note naming it, and makes the views again. False when the source
    // is no mosaic or every tile there reads.
    bool dropFailingTile(const SourceWindow& window) const;
    void measureHeights(GDALDatasetH reading);

    // The window's values as GDAL gives them, unchecked; throws on any problem GDAL raises.
    template <typename Sample>
    void fetch(const SourceWindow& window, int columns, int rows, Sample* samples,
               std::ptrdiff_t lineStride, GDALProgressFunc progress, void* progressData) const;
    // Fetched values as heights in place: scaled and offset, missing ones NaN.
    template <typename Sample>
    void toHeights(Sample* values, std::size_t count) const;
    template <typename Sample>
    void readInto(const SourceWindow& window, int columns, int rows, Sample* samples,
                  std::ptrdiff_t lineStride, GDALProgressFunc progress, void* progressData) const;

    std::string shown_;  // the path as printed
    NoteSink note_;
    // A mosaic drops a tile that fails to read while it is read: what refers to its dataset is
    // made again then.
    mutable Mosaic mosaic_;  // the tiles joined; dataset_ holds the dataset
    mutable Dataset dataset_;
    mutable Dataset adjusted_;  // palette expanded, voids declared; refers to dataset_
    mutable Dataset turned_;    // resampled north-up; refers to the one before
    mutable GDALDatasetH reading_ = nullptr;
    int bandNumber_ = 1;                        // of dataset_, read as heights, from 1
    mutable GDALRasterBandH band_ = nullptr;    // the Float32 view, for resampling
    mutable GDALRasterBandH direct_ = nullptr;  // the source's own band, north-up, no palette
    int width_ = 0;
    int height_ = 0;
    bool eightBit_ = false;
    std::string kind_;  // "GTiff, Int16"
    int overviews_ = 0;
    bool hasNodata_ = false;
    double nodata_ = 0.0;
    double scale_ = 1.0;
    double offset_ = 0.0;
    double metresPerUnit_ = 1.0;
    std::string heightUnit_ = "units";
    std::string heightNote_;
    Ground ground_;
};

}  // namespace raster
