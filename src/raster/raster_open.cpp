#include "raster_open.h"

#include <cpl_conv.h>
#include <cpl_string.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>

#include "crs_policy.h"
#include "gdal_errors.h"
#include "local_file.h"
#include "printable.h"
#include "raster_error.h"
#include "vrt_sources.h"
#include "world.h"

namespace raster {

namespace {

// GDAL's default cache is a share of the machine's memory; a source read once from top to bottom
// gains nothing from more than this, and a huge source would otherwise fill it.
constexpr GIntBig kBlockCacheBytes = 64 << 20;

// Configuration that keeps GDAL local, runs no code but its own and leaves the user's folders as
// they were, set over anything the environment or GDAL's configuration files say. What a user may
// still usefully set: GDAL_CACHEMAX (the block cache, 64 MB here otherwise), GDAL_NUM_THREADS
// (GeoTIFF decoding threads), GDAL_MAX_DATASET_POOL_SIZE (files a VRT mosaic keeps open). GDAL's
// and PROJ's data folders are the system's (crs_policy.h).
constexpr const char* kConfiguration[][2] = {
    // Whatever still tries the network gives up at once.
    {"GDAL_HTTP_TIMEOUT", "1"},
    {"GDAL_HTTP_CONNECTTIMEOUT", "1"},
    {"GDAL_HTTP_MAX_RETRY", "0"},
    {"CPL_VSIL_CURL_ALLOWED_EXTENSIONS", ".groundview-reads-no-url/"},
    // No .aux.xml written beside the user's data, nor read from there.
    {"GDAL_PAM_ENABLED", "NO"},
    // A folder of a million files is not listed on open. (EMPTY_DIR would hide the .hdr files
    // ENVI and EHdr rasters need; TRUE still finds them by name.)
    {"GDAL_DISABLE_READDIR_ON_OPEN", "TRUE"},
    // A damaged JPEG is an error, not a warning with whatever was decoded.
    {"GDAL_ERROR_ON_LIBJPEG_WARNING", "TRUE"},
    // A VRT's Python pixel functions would run code from the file.
    {"GDAL_VRT_ENABLE_PYTHON", "NO"},
    // No driver loaded from a plugin library, nor from a Python script: an empty list of folders
    // (GDAL would take "disable" here as a folder name).
    {"GDAL_DRIVER_PATH", "disable"},
    {"GDAL_PYTHON_DRIVER_PATH", ""},
};

void configure() {
    for (const auto& [key, value] : kConfiguration) {
        CPLSetConfigOption(key, value);
    }
}

// GDAL_NUM_THREADS, from the environment or a configuration file, at most the machine's cores:
// GDAL would start as many threads as it names, and the reader's memory limit would see a
// hundred thousand of them stall it. ALL_CPUS and anything not a whole number are left to GDAL.
void capThreads() {
    const char* text = CPLGetConfigOption("GDAL_NUM_THREADS", nullptr);
    if (text == nullptr) {
        return;
    }
    char* end = nullptr;
    errno = 0;
    const long long threads = std::strtoll(text, &end, 10);
    const long long cores = std::max(1U, std::thread::hardware_concurrency());
    if (end != text && *end == '\0' && (errno == ERANGE || threads > cores)) {
        CPLSetConfigOption("GDAL_NUM_THREADS", std::to_string(cores).c_str());
    }
}

// GDAL takes a thread's own settings over those set for all, so each is read back as GDAL reads
// it.
void checkConfiguration() {
    for (const auto& [key, value] : kConfiguration) {
        const char* set = CPLGetConfigOption(key, nullptr);
        if (set == nullptr || std::strcmp(set, value) != 0) {
            throw RasterError(std::string("cannot set GDAL up to read rasters safely: its ") + key +
                              " reads \"" + printable(set == nullptr ? "" : set) +
                              "\", where it must be \"" + value + "\"");
        }
    }
}

// Besides the allowed drivers, GDAL's own work needs these: rasters in memory, and VRT for the
// views (palette expanded, warped north-up) made of an open source.
constexpr const char* kWorkingDrivers[] = {"MEM", "VRT"};

bool listed(const std::vector<std::string>& names, const char* name) {
    for (const std::string& each : names) {
        if (EQUAL(each.c_str(), name)) {
            return true;
        }
    }
    return false;
}

void keepOnlyNeededDrivers() {
    std::vector<std::string> kept = allowedDrivers();
    kept.insert(kept.end(), std::begin(kWorkingDrivers), std::end(kWorkingDrivers));
    for (int i = GDALGetDriverCount() - 1; i >= 0; --i) {
        GDALDriverH driver = GDALGetDriver(i);
        if (!listed(kept, GDALGetDriverShortName(driver))) {
            GDALDeregisterDriver(driver);
            GDALDestroyDriver(driver);
        }
    }
}

std::string driverNames() {
    std::string names;
    for (const std::string& name : allowedDrivers()) {
        names += (names.empty() ? "" : ", ") + name;
    }
    return names;
}

// The file of NETCDF:"file.nc":variable or NETCDF:file.nc:variable, as the netCDF driver reads
// those; nothing when path is neither.
std::optional<std::string> netcdfFile(const std::string& path) {
    constexpr std::size_t kPrefix = 7;
    if (!STARTS_WITH_CI(path.c_str(), "NETCDF:")) {
        return std::nullopt;
    }
    const std::string rest = path.substr(kPrefix);
    const bool quoted = !rest.empty() && rest.front() == '"';
    const std::size_t end = quoted ? rest.find('"', 1) : rest.find(':');
    if (end == std::string::npos) {
        return std::nullopt;
    }
    const std::size_t colon = quoted ? end + 1 : end;
    if (colon + 1 >= rest.size() || rest[colon] != ':') {
        return std::nullopt;
    }
    return quoted ? rest.substr(1, end - 1) : rest.substr(0, end);
}

// A file of several rasters, each opened by a name of its own.
[[noreturn]] void refuseContainer(GDALDatasetH dataset, const std::string& shown) {
    std::string names;
    for (CSLConstList entry = GDALGetMetadata(dataset, "SUBDATASETS");
         entry != nullptr && *entry != nullptr; ++entry) {
        const std::string item = *entry;
        const std::size_t equals = item.find('=');
        if (equals != std::string::npos && equals >= 5 &&
            item.compare(equals - 5, 5, "_NAME") == 0) {
            names += (names.empty() ? "" : ", ") + printable(item.substr(equals + 1));
        }
    }
    throw RasterError("cannot read " + shown +
                      (names.empty() ? ": it holds no raster band"
                                     : ": it holds several rasters; name one: " + names));
}

}  // namespace

const std::vector<std::string>& allowedDrivers() {
    static const std::vector<std::string> names = {"GTiff", "SRTMHGT", "AAIGrid", "USGSDEM", "PNG",
                                                   "JPEG",  "PNM",     "BMP",     "GIF",     "HFA",
                                                   "ENVI",  "EHdr",    "netCDF"};
    return names;
}

void useGdal() {
    static const bool ready = [] {
        CPLSetErrorHandler(CPLQuietErrorHandler);
        // GDAL reads its configuration files ($GDAL_CONFIG_FILE, ~/.gdal/gdalrc, /etc/gdal/gdalrc)
        // when its list of drivers is first made; the configuration is set after that and before
        // GDALAllRegister, which loads plugins.
        GDALGetDriverCount();
        configure();
        capThreads();
        keepProjLocal();
        GDALAllRegister();
        keepOnlyNeededDrivers();
        checkConfiguration();
        if (CPLGetConfigOption("GDAL_CACHEMAX", nullptr) == nullptr) {
            GDALSetCacheMax64(kBlockCacheBytes);
        }
        return true;
    }();
    static_cast<void>(ready);
}

Dataset openSource(const std::string& path) {
    useGdal();
    // A nested VRT's sources are opened with every registered driver, and any GDALAllRegister
    // since would have brought all back.
    keepOnlyNeededDrivers();
    const std::string shown = printable(path);
    const std::optional<std::string> subdatasetFile = netcdfFile(path);
    if (isVirtualPath(path)) {
        throw RasterError("cannot read " + shown +
                          ": GDAL's virtual file systems (/vsi...) are not read; give a plain "
                          "file path");
    }
    if (!subdatasetFile && isConnectionString(path)) {
        throw RasterError("cannot read " + shown +
                          ": connection strings are not read, only plain file paths (and "
                          "NETCDF:\"file.nc\":variable); write ./" +
                          shown + " for a file named so");
    }
    const std::string file = subdatasetFile.value_or(path);
    if (const std::string why = world::regularFileProblem(file); !why.empty()) {
        throw RasterError("cannot read " + printable(file) + ": " + why);
    }
    std::vector<std::string> drivers = allowedDrivers();
    if (subdatasetFile) {
        drivers = {"netCDF"};
    } else if (looksLikeVrt(file)) {
        checkVrtSources(file);
        drivers = {"VRT"};
    }
    std::vector<const char*> driverList;
    for (const std::string& name : drivers) {
        driverList.push_back(name.c_str());
    }
    driverList.push_back(nullptr);

    CPLErrorReset();
    Dataset dataset(GDALOpenEx(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, driverList.data(),
                               nullptr, nullptr));
    if (!dataset) {
        const std::string reason = CPLGetLastErrorMsg();
        throw NotARaster(
            "cannot read " + shown + ": not a raster GDAL reads here (formats: " + driverNames() +
            ", or a VRT of them)" + (reason.empty() ? "" : "; GDAL says: " + gdalMessage()));
    }
    if (GDALGetRasterCount(dataset.get()) < 1) {
        refuseContainer(dataset.get(), shown);
    }
    return dataset;
}

std::string cutShort(GDALDatasetH dataset) {
    if (!EQUAL(GDALGetDriverShortName(GDALGetDatasetDriver(dataset)), "GTiff")) {
        return "";
    }
    VSIStatBufL status{};
    if (VSIStatL(GDALGetDescription(dataset), &status) != 0) {
        return "";
    }
    const auto fileBytes = static_cast<unsigned long long>(status.st_size);
    unsigned long long reach = 0;  // bytes the blocks span, offset plus size, in wide integers
    for (int index = 1; index <= GDALGetRasterCount(dataset); ++index) {
        GDALRasterBandH band = GDALGetRasterBand(dataset, index);
        int blockWidth = 0;
        int blockHeight = 0;
        GDALGetBlockSize(band, &blockWidth, &blockHeight);
        if (blockWidth < 1 || blockHeight < 1) {
            continue;
        }
        const int lastX = (GDALGetRasterBandXSize(band) - 1) / blockWidth;
        const int lastY = (GDALGetRasterBandYSize(band) - 1) / blockHeight;
        const char* offset =
            GDALGetMetadataItem(band, CPLSPrintf("BLOCK_OFFSET_%d_%d", lastX, lastY), "TIFF");
        const char* size =
            GDALGetMetadataItem(band, CPLSPrintf("BLOCK_SIZE_%d_%d", lastX, lastY), "TIFF");
        if (offset != nullptr && size != nullptr) {
            // An offset of 0 is a block left out, read as no data: it reaches nowhere.
            const unsigned long long at = std::strtoull(offset, nullptr, 10);
            const unsigned long long bytes = std::strtoull(size, nullptr, 10);
            reach = std::max(reach, at == 0 ? 0 : at + std::min(bytes, ~0ULL - at));
        }
    }
    if (reach <= fileBytes) {
        return "";
    }
    return "it ends at byte " + std::to_string(fileBytes) + ", before its cells do at byte " +
           std::to_string(reach);
}

std::string fileOfSource(const std::string& path) {
    return netcdfFile(path).value_or(path);
}

}  // namespace raster
