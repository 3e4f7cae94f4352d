#pragma once
// A large source without overviews is shown through smaller copies of itself, built once into the
// user's cache and kept for as long as the source stays as it was. Level 1 holds every 2nd pixel
// (each the average of a 2 x 2 box of source pixels, boxes aligned on the source's north-west
// corner) as Float32 with NaN for missing heights; its overviews halve it again and again, each
// sample the mean of its 2 x 2 box of the level above, rounded to a quarter of a height unit when
// the source's heights are whole numbers (no terraces, and fewer bytes). Tiles
// are compressed without loss (ZSTD, floating-point predictor), and tiles without any height are
// not written at all, so that a sparse or constant source makes a pyramid of kilobytes. The
// user's file is read only through the jailed reader; only our own file is written here.

#include <functional>
#include <string>

#include "elevation_source.h"
#include "raster_error.h"

namespace raster {

// The overviews stop once the smallest side is this many samples or fewer: one chunk of the
// viewer's quadtree.
constexpr int kPyramidSmallestSide = 64;

// Names the pyramid's format: changed whenever the file's layout or its samples' meaning changes,
// so that older pyramids are never taken for current ones.
constexpr const char* kPyramidVersion = "groundview pyramid 2";

// Our own file could not be made or written (a read-only cache, a full disk), as against a source
// that can't be read.
class CacheUnwritable : public RasterError {
  public:
    using RasterError::RasterError;
};

// Builds the pyramid of source at out, making out's folder and its parent (owner-only) when they
// are missing, never a folder above them: a missing $HOME is refused, not made. The file appears
// whole or not at all: it is written unnamed and linked into place once complete, so a failure, a
// kill or a crash leaves nothing behind. progress is told the share done, 0 to 1,
// at least every 1 %; when it throws, the build stops and the exception is passed on, nothing
// left behind. Throws RasterError when the source can't be read, CacheUnwritable when the file
// can't be written.
void buildPyramid(const ElevationSource& source, const std::string& out,
                  const std::function<void(double share)>& progress);

}  // namespace raster
