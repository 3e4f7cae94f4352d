#pragma once
// The user's cache of pyramids (pyramid.h): which pyramid stands for a source as it is now,
// which are stale, and how many bytes the cache may hold. A pyramid is named
// "<source>-<contents>.tif" in 16-digit hexadecimal: <source> hashes the real paths the source
// was named by and the band read, <contents> every file the reader reads for it (device, inode,
// size, modification and change times, a VRT's bytes) and the pyramid's format; beside it
// "<source>-<contents>.source" holds the source as the user named it. Only files of exactly these
// names, regular and not links, are ever touched here.

#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "elevation_source.h"

namespace raster {

// $XDG_CACHE_HOME/groundview when that is an absolute path, else $HOME/.cache/groundview. Throws
// RasterError when neither names a folder. Nothing is made here.
std::string pyramidCacheFolder();

// The pyramid in the cache of the source named by sourcePaths, band (from 1) read as heights, when
// it has been built for the source as it is now, its last use recorded; the same source's stale
// pyramids are removed meanwhile. Nothing otherwise. Throws RasterError naming a source that can't
// be found or listed.
std::optional<std::string> existingPyramid(const std::vector<std::string>& sourcePaths, int band);

// A byte count as written: digits with an optional K, M or G (powers of 1024), blanks around;
// nothing when it is no such count or beyond 2^62.
std::optional<long long> byteCount(const std::string& text);

// The bytes the cache may hold: GROUNDVIEW_CACHE_LIMIT, else the byte count in
// $XDG_CONFIG_HOME/groundview/cache-limit (~/.config when unset), else the smaller of 10 % of the
// disk holding the cache and 20 GB. A setting that is no byte count is told once on standard
// error as a note, and the next one is used.
long long cacheLimit();

// A size as people read it: "812 bytes", "3.4 KB", "1.2 GB" (powers of 1024).
std::string byteText(long long bytes);

struct CachedPyramid {
    std::string path;
    std::string source;  // as the user named it when it was built; "?" when not recorded
    std::vector<std::string> realPaths;  // the source's real paths, printable
    long long bytes = 0;
    timespec lastUse{};
};
// The cache's pyramids, least recently used first.
std::vector<CachedPyramid> cachedPyramids();
// Whether pyramid was built from source: one of the same real path, or for a source since
// removed, of the same absolute path.
bool isPyramidOf(const CachedPyramid& pyramid, const std::string& source);
// Removes pyramid and its record of the source.
void removeCachedPyramid(const CachedPyramid& pyramid);

// The pyramid of source from the cache, built there first when missing (progress told the share
// done, 0 to 1; progress may throw to stop the build, which leaves nothing behind). When the cache
// can't hold it (it would take more than cacheLimit, or the cache can't be written) path is empty
// and withoutPyramid says why on one line. Once the pyramid is built or opened, the least
// recently used others go until the cache is within its limit. Throws RasterError when the source
// can't be read.
struct CachedPyramidOf {
    std::string path;
    std::string withoutPyramid;
    bool built = false;  // now, rather than found up to date
};
CachedPyramidOf cachedPyramidOf(const ElevationSource& source,
                                const std::function<void(double share)>& progress);

// Why cachedPyramidOf would not build the pyramid of source, as it would say it: its estimated
// size is over the cache's limit. "" when it would be built.
std::string pyramidOverLimit(const ElevationSource& source);

}  // namespace raster
