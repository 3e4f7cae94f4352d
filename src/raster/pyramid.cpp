#include "pyramid.h"

#include <cpl_conv.h>
#include <fcntl.h>
#include <gdal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <limits>
#include <memory>

#include "gdal_errors.h"
#include "gdal_raster.h"
#include "printable.h"
#include "raster_error.h"
#include "raster_open.h"
#include "world.h"

namespace raster {

namespace {

// The file is written in square tiles of this many samples, which the viewer's 64-sample chunks
// read whole at every level.
constexpr int kTileSide = 256;
// At least this many strips, so that progress moves by 1 % or less; at most this many level-1
// rows a strip.
constexpr int kMinStrips = 100;
constexpr int kMaxStripRows = 256;
// The overviews of a source of whole heights hold multiples of this many height units: exact
// means would gain two binary digits a level, which compress poorly, for a precision that no
// distant view shows.
constexpr double kWholeHeightsQuantum = 0.25;
// ZSTD's level for the overviews, as for level 1 (ZSTD_LEVEL in buildPyramid): slower levels
// save about 1 % of the file for a third more time.
constexpr const char* kOverviewZstdLevel = "2";
// Level 1 (and level 2 beside it) is most of the work: reading and halving the whole source.
constexpr double kLevelOneShare = 0.9;
// GDAL's block cache here, unless GDAL_CACHEMAX says otherwise: two rows of the widest level's
// tiles stay dirty while the next strip is read, and the overviews read level 1 back.
constexpr long long kMinGdalCacheBytes = 256LL << 20;

std::string errnoText(int error) {
    return std::strerror(error);
}

// Makes folder and, when missing, its parent ($XDG_CACHE_HOME or ~/.cache), readable by the
// owner alone as a cache should be; folders already there are left as they are. Nothing above is
// ever made: a home or cache root that is not there is refused.
void makeFolders(const std::string& folder) {
    const std::string parent = world::folderOf(folder);
    const std::string root = world::folderOf(parent);
    struct stat status {};
    if (stat(root.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        throw CacheUnwritable("cannot make the folder " + printable(folder) + ": " +
                              printable(root) + " is no folder; groundview makes none above " +
                              printable(parent));
    }
    for (const std::string& part : {parent, folder}) {
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            throw CacheUnwritable("cannot make the folder " + printable(part) + ": " +
                                  errnoText(errno));
        }
    }
}

// The pyramid while it is written: a file without a name in out's folder, linked into place once
// complete, so that nothing of it is left when the process ends early in any way. File systems
// without unnamed files get a hidden temporary instead, removed when the build fails.
class UnnamedFile {
  public:
    explicit UnnamedFile(const std::string& out) : out_(out) {
        const std::string folder = world::folderOf(out);
        descriptor_ = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (descriptor_ >= 0) {
            path_ = "/proc/self/fd/" + std::to_string(descriptor_);
            return;
        }
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            throw CacheUnwritable("cannot write " + printable(out) + ": " + errnoText(errno));
        }
        temporary_ = world::inFolder(folder, ".pyramid-XXXXXX");
        descriptor_ = mkstemp(temporary_.data());
        if (descriptor_ < 0) {
            temporary_.clear();
            throw CacheUnwritable("cannot write " + printable(out) + ": " + errnoText(errno));
        }
        path_ = temporary_;
    }
    ~UnnamedFile() {
        if (!temporary_.empty()) {
            unlink(temporary_.c_str());
        }
        close(descriptor_);
    }
    UnnamedFile(const UnnamedFile&) = delete;
    UnnamedFile& operator=(const UnnamedFile&) = delete;

    // The name GDAL writes through.
    const std::string& path() const { return path_; }

    // Has what is written so far go to disk in the background, so that it overlaps the rest of
    // the build rather than being waited for at the end; keep() still makes sure of it.
    void startWriting() const { sync_file_range(descriptor_, 0, 0, SYNC_FILE_RANGE_WRITE); }

    // On disk first, so that a crash never leaves a named pyramid with missing tiles; a pyramid
    // already there (the same source's, built meanwhile) is replaced.
    void keep() {
        if (fsync(descriptor_) != 0) {
            fail(errno);
        }
        if (!temporary_.empty()) {
            if (rename(temporary_.c_str(), out_.c_str()) != 0) {
                fail(errno);
            }
            temporary_.clear();
            return;
        }
        for (int attempt = 0;; ++attempt) {
            if (linkat(AT_FDCWD, path_.c_str(), AT_FDCWD, out_.c_str(), AT_SYMLINK_FOLLOW) == 0) {
                return;
            }
            if (errno != EEXIST || attempt > 0 || unlink(out_.c_str()) != 0) {
                fail(errno);
            }
        }
    }

  private:
    [[noreturn]] void fail(int error) const {
        throw CacheUnwritable("cannot write " + printable(out_) + ": " + errnoText(error));
    }

    std::string out_;
    std::string path_;
    std::string temporary_;
    int descriptor_ = -1;
};

// in's rows (width samples each) halved into out: (width + 1) / 2 x (rows + 1) / 2 means of 2 x 2
// boxes (aligned on the north-west corner, clipped at an odd last column or row), rounded to a
// multiple of quantum when that is not 0, NaN where a box has no height.
void halveRows(const float* in, int width, int rows, float* out, double quantum) {
    const int columns = (width + 1) / 2;
    for (int row = 0; row < (rows + 1) / 2; ++row) {
        const int down = std::min(2, rows - 2 * row);
        for (int column = 0; column < columns; ++column) {
            const int across = std::min(2, width - 2 * column);
            double sum = 0;
            int heights = 0;
            for (int y = 0; y < down; ++y) {
                for (int x = 0; x < across; ++x) {
                    const float value = in[static_cast<std::size_t>(2 * row + y) * width +
                                           static_cast<std::size_t>(2 * column + x)];
                    if (!std::isnan(value)) {
                        sum += value;
                        ++heights;
                    }
                }
            }
            const double mean = sum / heights;
            out[static_cast<std::size_t>(row) * columns + static_cast<std::size_t>(column)] =
                heights == 0  ? std::numeric_limits<float>::quiet_NaN()
                : quantum > 0 ? static_cast<float>(std::round(mean / quantum) * quantum)
                              : static_cast<float>(mean);
        }
    }
}

// Writes rows of level 1 from a thread of its own while the next strip is read; the first
// problem GDAL raises, or "". values come from the reader and are taken as any file's would be:
// anything not finite is missing.
// whole is cleared once a sample is not the mean of 1 to 4 whole numbers (a multiple of 1/12, to
// the float's precision).
// With next, the rows also go halved (firstRow even) into next, rounded to quantum, through
// scratch.
std::string writeRows(GDALRasterBandH band, int firstRow, int columns, int rows, float* values,
                      const UnnamedFile* file, bool* whole, GDALRasterBandH next, double quantum,
                      std::vector<float>* scratch) {
    // A float is not finite when its exponent's bits are all set: tested on the bits, this scan
    // of every sample of level 1 takes a fraction of the time a float comparison does.
    constexpr std::uint32_t kExponent = 0x7f800000U;
    constexpr double kFloatPrecision = 1.0 / (1 << 22);  // relative, with a margin
    const std::ptrdiff_t count = static_cast<std::ptrdiff_t>(columns) * rows;
    for (std::ptrdiff_t i = 0; i < count; ++i) {
        std::uint32_t bits = 0;
        std::memcpy(&bits, values + i, sizeof bits);
        if ((bits & kExponent) == kExponent) {
            values[i] = std::numeric_limits<float>::quiet_NaN();
        } else if (*whole) {
            const double twelfths = 12.0 * values[i];
            *whole =
                std::abs(twelfths - std::round(twelfths)) <= std::abs(twelfths) * kFloatPrecision;
        }
    }
    const GdalErrorWatch watch;
    CPLErr written = GDALRasterIO(band, GF_Write, 0, firstRow, columns, rows, values, columns, rows,
                                  GDT_Float32, 0, 0);
    if (next != nullptr && written == CE_None && !watch.raised()) {
        const int nextColumns = (columns + 1) / 2;
        const int nextRows = (rows + 1) / 2;
        scratch->resize(static_cast<std::size_t>(nextColumns) * nextRows);
        halveRows(values, columns, rows, scratch->data(), quantum);
        written = GDALRasterIO(next, GF_Write, 0, firstRow / 2, nextColumns, nextRows,
                               scratch->data(), nextColumns, nextRows, GDT_Float32, 0, 0);
    }
    if (watch.raised()) {
        return watch.message();
    }
    file->startWriting();
    return written == CE_None ? "" : gdalMessage();
}

// A source of this kind ("GTiff, Int16") holds whole numbers, before any scale.
bool wholeType(const std::string& kind) {
    const std::string type = kind.substr(kind.rfind(' ') + 1);
    return type == "Byte" || type == "Int8" || type == "Int16" || type == "UInt16" ||
           type == "Int32" || type == "UInt32" || type == "Int64" || type == "UInt64";
}

// Rows a strip of a level of rows rows, so that progress moves by 1 % or less.
int stripRowsFor(int rows) {
    return std::clamp((rows + kMinStrips - 1) / kMinStrips, 1, kMaxStripRows);
}

// Writes overview to as from's rows halved (halveRows), a strip at a time, telling done the rows
// written so far; the first problem GDAL raises, or "".
std::string halveLevel(GDALRasterBandH from, GDALRasterBandH to, double quantum,
                       const std::function<void(int rows)>& done) {
    const int width = GDALGetRasterBandXSize(from);
    const int height = GDALGetRasterBandYSize(from);
    const int columns = GDALGetRasterBandXSize(to);
    const int rows = GDALGetRasterBandYSize(to);
    if (columns != (width + 1) / 2 || rows != (height + 1) / 2) {
        return "an overview of " + std::to_string(columns) + " x " + std::to_string(rows) +
               " samples, not the half of " + std::to_string(width) + " x " +
               std::to_string(height);
    }
    const GdalErrorWatch watch;
    const int stripRows = stripRowsFor(rows);
    std::vector<float> in(static_cast<std::size_t>(width) * 2 * stripRows);
    std::vector<float> out(static_cast<std::size_t>(columns) * stripRows);
    for (int first = 0; first < rows; first += stripRows) {
        const int count = std::min(stripRows, rows - first);
        const int inRows = std::min(2 * count, height - 2 * first);
        if (GDALRasterIO(from, GF_Read, 0, 2 * first, width, inRows, in.data(), width, inRows,
                         GDT_Float32, 0, 0) != CE_None ||
            watch.raised()) {
            return watch.raised() ? watch.message() : gdalMessage();
        }
        halveRows(in.data(), width, inRows, out.data(), quantum);
        if (GDALRasterIO(to, GF_Write, 0, first, columns, count, out.data(), columns, count,
                         GDT_Float32, 0, 0) != CE_None ||
            watch.raised()) {
            return watch.raised() ? watch.message() : gdalMessage();
        }
        done(first + count);
    }
    return "";
}

// The overview factors, relative to level 1, down to the first whose smallest side is
// kPyramidSmallestSide or fewer.
std::vector<int> overviewFactors(int columns, int rows) {
    const int side = std::min(columns, rows);
    std::vector<int> factors;
    for (int factor = 1; (side + factor - 1) / factor > kPyramidSmallestSide;) {
        factor *= 2;
        factors.push_back(factor);
    }
    return factors;
}

}  // namespace

void buildPyramid(const ElevationSource& source, const std::string& out,
                  const std::function<void(double share)>& progress) {
    const SourceFacts& facts = source.facts();
    const int width = facts.width;
    const int height = facts.height;
    const int columns = (width + 1) / 2;
    const int rows = (height + 1) / 2;
    std::array<double, 6> transform = facts.transform;
    for (const int cell : {1, 2, 4, 5}) {
        transform[static_cast<std::size_t>(cell)] *= 2.0;
    }
    if (!std::all_of(transform.begin(), transform.end(),
                     [](double value) { return std::isfinite(value); })) {
        throw RasterError("cannot build the pyramid of " + source.shown() +
                          ": its placement is out of range");
    }

    useGdal();
    GDALDriverH driver = GDALGetDriverByName("GTiff");
    if (CPLGetConfigOption("GDAL_CACHEMAX", nullptr) == nullptr &&
        GDALGetCacheMax64() < kMinGdalCacheBytes) {
        GDALSetCacheMax64(kMinGdalCacheBytes);
    }
    makeFolders(world::folderOf(out));
    UnnamedFile file(out);
    const std::string tile = std::to_string(kTileSide);
    const std::string blockX = "BLOCKXSIZE=" + tile;
    const std::string blockY = "BLOCKYSIZE=" + tile;
    // ZSTD at level 2 with the floating-point predictor: smaller than DEFLATE for heights,
    // and fast enough not to slow the build. Compressed in the writing thread: GDAL's own
    // compression threads, fed from that thread, stall the build of a large source. Tiles without
    // any height are left out (SPARSE_OK), so that void ground costs nothing on disk. Appending to
    // the empty unnamed file spares it GDAL's clean-up of an older file of its name, which probes
    // that name with every driver: one of them opens /proc/self/fd/1 beside it and blocks reading
    // whatever pipe standard output is.
    const char* options[] = {
        "TILED=YES",    blockX.c_str(), blockY.c_str(),   "BIGTIFF=YES",           "COMPRESS=ZSTD",
        "ZSTD_LEVEL=2", "PREDICTOR=3",  "SPARSE_OK=TRUE", "APPEND_SUBDATASET=YES", nullptr};
    const auto failed = [&out](const std::string& why) {
        return CacheUnwritable("cannot write " + printable(out) + ": " + why);
    };
    const GdalErrorWatch watch;
    // GDAL would measure the free space of /proc, where the unnamed file's name is; a full disk
    // still fails the writes.
    CPLSetThreadLocalConfigOption("CHECK_DISK_FREE_SPACE", "FALSE");
    Dataset dataset(GDALCreate(driver, file.path().c_str(), columns, rows, 1, GDT_Float32,
                               const_cast<char**>(options)));
    CPLSetThreadLocalConfigOption("CHECK_DISK_FREE_SPACE", nullptr);
    if (!dataset) {
        throw failed(watch.raised() ? watch.message() : gdalMessage());
    }
    GDALRasterBandH band = GDALGetRasterBand(dataset.get(), 1);
    GDALSetRasterNoDataValue(band, std::numeric_limits<double>::quiet_NaN());
    if (facts.ground.inMetres) {
        GDALSetRasterUnitType(band, facts.heightUnit.c_str());
    }
    if (facts.placed) {
        GDALSetGeoTransform(dataset.get(), transform.data());
    }
    if (!facts.crsWkt.empty()) {
        GDALSetProjection(dataset.get(), facts.crsWkt.c_str());
    }
    if (watch.raised()) {
        throw failed(watch.message());
    }

    std::vector<int> factors = overviewFactors(columns, rows);
    if (!factors.empty()) {
        // The levels are made empty, then each halved from the one above, the second as level 1
        // is written: GDAL's own averaging weighs boxes that straddle pixels when a side is odd,
        // so that a sample would no longer be the mean of its 2 x 2 box.
        CPLSetThreadLocalConfigOption("ZSTD_LEVEL_OVERVIEW", kOverviewZstdLevel);
        const CPLErr made =
            GDALBuildOverviews(dataset.get(), "NONE", static_cast<int>(factors.size()),
                               factors.data(), 0, nullptr, nullptr, nullptr);
        CPLSetThreadLocalConfigOption("ZSTD_LEVEL_OVERVIEW", nullptr);
        if (made != CE_None || watch.raised() ||
            GDALGetOverviewCount(band) != static_cast<int>(factors.size())) {
            throw failed(watch.raised() ? watch.message() : gdalMessage());
        }
    }
    GDALRasterBandH second = factors.empty() ? nullptr : GDALGetOverview(band, 0);
    // A source of whole numbers has its overviews rounded to quarters, level 2 as level 1 is
    // written; one whose scale makes its heights fractions has level 2 made again below.
    const double secondQuantum = wholeType(facts.kind) ? kWholeHeightsQuantum : 0.0;
    std::vector<float> scratch;

    // Even, so that each strip halves into whole rows of level 2.
    const int stripRows = stripRowsFor(rows) + stripRowsFor(rows) % 2;
    // Two strips of level 1: one being written while the next is read into the other.
    std::vector<float> strips[2];
    bool wholeHeights = true;  // level 1 holds the means of whole heights alone
    std::future<std::string> writing;
    const auto finishWriting = [&writing, &failed] {
        if (writing.valid()) {
            if (const std::string problem = writing.get(); !problem.empty()) {
                throw failed(problem);
            }
        }
    };
    for (int first = 0, strip = 0; first < rows; first += stripRows, ++strip) {
        const int count = std::min(stripRows, rows - first);
        const int sourceFirst = 2 * first;
        const int sourceRows = std::min(2 * count, height - sourceFirst);
        std::vector<float>& halved = strips[strip % 2];
        halved.resize(static_cast<std::size_t>(columns) * static_cast<std::size_t>(count));
        {
            // Copied out at once, so that the reader can go on while the strip is written.
            const SharedSamples samples = source.readHalved(sourceFirst, sourceRows);
            std::copy(samples.data(), samples.data() + halved.size(), halved.begin());
        }
        finishWriting();
        writing = std::async(std::launch::async, writeRows, band, first, columns, count,
                             halved.data(), &file, &wholeHeights, second, secondQuantum, &scratch);
        if (progress) {
            progress(kLevelOneShare * (first + count) / rows);
        }
    }
    finishWriting();

    if (!factors.empty()) {
        // Each level has a quarter of the samples of the one above: shares of the rest in
        // proportion.
        const bool remake = secondQuantum > 0 && !wholeHeights;
        double from = kLevelOneShare;
        double span = (1.0 - kLevelOneShare) * 3 / 4;
        GDALRasterBandH above = remake ? band : second;
        for (int level = remake ? 0 : 1; level < static_cast<int>(factors.size()); ++level) {
            GDALRasterBandH overview = GDALGetOverview(band, level);
            const int levelRows = GDALGetRasterBandYSize(overview);
            const std::string problem = halveLevel(
                above, overview, secondQuantum > 0 && wholeHeights ? kWholeHeightsQuantum : 0.0,
                [&progress, from, span, levelRows](int done) {
                    if (progress) {
                        progress(from + span * done / levelRows);
                    }
                });
            if (!problem.empty()) {
                throw failed(problem);
            }
            above = overview;
            from += span;
            span /= 4;
        }
    }
    dataset.reset();  // flushes the last tiles
    if (watch.raised()) {
        throw failed(watch.message());
    }
    // Told before the file is named, so that a throw from it still leaves nothing behind.
    if (progress) {
        progress(1.0);
    }
    file.keep();
}

}  // namespace raster
