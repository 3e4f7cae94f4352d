#include "mosaic.h"

#include <cpl_string.h>
#include <dirent.h>
#include <ogr_srs_api.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <iostream>
#include <memory>
#include <set>
#include <type_traits>
#include <unordered_map>

#include "decimal_text.h"
#include "local_file.h"
#include "no_data.h"
#include "printable.h"
#include "raster_error.h"
#include "raster_open.h"
#include "vrt_sources.h"
#include "world.h"

namespace raster {

namespace {

// A folder listing more files that may be rasters than this is no folder of tiles anyone reads
// whole; a VRT of them, or a smaller folder, is.
constexpr std::size_t kMaxTiles = 1 << 16;
// Cell sizes this close, relatively, are the same: tiles cut from one grid differ in the last
// digits of their georeferencing, while a drift of 1e-6 over a 3601-cell tile stays below a
// hundredth of a cell.
constexpr double kSameCellSize = 1e-6;

// Names that are never rasters themselves: another file's sidecar (metadata, overviews,
// header, coordinate system, world file) or a file of another kind.
constexpr const char* kNoRasterEndings[] = {
    ".aux.xml", ".aux", ".ovr",  ".msk",  ".prj",  ".hdr", ".xml", ".tfw",  ".tfwx", ".tifw",
    ".wld",     ".pgw", ".pngw", ".jgw",  ".jpgw", ".gfw", ".bpw", ".bmpw", ".stx",  ".qml",
    ".sld",     ".md",  ".json", ".html", ".pdf",  ".log", ".3dt", ".zip",  ".gz",   ".tar"};

// Sidecars GDAL opens as rasters in their own right: overviews and masks.
constexpr const char* kOpenedAsRasters[] = {".ovr", ".msk", ".aux", ".rrd"};

bool endsWith(const std::string& name, const char* ending) {
    const std::size_t size = std::strlen(ending);
    return name.size() > size && strncasecmp(name.c_str() + name.size() - size, ending, size) == 0;
}

bool mayBeRaster(const std::string& name) {
    return !name.empty() && name[0] != '.' &&
           std::none_of(std::begin(kNoRasterEndings), std::end(kNoRasterEndings),
                        [&](const char* ending) { return endsWith(name, ending); });
}

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

bool isFolder(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// The regular files of folder that may be rasters, sorted by name.
std::vector<std::string> listFolder(const std::string& folder, const std::string& shown) {
    std::unique_ptr<DIR, int (*)(DIR*)> listing(opendir(folder.c_str()), closedir);
    if (!listing) {
        throw RasterError("cannot read " + shown + ": " + std::strerror(errno));
    }
    // A link in the folder is followed only within it: the reader's walls hold the folder alone.
    const std::string within = world::inFolder(world::realPathOf(folder), "");
    std::vector<std::string> names;
    while (const dirent* entry = readdir(listing.get())) {
        const std::string name = entry->d_name;
        const std::string path = world::inFolder(folder, name);
        if (mayBeRaster(name) && world::regularFileProblem(path).empty()) {
            if (world::realPathOf(path).compare(0, within.size(), within) == 0) {
                names.push_back(name);
            } else {
                std::cerr << "note: passed over " << printable(path)
                          << ": a link leading out of its folder" << std::endl;
            }
        }
        if (names.size() > kMaxTiles) {
            throw RasterError("cannot read " + shown + ": it holds more than " +
                              std::to_string(kMaxTiles) +
                              " files that may be rasters; join them with gdalbuildvrt first");
        }
    }
    std::sort(names.begin(), names.end());
    std::vector<std::string> files;
    for (const std::string& name : names) {
        files.push_back(world::inFolder(folder, name));
    }
    return files;
}

struct SrsCloser {
    void operator()(OGRSpatialReferenceH crs) const { OSRDestroySpatialReference(crs); }
};
using Srs = std::unique_ptr<std::remove_pointer_t<OGRSpatialReferenceH>, SrsCloser>;

// What a tile must share with the first, and what the mosaic says of it.
struct Tile {
    std::string path;
    std::array<double, 6> transform{};
    bool placed = false;
    Srs crs;
    int width = 0;  // cells
    int height = 0;
    int blockWidth = 0;  // cells of one block GDAL reads at a time
    int blockHeight = 0;
    int bands = 0;
    GDALDataType type = GDT_Unknown;
    bool declaresNodata = false;
    double nodata = 0.0;  // when declared
    std::string driver;
    std::string unreadable;  // why its cells can't be read, "" when they can
};

Tile readTile(const std::string& path) {
    const Dataset dataset = openSource(path);
    Tile tile;
    tile.path = path;
    tile.placed = GDALGetGeoTransform(dataset.get(), tile.transform.data()) == CE_None;
    if (OGRSpatialReferenceH crs = GDALGetSpatialRef(dataset.get())) {
        tile.crs.reset(OSRClone(crs));
    }
    tile.width = GDALGetRasterXSize(dataset.get());
    tile.height = GDALGetRasterYSize(dataset.get());
    tile.bands = GDALGetRasterCount(dataset.get());
    GDALRasterBandH band = GDALGetRasterBand(dataset.get(), 1);
    GDALGetBlockSize(band, &tile.blockWidth, &tile.blockHeight);
    tile.type = GDALGetRasterDataType(band);
    int declared = 0;
    tile.nodata = GDALGetRasterNoDataValue(band, &declared);
    tile.declaresNodata = declared != 0;
    tile.driver = GDALGetDriverShortName(GDALGetDatasetDriver(dataset.get()));
    tile.unreadable = cutShort(dataset.get());
    return tile;
}

std::string crsName(const Tile& tile) {
    const char* name = tile.crs ? OSRGetName(tile.crs.get()) : nullptr;
    return tile.crs ? printable(name != nullptr ? name : "unnamed") : "none";
}

// The unit the georeferencing counts cells in: "degrees", "metre", or "units" without a
// coordinate system.
std::string cellUnit(const Tile& tile) {
    if (!tile.crs) {
        return "units";
    }
    char* unit = nullptr;
    if (OSRIsGeographic(tile.crs.get())) {
        OSRGetAngularUnits(tile.crs.get(), &unit);
        const std::string name = unit != nullptr ? unit : "";
        return name == "degree" ? "degrees" : printable(name);
    }
    OSRGetLinearUnits(tile.crs.get(), &unit);
    return printable(unit != nullptr ? unit : "units");
}

std::string cellsText(const Tile& tile) {
    return decimalText(std::abs(tile.transform[1])) + " x " +
           decimalText(std::abs(tile.transform[5]));
}

bool sameSize(double a, double b) {
    return std::abs(a - b) <= kSameCellSize * std::max(std::abs(a), std::abs(b));
}

// Why tile can't be joined to first, "" when it can.
std::string mismatch(const Tile& tile, const Tile& first) {
    const std::string like = " like " + printable(world::nameOf(first.path));
    if (!tile.placed) {
        return "it is placed nowhere (no georeferencing); only placed tiles are joined";
    }
    if (tile.transform[2] != 0.0 || tile.transform[4] != 0.0 || tile.transform[1] <= 0.0 ||
        tile.transform[5] >= 0.0) {
        return "it is rotated or mirrored; only north-up tiles are joined";
    }
    const bool sameCrs = (!tile.crs && !first.crs) ||
                         (tile.crs && first.crs && OSRIsSame(tile.crs.get(), first.crs.get()));
    if (!sameCrs) {
        return "its coordinate system is " + crsName(tile) + ", not " + crsName(first) + like;
    }
    if (!sameSize(tile.transform[1], first.transform[1]) ||
        !sameSize(tile.transform[5], first.transform[5])) {
        return "its cells are " + cellsText(tile) + " " + cellUnit(tile) + ", not " +
               cellsText(first) + like;
    }
    if (tile.bands != first.bands) {
        return "it has " + std::to_string(tile.bands) + " bands, not " +
               std::to_string(first.bands) + like;
    }
    return "";
}

// "4 GTiff", or "3 tiles (GTiff, SRTMHGT)" when their formats differ; the same for cell types.
std::string kindText(const std::vector<Tile>& tiles) {
    std::vector<std::string> drivers;
    std::vector<std::string> types;
    for (const Tile& tile : tiles) {
        const std::string type = GDALGetDataTypeName(tile.type);
        if (std::find(drivers.begin(), drivers.end(), tile.driver) == drivers.end()) {
            drivers.push_back(tile.driver);
        }
        if (std::find(types.begin(), types.end(), type) == types.end()) {
            types.push_back(type);
        }
    }
    const auto joined = [](const std::vector<std::string>& words, const char* between) {
        std::string text;
        for (const std::string& word : words) {
            text += (text.empty() ? "" : between) + word;
        }
        return text;
    };
    const std::string count = std::to_string(tiles.size());
    return "VRT mosaic of " +
           (drivers.size() == 1 ? count + " " + drivers.front()
                                : count + " tiles (" + joined(drivers, ", ") + ")") +
           ", " + joined(types, " and ");
}

// What the cells between tiles hold: the first tile's no-data value when it declares one, each
// tile's own then masked where it lies; else the SRTM void for 16-bit heights, masked in every
// tile, or NaN for floats. Unsigned tiles declaring none leave gaps at 0, which is one of their
// heights.
struct Gaps {
    std::string value;                // the mosaic's no-data value, "" for none
    std::vector<std::string> masked;  // per tile: the value its cells are masked at, "" for none
};

Gaps gapsOf(const std::vector<Tile>& tiles) {
    Gaps gaps;
    const Tile& first = tiles.front();
    const char* mark = first.declaresNodata ? nullptr : undeclaredNodata(first.type);
    if (first.declaresNodata) {
        gaps.value = CPLSPrintf("%.17g", first.nodata);
    } else if (mark != nullptr) {
        gaps.value = mark;
    }
    for (const Tile& tile : tiles) {
        if (first.declaresNodata) {
            gaps.masked.push_back(tile.declaresNodata ? CPLSPrintf("%.17g", tile.nodata) : "");
        } else {
            gaps.masked.push_back(mark != nullptr && !GDALDataTypeIsFloating(first.type) ? mark
                                                                                         : "");
        }
    }
    return gaps;
}

std::string xmlText(const std::string& text) {
    char* escaped = CPLEscapeString(text.c_str(), static_cast<int>(text.size()), CPLES_XML);
    std::string result = escaped != nullptr ? escaped : "";
    CPLFree(escaped);
    return result;
}

// A cell count as GDAL takes it; throws when the tiles span more.
int cellCount(double cells, const std::string& shown) {
    const double rounded = std::round(cells);
    if (!(rounded >= 1.0 && rounded <= static_cast<double>(INT_MAX))) {
        throw RasterError("cannot join " + shown + ": the tiles span " + decimalText(rounded) +
                          " cells across, more than GDAL addresses");
    }
    return static_cast<int>(rounded);
}

// The VRT joining tiles, as GDAL's VRT driver reads it from memory: every band of every tile
// placed by its own georeferencing on the first's grid, bands of the widest of their types. A
// tile GDAL can't read is left out, its cells gaps. Each tile is opened only as it is read, as
// GDALBuildVRT's are, so a folder of thousands holds few files open at once.
std::string mosaicXml(const std::vector<Tile>& tiles, const std::string& shown) {
    const Tile& first = tiles.front();
    const double cellX = first.transform[1];
    const double cellY = first.transform[5];  // negative: rows run south
    double west = first.transform[0];
    double north = first.transform[3];
    double east = west;
    double south = north;
    GDALDataType type = first.type;
    for (const Tile& tile : tiles) {
        west = std::min(west, tile.transform[0]);
        north = std::max(north, tile.transform[3]);
        east = std::max(east, tile.transform[0] + tile.transform[1] * tile.width);
        south = std::min(south, tile.transform[3] + tile.transform[5] * tile.height);
        type = GDALDataTypeUnion(type, tile.type);
    }
    const int width = cellCount((east - west) / cellX, shown);
    const int height = cellCount((south - north) / cellY, shown);
    std::string xml = "<VRTDataset rasterXSize=\"" + std::to_string(width) + "\" rasterYSize=\"" +
                      std::to_string(height) + "\">";
    if (first.crs) {
        char* wkt = nullptr;
        const char* options[] = {"FORMAT=WKT2_2019", nullptr};
        if (OSRExportToWktEx(first.crs.get(), &wkt, options) == OGRERR_NONE && wkt != nullptr) {
            xml += "<SRS>" + xmlText(wkt) + "</SRS>";
        }
        CPLFree(wkt);
    }
    xml += CPLSPrintf("<GeoTransform>%.17g, %.17g, 0, %.17g, 0, %.17g</GeoTransform>", west, cellX,
                      north, cellY);
    const Gaps gaps = gapsOf(tiles);
    for (int band = 1; band <= first.bands; ++band) {
        xml += CPLSPrintf("<VRTRasterBand dataType=\"%s\" band=\"%d\">", GDALGetDataTypeName(type),
                          band);
        if (!gaps.value.empty()) {
            xml += "<NoDataValue>" + gaps.value + "</NoDataValue>";
        }
        for (std::size_t i = 0; i < tiles.size(); ++i) {
            const Tile& tile = tiles[i];
            if (!tile.unreadable.empty()) {
                continue;
            }
            const std::string& masked = gaps.masked[i];
            const char* source = masked.empty() ? "SimpleSource" : "ComplexSource";
            xml += std::string("<") + source + "><SourceFilename relativeToVRT=\"0\">" +
                   xmlText(tile.path) + "</SourceFilename>";
            xml += CPLSPrintf(
                "<SourceBand>%d</SourceBand><SourceProperties RasterXSize=\"%d\" "
                "RasterYSize=\"%d\" DataType=\"%s\" BlockXSize=\"%d\" BlockYSize=\"%d\"/>",
                band, tile.width, tile.height, GDALGetDataTypeName(tile.type), tile.blockWidth,
                tile.blockHeight);
            xml += CPLSPrintf("<SrcRect xOff=\"0\" yOff=\"0\" xSize=\"%d\" ySize=\"%d\"/>",
                              tile.width, tile.height);
            xml += CPLSPrintf(
                "<DstRect xOff=\"%.17g\" yOff=\"%.17g\" xSize=\"%.17g\" ySize=\"%.17g\"/>",
                (tile.transform[0] - west) / cellX, (tile.transform[3] - north) / cellY,
                tile.width * tile.transform[1] / cellX, tile.height * tile.transform[5] / cellY);
            if (!masked.empty()) {
                xml += "<NODATA>" + masked + "</NODATA>";
            }
            xml += std::string("</") + source + ">";
        }
        xml += "</VRTRasterBand>";
    }
    return xml + "</VRTDataset>";
}

}  // namespace

// The tiles of a mosaic, kept to join them again without one that fails to read.
struct MosaicTiles {
    std::vector<Tile> tiles;
    std::string shown;
};

namespace {

Dataset openJoined(const MosaicTiles& joined) {
    if (std::all_of(joined.tiles.begin(), joined.tiles.end(),
                    [](const Tile& tile) { return !tile.unreadable.empty(); })) {
        throw RasterError("cannot read " + joined.shown + ": no tile of it can be read");
    }
    const std::string xml = mosaicXml(joined.tiles, joined.shown);
    const char* vrtOnly[] = {"VRT", nullptr};
    CPLErrorReset();
    Dataset dataset(
        GDALOpenEx(xml.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, vrtOnly, nullptr, nullptr));
    if (!dataset) {
        throw RasterError("cannot join " + joined.shown + ": " + gdalMessage());
    }
    return dataset;
}

// A refusal of path without its "cannot read PATH: " start.
std::string reasonOf(const std::string& refusal, const std::string& path) {
    const std::string start = "cannot read " + printable(path) + ": ";
    return refusal.compare(0, start.size(), start) == 0 ? refusal.substr(start.size()) : refusal;
}

// Why band (from 1) of tile's columns firstX to endX - 1 and rows firstY to endY - 1 can't be
// read, naming the first row of the first block that fails; "" when they can. Read a block's rows
// at a time, or fewer when a block is larger than is held at once.
std::string readProblem(const Tile& tile, int band, int firstX, int firstY, int endX, int endY) {
    constexpr std::size_t kStepBytes = 16 << 20;
    const Dataset dataset = openSource(tile.path);
    GDALRasterBandH read = GDALGetRasterBand(dataset.get(), band);
    const int columns = endX - firstX;
    const int most = std::max(
        1, static_cast<int>(kStepBytes / sizeof(double) / static_cast<std::size_t>(columns)));
    const int step = std::min(std::max(tile.blockHeight, 1), most);
    std::vector<double> rows(static_cast<std::size_t>(columns) * static_cast<std::size_t>(step));
    for (int start = firstY - firstY % step; start < endY; start += step) {
        const int row = std::max(start, firstY);
        const int count = std::min(start + step, endY) - row;
        CPLErrorReset();
        const GdalErrorWatch watch;
        if (GDALRasterIO(read, GF_Read, firstX, row, columns, count, rows.data(), columns, count,
                         GDT_Float64, 0, 0) != CE_None ||
            watch.raised()) {
            return "its cells from row " + std::to_string(row) +
                   " can't be read: " + readFailure(watch);
        }
    }
    return "";
}

[[noreturn]] void refuseFolder(const std::string& shown) {
    throw NoRaster("cannot read " + shown + ": the folder holds no " + world::kTerrainFileName +
                   " and no raster GDAL reads here");
}

// The read rights of a source's files, gathered once each, each folder listed once.
class RightsGatherer {
  public:
    explicit RightsGatherer(std::string shown) : shown_(std::move(shown)) {}

    // realFile (a real path) itself, its sidecars, and for a VRT what it names.
    // Throws what opening it would when it is a VRT that names what is not read.
    void addSource(const std::string& realFile) {
        if (realFile.empty() || !world::regularFileProblem(realFile).empty()) {
            return;  // opening it refuses it, saying why
        }
        if (!add(realFile) || !looksLikeVrt(realFile)) {
            return;
        }
        for (const std::string& file : checkVrtSources(realFile)) {
            add(file);
        }
    }

    ReadRights take() { return std::move(rights_); }

  private:
    // Adds file and its sidecars; false when it was added before.
    bool add(const std::string& file) {
        if (file.empty() || !seen_.insert(file).second) {
            return false;
        }
        rights_.files.push_back(file);
        const std::string folder = world::folderOf(file);
        const std::string name = world::nameOf(file);
        const std::vector<std::string>& names = namesIn(folder);
        const std::size_t dot = name.rfind('.');
        for (const std::string& prefix :
             {name + ".", dot == std::string::npos ? std::string() : name.substr(0, dot + 1)}) {
            if (prefix.empty()) {
                continue;
            }
            for (auto at = std::lower_bound(names.begin(), names.end(), prefix);
                 at != names.end() && at->compare(0, prefix.size(), prefix) == 0; ++at) {
                addSidecar(folder, *at);
            }
        }
        return true;
    }

    // A sidecar is read where it really lies, only when that is inside its folder and not hidden.
    void addSidecar(const std::string& folder, const std::string& name) {
        const std::string within = world::inFolder(folder, "");
        const std::string real = world::realPathOf(world::inFolder(folder, name));
        if (real.compare(0, within.size(), within) != 0 ||
            real.find("/.", within.size() - 1) != std::string::npos ||
            !world::regularFileProblem(real).empty() || !seen_.insert(real).second) {
            return;
        }
        if (looksLikeVrt(real)) {
            // GDAL opens overviews and masks with any driver, VRT among them, its sources
            // unchecked; any other VRT beside the source is a raster of its own, not read here.
            if (std::any_of(std::begin(kOpenedAsRasters), std::end(kOpenedAsRasters),
                            [&](const char* ending) { return endsWith(name, ending); })) {
                throw RasterError("cannot read " + shown_ + ": " + printable(name) +
                                  " beside it is a VRT; a sidecar is never read as one");
            }
            return;
        }
        rights_.files.push_back(real);
    }

    // The names in folder, hidden ones left out, sorted; the folder kept for listing.
    const std::vector<std::string>& namesIn(const std::string& folder) {
        const auto known = listed_.find(folder);
        if (known != listed_.end()) {
            return known->second;
        }
        rights_.folders.push_back(folder);
        std::vector<std::string>& names = listed_[folder];
        std::unique_ptr<DIR, int (*)(DIR*)> listing(opendir(folder.c_str()), closedir);
        while (const dirent* entry = listing ? readdir(listing.get()) : nullptr) {
            if (entry->d_name[0] != '.') {
                names.emplace_back(entry->d_name);
            }
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string shown_;
    ReadRights rights_;
    std::set<std::string> seen_;
    std::unordered_map<std::string, std::vector<std::string>> listed_;
};

}  // namespace

ReadRights readRightsOf(const SourceNames& names) {
    RightsGatherer gatherer(names.shown);
    for (const std::string& path : names.files) {
        try {
            gatherer.addSource(world::realPathOf(fileOfSource(path)));
        } catch (const RasterError&) {
            if (!names.listed) {
                throw;
            }
            // A folder's VRT the policy refuses is passed over when the tiles are joined, and
            // said so there; nothing it names is read.
        }
    }
    return gatherer.take();
}

std::string shownName(const std::vector<std::string>& paths) {
    if (paths.size() == 1) {
        return printable(withoutTrailingSlashes(paths.front()));
    }
    return printable(paths.empty() ? "" : paths.front()) + " + " +
           std::to_string(paths.size() - 1) + " more";
}

SourceNames nameSources(const std::vector<std::string>& paths) {
    SourceNames names;
    names.shown = shownName(paths);
    if (paths.size() == 1 && isFolder(paths.front())) {
        names.mosaic = true;
        names.listed = true;
        names.files = listFolder(withoutTrailingSlashes(paths.front()), names.shown);
        if (names.files.empty()) {
            refuseFolder(names.shown);
        }
        return names;
    }
    names.mosaic = paths.size() > 1;
    if (!names.mosaic) {
        names.files = paths;  // a link named alone is followed, by the user's own choice
        return names;
    }
    // Tiles named together, as a shell's pattern names them, follow the folder's rule: a link
    // leading out of the folder it lies in is passed over, and said so.
    for (const std::string& path : paths) {
        const std::string file = fileOfSource(path);
        struct stat status {};
        const std::string within = world::inFolder(world::realPathOf(world::folderOf(file)), "");
        if (lstat(file.c_str(), &status) == 0 && S_ISLNK(status.st_mode) &&
            world::realPathOf(file).compare(0, within.size(), within) != 0) {
            std::cerr << "note: passed over " << printable(path)
                      << ": a link leading out of its folder" << std::endl;
            continue;
        }
        names.files.push_back(path);
    }
    if (names.files.empty()) {
        throw NoRaster("cannot read " + names.shown +
                       ": every tile is a link leading out of its folder");
    }
    return names;
}

std::vector<std::string> foldersOf(const SourceNames& names) {
    if (names.listed) {
        return {world::realPathOf(world::folderOf(names.files.front()))};
    }
    std::vector<std::string> folders;
    for (const std::string& path : names.files) {
        // Beneath the folder the source really lies in: a link to it is followed once, by the
        // user's own choice, and nothing beside it is reached through another link.
        const std::string file = world::realPathOf(fileOfSource(path));
        const std::string folder = world::folderOf(file.empty() ? fileOfSource(path) : file);
        if (std::find(folders.begin(), folders.end(), folder) == folders.end()) {
            folders.push_back(folder);
        }
    }
    return folders;
}

void tell(const NoteSink& note, const std::string& line) {
    if (note) {
        note(line);
    } else {
        std::cerr << "note: " << line << std::endl;
    }
}

Mosaic joinTiles(const SourceNames& names, const NoteSink& note, GDALProgressFunc progress,
                 void* progressData) {
    const auto advance = [&](double share) {
        if (progress != nullptr) {
            progress(share, "", progressData);
        }
    };
    std::vector<Tile> tiles;
    std::vector<std::string> passedOver;  // told once a tile is found: else the refusal says all
    std::size_t checked = 0;
    for (const std::string& path : names.files) {
        try {
            tiles.push_back(readTile(path));
        } catch (const RasterError& error) {
            if (!names.listed) {
                throw;
            }
            passedOver.push_back("passed over " + printable(path) + ": " +
                                 reasonOf(error.what(), path));
        }
        advance(static_cast<double>(++checked) / static_cast<double>(names.files.size()));
    }
    if (tiles.empty()) {
        refuseFolder(names.shown);
    }
    for (const std::string& line : passedOver) {
        tell(note, line);
    }
    Mosaic mosaic;
    if (tiles.size() == 1) {
        // A folder's lone raster is read as itself, placed or not.
        if (!tiles.front().unreadable.empty()) {
            throw RasterError("cannot read " + printable(tiles.front().path) + ": " +
                              tiles.front().unreadable);
        }
        mosaic.dataset = openSource(tiles.front().path);
        return mosaic;
    }
    // The first tile is held to being placed and north-up, each later one to matching it.
    for (const Tile& tile : tiles) {
        if (const std::string why = mismatch(tile, tiles.front()); !why.empty()) {
            throw RasterError("cannot join " + names.shown + ": " + printable(tile.path) + ": " +
                              why);
        }
    }
    for (const Tile& tile : tiles) {
        if (!tile.unreadable.empty()) {
            tell(note, printable(tile.path) + " is drawn as no data: " + tile.unreadable);
        }
    }
    mosaic.kind = kindText(tiles);
    mosaic.eightBit = tiles.front().type == GDT_Byte;
    mosaic.tiles = std::make_shared<MosaicTiles>(MosaicTiles{std::move(tiles), names.shown});
    mosaic.dataset = openJoined(*mosaic.tiles);
    return mosaic;
}

std::string dropUnreadableTile(Mosaic& mosaic, int band, int x, int y, int width, int height) {
    if (!mosaic.tiles) {
        return "";
    }
    double joined[6] = {};
    GDALGetGeoTransform(mosaic.dataset.get(), joined);
    for (Tile& tile : mosaic.tiles->tiles) {
        if (!tile.unreadable.empty()) {
            continue;
        }
        // The tile's cells under the window, the tile sharing the mosaic's cell size.
        const double left = (tile.transform[0] - joined[0]) / joined[1];
        const double top = (tile.transform[3] - joined[3]) / joined[5];
        const int firstX = std::max(0, static_cast<int>(std::floor(x - left)));
        const int firstY = std::max(0, static_cast<int>(std::floor(y - top)));
        const int endX = std::min(tile.width, static_cast<int>(std::ceil(x + width - left)));
        const int endY = std::min(tile.height, static_cast<int>(std::ceil(y + height - top)));
        if (firstX >= endX || firstY >= endY) {
            continue;
        }
        const std::string why = readProblem(tile, band, firstX, firstY, endX, endY);
        if (why.empty()) {
            continue;
        }
        tile.unreadable = why;
        mosaic.dataset = openJoined(*mosaic.tiles);
        return printable(tile.path) + " is drawn as no data: " + why;
    }
    return "";
}

}  // namespace raster
