#include "gdal_raster.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <gdal_alg.h>
#include <gdal_utils.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "raster_error.h"

namespace raster {

namespace {

struct OptionsDeleter {
    void operator()(GDALDEMProcessingOptions* options) const {
        GDALDEMProcessingOptionsFree(options);
    }
};

}  // namespace

bool readResampled(GDALRasterBandH band, const SourceWindow& window, int columns, int rows,
                   double* out, std::ptrdiff_t lineStride, GDALProgressFunc progress,
                   void* progressData) {
    return readResampled(band, window, columns, rows, out, GDT_Float64, lineStride, progress,
                         progressData);
}

bool readResampled(GDALRasterBandH band, const SourceWindow& window, int columns, int rows,
                   float* out, std::ptrdiff_t lineStride, GDALProgressFunc progress,
                   void* progressData) {
    return readResampled(band, window, columns, rows, out, GDT_Float32, lineStride, progress,
                         progressData);
}

namespace {

// The overview of band that a shrinking read of window to columns x rows samples reads from: the
// coarsest whose pixels are no larger than the samples, window scaled onto it; band itself when
// none is. GDAL would choose the same, but a VRT band (every source is read through one) averages
// its full resolution instead.
GDALRasterBandH overviewFor(GDALRasterBandH band, SourceWindow& window, int columns, int rows) {
    const double width = GDALGetRasterBandXSize(band), height = GDALGetRasterBandYSize(band);
    const double factor = std::min(window.width / columns, window.height / rows);
    GDALRasterBandH best = band;
    double bestFactor = 1.0;
    for (int i = 0; i < GDALGetOverviewCount(band); ++i) {
        GDALRasterBandH overview = GDALGetOverview(band, i);
        if (overview == nullptr || GDALGetRasterBandXSize(overview) < 1) {
            continue;
        }
        const double overviewFactor = width / GDALGetRasterBandXSize(overview);
        if (overviewFactor > bestFactor && overviewFactor <= factor * (1.0 + 1e-6)) {
            best = overview;
            bestFactor = overviewFactor;
        }
    }
    if (best != band) {
        const double east = GDALGetRasterBandXSize(best) / width;
        const double south = GDALGetRasterBandYSize(best) / height;
        window = {window.x * east, window.y * south, window.width * east, window.height * south};
    }
    return best;
}

}  // namespace

bool readResampled(GDALRasterBandH band, const SourceWindow& asked, int columns, int rows,
                   void* out, GDALDataType type, std::ptrdiff_t lineStride,
                   GDALProgressFunc progress, void* progressData) {
    SourceWindow window = asked;
    if (columns < window.width && rows < window.height) {
        band = overviewFor(band, window, columns, rows);
    }
    const int size = GDALGetDataTypeSizeBytes(type);
    GDALRasterIOExtraArg extra;
    INIT_RASTERIO_EXTRA_ARG(extra);
    extra.pfnProgress = progress;
    extra.pProgressData = progressData;
    const bool shrinking = columns <= window.width && rows <= window.height;
    extra.eResampleAlg = shrinking ? GRIORA_Average : GRIORA_Bilinear;
    extra.bFloatingPointWindowValidity = TRUE;
    extra.dfXOff = window.x;
    extra.dfYOff = window.y;
    extra.dfXSize = window.width;
    extra.dfYSize = window.height;
    // The whole pixels the window touches, kept inside the raster against rounding.
    const int left = std::max(0, static_cast<int>(std::floor(window.x + 1e-9)));
    const int top = std::max(0, static_cast<int>(std::floor(window.y + 1e-9)));
    const int right = std::min(GDALGetRasterBandXSize(band),
                               static_cast<int>(std::ceil(window.x + window.width - 1e-9)));
    const int bottom = std::min(GDALGetRasterBandYSize(band),
                                static_cast<int>(std::ceil(window.y + window.height - 1e-9)));
    return GDALRasterIOEx(band, GF_Read, left, top, right - left, bottom - top, out, columns, rows,
                          type, size, static_cast<GSpacing>(lineStride) * size, &extra) == CE_None;
}

Dataset rasterOver(std::vector<double>& values, int width, int height,
                   const GeoTransform& placement) {
    if (values.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height)) {
        throw std::logic_error("raster values do not match the raster size");
    }
    Dataset raster(
        GDALCreate(GDALGetDriverByName("MEM"), "", width, height, 0, GDT_Float64, nullptr));
    char address[64] = {};
    CPLPrintPointer(address, values.data(), sizeof(address) - 1);
    const std::string pointer = std::string("DATAPOINTER=") + address;
    const char* bandOptions[] = {pointer.c_str(), nullptr};
    GeoTransform transform = placement;
    if (!raster ||
        GDALAddBand(raster.get(), GDT_Float64, const_cast<char**>(bandOptions)) != CE_None ||
        GDALSetGeoTransform(raster.get(), transform.data()) != CE_None ||
        GDALSetRasterNoDataValue(GDALGetRasterBand(raster.get(), 1),
                                 std::numeric_limits<double>::quiet_NaN()) != CE_None) {
        throw RasterError("cannot make a raster in memory: " + gdalMessage());
    }
    return raster;
}

std::string readFailure(const GdalErrorWatch& watch) {
    std::string message = watch.raised() ? watch.message() : gdalMessage();
    const std::string unknown = " at scanline 4294967295";
    for (std::size_t at = message.find(unknown); at != std::string::npos;
         at = message.find(unknown, at)) {
        message.erase(at, unknown.size());
    }
    return message;
}

std::size_t fillGaps(std::vector<double>& values, int width, int height) {
    const auto gaps = static_cast<std::size_t>(
        std::count_if(values.begin(), values.end(), [](double v) { return std::isnan(v); }));
    if (gaps == 0) {
        return 0;
    }
    const Dataset raster = rasterOver(values, width, height, {0, 1, 0, 0, 0, 1});
    // A search as far as the raster reaches, so that no gap, however wide, stays open; two
    // smoothing passes over what was filled soften the creases inverse-distance weighting leaves.
    const double reach = static_cast<double>(width) + height;
    constexpr int kSmoothingPasses = 2;
    const char* options[] = {"TEMP_FILE_DRIVER=MEM", nullptr};
    if (GDALFillNodata(GDALGetRasterBand(raster.get(), 1), nullptr, reach, 0, kSmoothingPasses,
                       const_cast<char**>(options), nullptr, nullptr) != CE_None) {
        throw RasterError("cannot fill the missing heights: " + gdalMessage());
    }
    return gaps;
}

Dataset demProcessing(GDALDatasetH source, const std::string& processing,
                      const std::vector<std::string>& options, const std::string& colourFile) {
    std::vector<std::string> words = {"-of", "MEM"};
    words.insert(words.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    const std::unique_ptr<GDALDEMProcessingOptions, OptionsDeleter> parsed(
        GDALDEMProcessingOptionsNew(argv.data(), nullptr));
    if (!parsed) {
        throw std::logic_error("gdaldem options refused: " + gdalMessage());
    }
    int usageError = 0;
    Dataset result(GDALDEMProcessing("", source, processing.c_str(),
                                     colourFile.empty() ? nullptr : colourFile.c_str(),
                                     parsed.get(), &usageError));
    if (!result) {
        throw RasterError("cannot make the " + processing + " texture: " + gdalMessage());
    }
    return result;
}

std::vector<std::uint8_t> readBytes(GDALDatasetH raster, int count) {
    const int width = GDALGetRasterXSize(raster);
    const int height = GDALGetRasterYSize(raster);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(width) * height * count);
    if (GDALDatasetRasterIO(raster, GF_Read, 0, 0, width, height, bytes.data(), width, height,
                            GDT_Byte, count, nullptr, count,
                            static_cast<int>(static_cast<std::size_t>(width) * count),
                            1) != CE_None) {
        throw RasterError("cannot read the texture back: " + gdalMessage());
    }
    return bytes;
}

}  // namespace raster
