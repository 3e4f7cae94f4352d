#pragma once
// Several rasters read as one: a folder of tiles or tiles named one by one, joined by the jailed
// reader into a VRT in memory. The owner only lists the files and names the whole; every tile is
// opened, checked against the first and joined inside the reader.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gdal_raster.h"

namespace raster {

// What a reader opens, as the user named it.
struct SourceNames {
    std::vector<std::string> files;  // one source, or the tiles in order
    bool mosaic = false;             // the files are joined, even a single one from a folder
    // The files are a folder's: those no allowed driver reads (a README, a world file) are
    // passed over instead of refused.
    bool listed = false;
    std::string shown;  // the source as messages print it
    int band = 0;       // the band read as heights, from 1; 0 when the user chose none
};

// How messages name what paths stand for: the path ("dem.tif", "data/tiles" for a folder), or
// "a.hgt + 3 more" for several; printable.
std::string shownName(const std::vector<std::string>& paths);

// The files behind paths: one raster as it is, a folder's files that may be rasters (sorted by
// name; no hidden file, sidecar, world file, anything named as no raster nor link leading out of
// the folder), or the tiles named.
// Throws NoRaster when a folder holds no file that may be a raster, RasterError when it can't
// be listed.
SourceNames nameSources(const std::vector<std::string>& paths);

// The folders beneath which the reader of names reads, links resolved: each file's own, or the
// folder listed.
std::vector<std::string> foldersOf(const SourceNames& names);

// What the reader of names reads, once it knows: each file named (links resolved), a VRT's sources
// and those of the VRTs they name, and beside each its sidecars of the same stem ("dem.tif.ovr",
// "dem.hdr", "dem.aux.xml") found by listing its folder, none hidden nor leading out of it; and
// the folders holding them, to be listed. Throws RasterError when a sidecar is a VRT, which GDAL
// would read without its sources checked.
struct ReadRights {
    std::vector<std::string> files;
    std::vector<std::string> folders;
};
ReadRights readRightsOf(const SourceNames& names);

// Where a note for the user goes from inside the reader, one line without its "note: ": the
// reader writes nothing itself, so its owner prints it. Empty: standard error, as the owner does.
using NoteSink = std::function<void(const std::string& line)>;

// Inside the reader: the tiles joined into one north-up VRT, gaps between them missing. Each
// tile is opened under the open policy and must share the first's coordinate system, cell size
// and band count, north-up; the first that doesn't is named, on one line. Tiles of a folder that
// the policy refuses or no allowed driver reads are passed over, and a tile whose file is cut
// short is drawn as no data, each with a note to note naming it. kind says what was
// joined ("VRT mosaic of 4 GTiff, Int16"), eightBit whether the tiles are 8-bit. A folder's lone
// raster is opened as it is, kind empty. progress, when given, is told after each tile checked,
// so that a large folder is seen to advance.
struct MosaicTiles;
struct Mosaic {
    Dataset dataset;
    std::string kind;
    bool eightBit = false;
    std::shared_ptr<MosaicTiles> tiles;  // what dataset joins; none for a lone raster
};
Mosaic joinTiles(const SourceNames& names, const NoteSink& note = {},
                 GDALProgressFunc progress = nullptr, void* progressData = nullptr);

// When reading band (from 1) of the mosaic's cells x to x + width - 1, y to y + height - 1 fails:
// finds the first tile joined there whose own cells fail to read, and joins the rest again into
// mosaic.dataset, that tile's cells no data. Returns the note naming it, "" when every tile there
// reads (mosaic.dataset then unchanged). Close every view made of mosaic.dataset first.
std::string dropUnreadableTile(Mosaic& mosaic, int band, int x, int y, int width, int height);

// Tells line to note, or prints it as a note on standard error when note is empty.
void tell(const NoteSink& note, const std::string& line);

}  // namespace raster
