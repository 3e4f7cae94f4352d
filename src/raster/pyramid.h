#pragma once
// A large source without overviews is shown through smaller copies of itself, built once into the
// user's cache and kept for as long as the source stays as it was. Level 1 holds every 2nd pixel
// (each the average of a 2 x 2 box of source pixels, boxes aligned on the source's north-west
// corner) as Float32 with NaN for missing heights; its overviews halve it again and again. The
// user's file is read only through the jailed reader; only our own file is written here.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "elevation_source.h"

namespace raster {

// The overviews stop once the smallest side is this many samples or fewer: one chunk of the
// viewer's quadtree.
constexpr int kPyramidSmallestSide = 64;

// $XDG_CACHE_HOME/groundview when that is an absolute path, else $HOME/.cache/groundview. Throws
// RasterError when neither names a folder. Nothing is made here.
std::string pyramidCacheFolder();

// The pyramid's file in the cache folder, named after each source file's real path, size and
// modification time (to the nanosecond): a change to any of them names another file. Throws
// RasterError naming a source that can't be found.
std::string pyramidPathFor(const std::vector<std::string>& sourcePaths);

// pyramidPathFor(sourcePaths) when that file has been built, nothing otherwise.
std::optional<std::string> existingPyramid(const std::vector<std::string>& sourcePaths);

// Builds the pyramid of source at out, making out's folder and its parent (owner-only) when they
// are missing, never a folder above them: a missing $HOME is refused, not made. The file appears
// whole or not at all: it is written unnamed and linked into place once complete, so a failure, a
// kill or a crash leaves nothing behind. progress is told the share done, 0 to 1,
// at least every 1 %. Throws RasterError when the source can't be read or the file written.
void buildPyramid(const ElevationSource& source, const std::string& out,
                  const std::function<void(double share)>& progress);

}  // namespace raster
