#pragma once
// A height raster as the rest of the program sees it: its size, where its cells lie on the
// ground, its heights' unit, and its heights averaged onto any grid, cells without data (no_data.h)
// as NaN. GDAL decodes it in a jailed reader process (reader_process.h); nothing of the
// user's file is parsed here.

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "grid_layout.h"
#include "jail.h"
#include "reader_process.h"
#include "source_facts.h"

namespace raster {

class ElevationSource {
  public:
    // Opens path in a jailed reader, which checks it is a raster that can be imported: 2 x 2
    // cells to 2^31, cells 1 mm to 1000 km on the ground, latitudes within the poles. Throws
    // RasterError (NotARaster when no allowed driver reads it) otherwise.
    explicit ElevationSource(const std::string& path, const JailLimits& limits = {});
    // Several rasters, or a folder of them, joined into one mosaic by the reader (mosaic.h); a
    // single file is opened as above. band, from 1, is read as heights; 0 lets the reader take the
    // first, refusing a colour image. Throws NoRaster when a folder holds no raster.
    explicit ElevationSource(const std::vector<std::string>& paths, const JailLimits& limits = {},
                             int band = 0);
    ~ElevationSource();
    ElevationSource(ElevationSource&&) noexcept;
    ElevationSource& operator=(ElevationSource&&) noexcept;

    int width() const { return facts_.width; }
    int height() const { return facts_.height; }
    // 8-bit sources are greyscale heightmaps: their levels are the heights, 0 to 255.
    bool eightBit() const { return facts_.eightBit; }
    const Ground& ground() const { return facts_.ground; }
    // The length of one height unit in metres (1 when the source has no coordinate system).
    double metresPerUnit() const { return facts_.metresPerUnit; }
    // The heights' unit as the source names it ("m" when it names none), or "units".
    const std::string& heightUnit() const { return facts_.heightUnit; }
    // The format and cell type, as "GTiff, Int16" or "VRT mosaic of 4 SRTMHGT, Int16".
    const std::string& kind() const { return facts_.kind; }
    // Everything above, with the north-up placement and coordinate system.
    const SourceFacts& facts() const { return facts_; }
    // The path as messages print it: "dem.tif", "data/tiles" or "a.hgt + 3 more".
    const std::string& shown() const { return shown_; }
    // The paths it was opened from, as given.
    const std::vector<std::string>& paths() const { return paths_; }

    // The window resampled to columns x rows samples (averaged when shrinking both ways,
    // interpolated otherwise), written rows north to south, lineStride values apart; missing
    // heights as NaN. A damaged block, a stall or a reader that dies throws RasterError.
    void read(const SourceWindow& window, int columns, int rows, double* samples,
              std::ptrdiff_t lineStride) const;
    // The same without a copy: the samples where the reader left them, rows packed, unchecked
    // (anything not finite is missing).
    SharedSamples readShared(const SourceWindow& window, int columns, int rows) const;
    // Source rows firstRow to firstRow + rowCount - 1 halved by the reader: (width + 1) / 2 x
    // (rowCount + 1) / 2 samples, each the mean of the heights of its 2 x 2 box (aligned on
    // firstRow and the west edge, clipped at an odd last column or row), rows packed, unchecked
    // as readShared's.
    SharedSamples readHalved(int firstRow, int rowCount) const;

  private:
    std::unique_ptr<ReaderProcess> reader_;
    SourceFacts facts_;
    std::string shown_;
    std::vector<std::string> paths_;
};

}  // namespace raster
