#include "gdal_source.h"

#include <cpl_conv.h>
#include <gdal_utils.h>
#include <gdalwarper.h>
#include <ogr_srs_api.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>
#include <type_traits>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "angles.h"
#include "crs_policy.h"
#include "decimal_text.h"
#include "no_data.h"
#include "printable.h"
#include "raster_error.h"
#include "raster_open.h"

namespace raster {

namespace {

constexpr double kPoleDegrees = 90.0;
constexpr double kGlobeDegrees = 360.0;
// Cells on the ground, in metres: finer or coarser is a broken georeference, not a DEM.
constexpr double kMinCellMetres = 1e-3;
constexpr double kMaxCellMetres = 1e6;
// Projected coordinates beyond this many metres from the origin, 2.5 times the Earth's girth,
// are no place on Earth.
constexpr double kFarthestProjectedMetres = 1e8;
// The smallest unit of length or angle a coordinate system uses is larger than a micrometre.
constexpr double kMinMetresPerUnit = 1e-6;

// A mosaic is read in this many strips of rows at most.
constexpr int kMosaicStrips = 64;

// Bytes of a height unit's name kept: "US survey foot" is 14.
constexpr std::size_t kLongestUnitName = 40;

// A halved read takes this many bytes of source rows at a time, or two rows when they are wider:
// small enough to stay in the processor's cache between reading and halving.
constexpr std::size_t kHalvedStepBytes = 2 << 20;

std::string sizeText(int width, int height) {
    return std::to_string(width) + " x " + std::to_string(height) + " cells";
}

// Metres in one unit of height as a band's unit type or a vertical coordinate system names it
// ("m", "cm", "US survey foot", "kilometre"); 0 for a unit not known here.
double metresPerHeightUnit(const std::string& unit) {
    std::string lower;
    for (const char c : unit) {
        if (c != ' ' && c != '.' && c != '_' && c != '-') {
            lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    if (lower.find("us") != std::string::npos && lower.find('f') != std::string::npos) {
        return 1200.0 / 3937.0;
    }
    if (lower == "ft" || lower.find("foot") != std::string::npos ||
        lower.find("feet") != std::string::npos) {
        return 0.3048;
    }
    if (!lower.empty() && lower.back() == 's' && lower.size() > 2) {
        lower.pop_back();  // "metres", "kms"
    }
    struct Known {
        const char* symbol;
        const char* prefix;
        double metres;
    };
    constexpr Known kKnown[] = {
        {"m", "", 1.0},      {"mm", "milli", 1e-3}, {"cm", "centi", 1e-2},
        {"dm", "deci", 0.1}, {"km", "kilo", 1e3},
    };
    for (const Known& known : kKnown) {
        const std::string prefix = known.prefix;
        if (lower == known.symbol || lower == prefix + "metre" || lower == prefix + "meter") {
            return known.metres;
        }
    }
    return 0.0;
}

// Metres along one unit of latitude and of longitude at a latitude, on the CRS's ellipsoid.
void metresPerAngle(OGRSpatialReferenceH crs, double latitude, double& north, double& east) {
    const double radiansPerUnit = OSRGetAngularUnits(crs, nullptr);
    const double axis = OSRGetSemiMajor(crs, nullptr);
    const double inverseFlattening = OSRGetInvFlattening(crs, nullptr);
    const double flattening = inverseFlattening > 0.0 ? 1.0 / inverseFlattening : 0.0;
    const double eccentricity2 = flattening * (2.0 - flattening);
    const double phi = latitude * radiansPerUnit;
    const double w = std::sqrt(1.0 - eccentricity2 * std::sin(phi) * std::sin(phi));
    north = radiansPerUnit * axis * (1.0 - eccentricity2) / (w * w * w);
    east = radiansPerUnit * axis * std::cos(phi) / w;
}

[[noreturn]] void refusePlacement(const std::string& shown, const std::string& reason) {
    throw RasterError("cannot read " + shown + ": " + reason);
}

// A cell's ground size, in metres or (placed nowhere) in the source's own unit, is plausible.
void checkCellSize(double east, double north, const std::string& unit, const std::string& shown) {
    const auto plausible = [](double size) {
        return std::isfinite(size) && size >= kMinCellMetres && size <= kMaxCellMetres;
    };
    if (!plausible(east) || !plausible(north)) {
        refusePlacement(shown, "its cells are " + decimalText(east) + " x " + decimalText(north) +
                                   " " + unit +
                                   " on the ground; cells from 1 mm to 1000 km "
                                   "are read");
    }
}

// Latitudes within the poles and at most the globe's longitudes: a global grid's edge cells may
// reach half a cell past a pole or the date line.
void checkGeographic(const double* transform, int width, int height, double degreesPerUnit,
                     const std::string& shown) {
    const double top = transform[3] * degreesPerUnit;
    const double bottom = (transform[3] + transform[5] * height) * degreesPerUnit;
    const double halfRow = std::abs(transform[5]) * degreesPerUnit / 2.0;
    const double span = std::abs(transform[1]) * width * degreesPerUnit;
    const double column = std::abs(transform[1]) * degreesPerUnit;
    for (const double latitude : {top, bottom}) {
        if (!(std::abs(latitude) <= kPoleDegrees + halfRow)) {
            refusePlacement(
                shown, "its cells reach latitude " + decimalText(latitude) + ", beyond the poles");
        }
    }
    if (!(span <= kGlobeDegrees + column)) {
        refusePlacement(
            shown, "it spans " + decimalText(span) + " degrees of longitude, more than the globe");
    }
}

Ground placeOnGround(GDALDatasetH raster, const std::string& shown) {
    double transform[6] = {};
    if (GDALGetGeoTransform(raster, transform) != CE_None) {
        return {1.0, 1.0, false,
                "no georeferencing: one pixel counts as one unit, and so does one height unit"};
    }
    const double east = std::abs(transform[1]);
    const double north = std::abs(transform[5]);
    const auto cells = [](double across, double down) {
        return "cells of " + decimalText(across) + " x " + decimalText(down);
    };
    OGRSpatialReferenceH crs = GDALGetSpatialRef(raster);
    if (crs == nullptr) {
        checkCellSize(east, north, "units", shown);
        return {east, north, false,
                "no coordinate system: " + cells(east, north) + " units, heights in the same unit"};
    }
    if (OSRIsGeographic(crs)) {
        const double degreesPerUnit = OSRGetAngularUnits(crs, nullptr) * kDegreesPerRadian;
        checkGeographic(transform, GDALGetRasterXSize(raster), GDALGetRasterYSize(raster),
                        degreesPerUnit, shown);
        const double latitude = transform[3] + transform[5] * GDALGetRasterYSize(raster) / 2.0;
        double perNorth = 0.0;
        double perEast = 0.0;
        metresPerAngle(crs, latitude, perNorth, perEast);
        checkCellSize(east * perEast, north * perNorth, "m", shown);
        char* unit = nullptr;
        OSRGetAngularUnits(crs, &unit);
        return {east * perEast, north * perNorth, true,
                "geographic, " + cells(east, north) + " " + (unit != nullptr ? unit : "") + ", " +
                    decimalText(east * perEast) + " x " + decimalText(north * perNorth) + " m at " +
                    decimalText(std::abs(latitude)) + (latitude < 0.0 ? " S" : " N")};
    }
    const double metres = OSRGetLinearUnits(crs, nullptr);
    checkCellSize(east * metres, north * metres, "m", shown);
    // Projected coordinates lie within a few times the Earth's girth of the origin; farther, no
    // latitude or longitude can be printed for them.
    const int width = GDALGetRasterXSize(raster);
    const int height = GDALGetRasterYSize(raster);
    for (const double edge : {transform[0], transform[0] + transform[1] * width, transform[3],
                              transform[3] + transform[5] * height}) {
        if (!(std::abs(edge * metres) <= kFarthestProjectedMetres)) {
            refusePlacement(shown, "its edge at " + decimalText(edge * metres) +
                                       " m from the projection's origin lies beyond any place "
                                       "on Earth");
        }
    }
    return {east * metres, north * metres, true,
            "projected, " + cells(east * metres, north * metres) + " m"};
}

// Every number GDAL's georeferencing gives is finite and the pixels have a size not absurd in
// any unit, before a rotated source is turned north-up with them; placeOnGround checks the size
// on the ground.
void checkPlacement(GDALDatasetH raster, const std::string& shown) {
    double t[6] = {};
    if (GDALGetGeoTransform(raster, t) != CE_None) {
        return;
    }
    if (!std::all_of(std::begin(t), std::end(t), [](double v) { return std::isfinite(v); })) {
        refusePlacement(shown, "its georeferencing holds numbers that are not finite");
    }
    // Wide enough that an area in square degrees or feet never underflows nor overflows.
    const long double area =
        static_cast<long double>(t[1]) * t[5] - static_cast<long double>(t[2]) * t[4];
    const double across = std::hypot(t[1], t[4]);
    const double down = std::hypot(t[2], t[5]);
    const auto plausible = [](double size) {
        return size >= kMinCellMetres * kMinMetresPerUnit &&
               size <= kMaxCellMetres / kMinMetresPerUnit;
    };
    if (area == 0.0L || !plausible(across) || !plausible(down)) {
        refusePlacement(shown, "its cells are " + decimalText(across) + " x " + decimalText(down) +
                                   " in its georeferencing's units; cells from 1 mm to 1000 km "
                                   "on the ground are read");
    }
}

// The owner builds transformations from the coordinate system outside the jail: one naming a
// grid or other file PROJ would open from outside its data folder is refused here first, in the
// WKT the owner is sent and in GDAL's own. (A PROJ string is not made of it: making one may open
// the grid.)
void refuseOutsideGrids(GDALDatasetH raster, const std::string& shown) {
    OGRSpatialReferenceH crs = GDALGetSpatialRef(raster);
    if (crs == nullptr) {
        return;
    }
    const char* wkt2[] = {"FORMAT=WKT2_2019", nullptr};
    const char* wkt1[] = {"FORMAT=WKT1_GDAL", nullptr};
    for (const auto& options : {wkt2, wkt1}) {
        char* text = nullptr;
        const bool made = OSRExportToWktEx(crs, &text, options) == OGRERR_NONE && text != nullptr;
        const std::string wkt = made ? text : "";
        CPLFree(text);
        refuseGridsOutsideProjData(wkt, shown);
    }
}

bool northUp(GDALDatasetH raster) {
    double transform[6] = {};
    return GDALGetGeoTransform(raster, transform) != CE_None ||
           (transform[2] == 0.0 && transform[4] == 0.0 && transform[1] > 0.0 && transform[5] < 0.0);
}

// Every source is read through a Float32 view of the band read as heights: GDAL resamples in the
// band's own type, so an Int16 band read with interpolation would come back in whole metres, in
// terraces. A palette's indices are no heights: its colours' first channel is read instead, grey
// for a grey palette. Undeclared voids would average into pits, and cells a rotated source turned
// north-up does not cover must read as no data, so the view always declares one.
Dataset adjusted(GDALDatasetH raster, int bandNumber, const std::string& shown) {
    GDALRasterBandH first = GDALGetRasterBand(raster, bandNumber);
    int declared = 0;
    GDALGetRasterNoDataValue(first, &declared);
    const GDALDataType type = GDALGetRasterDataType(first);
    std::vector<std::string> words = {"-of",     "VRT", "-ot",
                                      "Float32", "-b",  std::to_string(bandNumber)};
    if (GDALGetRasterColorTable(first) != nullptr) {
        words.insert(words.end(), {"-expand", "rgb", "-a_nodata", "nan"});
    } else if (!declared) {
        const char* mark = undeclaredNodata(type);
        words.insert(words.end(), {"-a_nodata", mark != nullptr ? mark : "nan"});
    }
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    GDALTranslateOptions* options = GDALTranslateOptionsNew(argv.data(), nullptr);
    Dataset view(GDALTranslate("", raster, options, nullptr));
    GDALTranslateOptionsFree(options);
    if (!view) {
        throw RasterError("cannot read " + shown + ": " + gdalMessage());
    }
    return view;
}

// Rotated or mirrored rasters are resampled north-up, so that rows run west to east. Empty when
// the raster is north-up already.
Dataset turnedNorthUp(GDALDatasetH raster, const std::string& shown) {
    if (northUp(raster)) {
        return nullptr;
    }
    Dataset turned(GDALAutoCreateWarpedVRT(raster, nullptr, nullptr, GRA_Bilinear, 0.125, nullptr));
    if (!turned) {
        throw RasterError("cannot turn " + shown + " north-up: " + gdalMessage());
    }
    return turned;
}

#if defined(__SSE2__)
// The whole boxes of one pair of rows, two at a time, as halve below has them: this runs for
// every cell of a pyramid's source. Each box sums, in doubles, 0 and then its finite samples in
// the order north-west, north-east, south-west, south-east (a missing one adds 0, which leaves a
// sum never -0 as it is); a box with none divides 0 by 0 into NaN. Returns the columns done.
int halveBoxPairs(const float* north, const float* south, int width, float* out) {
    const __m128 largest = _mm_set1_ps(std::numeric_limits<float>::max());
    const __m128 sign = _mm_set1_ps(-0.0f);
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128d zero = _mm_setzero_pd();
    int column = 0;
    for (; 2 * column + 3 < width; column += 2) {
        const int x = 2 * column;
        __m128 upper = _mm_loadu_ps(north + x);  // a b a' b'
        __m128 lower = _mm_loadu_ps(south + x);  // c d c' d'
        const __m128 upperFinite = _mm_cmple_ps(_mm_andnot_ps(sign, upper), largest);
        const __m128 lowerFinite = _mm_cmple_ps(_mm_andnot_ps(sign, lower), largest);
        upper = _mm_and_ps(upper, upperFinite);
        lower = _mm_and_ps(lower, lowerFinite);
        // a a' b b': each box's west samples in the low half, its east ones in the high.
        upper = _mm_shuffle_ps(upper, upper, _MM_SHUFFLE(3, 1, 2, 0));
        lower = _mm_shuffle_ps(lower, lower, _MM_SHUFFLE(3, 1, 2, 0));
        __m128 counts = _mm_add_ps(_mm_and_ps(upperFinite, one), _mm_and_ps(lowerFinite, one));
        counts = _mm_shuffle_ps(counts, counts, _MM_SHUFFLE(3, 1, 2, 0));
        counts = _mm_add_ps(counts, _mm_movehl_ps(counts, counts));
        __m128d sum = _mm_add_pd(zero, _mm_cvtps_pd(upper));
        sum = _mm_add_pd(sum, _mm_cvtps_pd(_mm_movehl_ps(upper, upper)));
        sum = _mm_add_pd(sum, _mm_cvtps_pd(lower));
        sum = _mm_add_pd(sum, _mm_cvtps_pd(_mm_movehl_ps(lower, lower)));
        const __m128 mean = _mm_cvtpd_ps(_mm_div_pd(sum, _mm_cvtps_pd(counts)));
        _mm_storel_pi(reinterpret_cast<__m64*>(out + column), mean);
    }
    return column;
}
#endif

// Each sample of halved the mean of its 2 x 2 box's finite samples in rows (packed, width
// apart), NaN when none is; at an odd last column or row the box is clipped.
void halve(const float* rows, int width, int rowCount, float* halved) {
    const int columns = (width + 1) / 2;
    for (int row = 0; 2 * row < rowCount; ++row) {
        const float* north = rows + static_cast<std::ptrdiff_t>(2 * row) * width;
        const float* south = 2 * row + 1 < rowCount ? north + width : nullptr;
        float* out = halved + static_cast<std::ptrdiff_t>(row) * columns;
        int column = 0;
#if defined(__SSE2__)
        if (south != nullptr) {
            column = halveBoxPairs(north, south, width, out);
        }
#endif
        for (; column < columns; ++column) {
            const int x = 2 * column;
            const int boxWidth = x + 1 < width ? 2 : 1;
            double sum = 0.0;
            int count = 0;
            for (const float* line : {north, south}) {
                for (int i = 0; line != nullptr && i < boxWidth; ++i) {
                    if (std::isfinite(line[x + i])) {
                        sum += line[x + i];
                        ++count;
                    }
                }
            }
            out[column] = count > 0 ? static_cast<float>(sum / count)
                                    : std::numeric_limits<float>::quiet_NaN();
        }
    }
}

}  // namespace

GdalSource::GdalSource(const std::string& path)
    : GdalSource(SourceNames{{path}, false, false, printable(path), 0}) {}

GdalSource::GdalSource(const SourceNames& names, NoteSink note, GDALProgressFunc progress,
                       void* progressData)
    : shown_(names.shown), note_(std::move(note)) {
    if (names.mosaic) {
        mosaic_ = joinTiles(names, note_, progress, progressData);
        dataset_ = std::move(mosaic_.dataset);
        kind_ = mosaic_.kind;
        eightBit_ = mosaic_.eightBit;
    } else {
        dataset_ = openSource(names.files.at(0));
        if (const std::string why = cutShort(dataset_.get()); !why.empty()) {
            throw RasterError("cannot read " + shown_ + ": " + why);
        }
    }
    chooseBand(names.band);
    if (kind_.empty()) {
        GDALRasterBandH band = GDALGetRasterBand(dataset_.get(), bandNumber_);
        kind_ = std::string(GDALGetDriverShortName(GDALGetDatasetDriver(dataset_.get()))) + ", " +
                GDALGetDataTypeName(GDALGetRasterDataType(band));
        eightBit_ = GDALGetRasterDataType(band) == GDT_Byte;
    }
    examine();
}

void GdalSource::chooseBand(int band) {
    const int bands = GDALGetRasterCount(dataset_.get());
    if (band > bands) {
        throw RasterError("cannot read " + shown_ + ": has " + std::to_string(bands) +
                          (bands == 1 ? " band" : " bands") + "; --band " + std::to_string(band) +
                          " is beyond them");
    }
    // Red, green, blue and perhaps alpha of 8 bits are a picture, whatever colours GDAL names:
    // its red is no height unless the user says so.
    const bool colour = (bands == 3 || bands == 4) &&
                        GDALGetRasterDataType(GDALGetRasterBand(dataset_.get(), 1)) == GDT_Byte;
    if (band < 1 && colour) {
        throw RasterError("cannot read " + shown_ + ": looks like a colour image (" +
                          std::to_string(bands) +
                          " bands); pass `--band N` to take one band as heights");
    }
    bandNumber_ = std::max(band, 1);
}

void GdalSource::makeViews() const {
    adjusted_ = adjusted(dataset_.get(), bandNumber_, shown_);
    GDALDatasetH reading = adjusted_ ? adjusted_.get() : dataset_.get();
    turned_ = turnedNorthUp(reading, shown_);
    reading_ = turned_ ? turned_.get() : reading;
    band_ = GDALGetRasterBand(reading_, 1);
    GDALRasterBandH original = GDALGetRasterBand(dataset_.get(), bandNumber_);
    direct_ = !turned_ && GDALGetRasterColorTable(original) == nullptr ? original : nullptr;
}

bool GdalSource::dropFailingTile(const SourceWindow& window) const {
    if (!mosaic_.tiles) {
        return false;
    }
    // The views refer to the mosaic: they go before it is joined again.
    turned_.reset();
    adjusted_.reset();
    mosaic_.dataset = std::move(dataset_);
    const int x = static_cast<int>(std::floor(window.x));
    const int y = static_cast<int>(std::floor(window.y));
    std::string dropped;
    try {
        dropped = dropUnreadableTile(mosaic_, bandNumber_, x, y,
                                     static_cast<int>(std::ceil(window.x + window.width)) - x,
                                     static_cast<int>(std::ceil(window.y + window.height)) - y);
    } catch (const RasterError&) {
        // The mosaic stays as it was, for the reads after this one.
        dataset_ = std::move(mosaic_.dataset);
        makeViews();
        throw;
    }
    dataset_ = std::move(mosaic_.dataset);
    makeViews();
    if (!dropped.empty()) {
        tell(note_, dropped);
    }
    return !dropped.empty();
}

void GdalSource::examine() {
    checkPlacement(dataset_.get(), shown_);
    refuseOutsideGrids(dataset_.get(), shown_);
    makeViews();
    GDALDatasetH reading = reading_;
    GDALRasterBandH original = GDALGetRasterBand(dataset_.get(), bandNumber_);
    width_ = GDALGetRasterXSize(reading);
    height_ = GDALGetRasterYSize(reading);
    if (width_ < kMinGridSide || height_ < kMinGridSide) {
        throw RasterError("cannot read " + shown_ + ": " + sizeText(width_, height_) +
                          "; a world needs " + std::to_string(kMinGridSide) + " x " +
                          std::to_string(kMinGridSide) + " at least");
    }
    if (static_cast<double>(width_) * height_ > kMaxSourceCells) {
        throw RasterError("cannot read " + shown_ + ": " + sizeText(width_, height_) +
                          " is more than is decoded here (2^31 cells); cut it into tiles or "
                          "shrink it with gdal_translate -outsize first");
    }
    overviews_ = std::min(GDALGetOverviewCount(original), kMaxOverviews);
    int hasNodata = 0;
    nodata_ = GDALGetRasterNoDataValue(band_, &hasNodata);
    hasNodata_ = hasNodata != 0;
    if (!eightBit_) {
        scale_ = GDALGetRasterScale(band_, nullptr);
        offset_ = GDALGetRasterOffset(band_, nullptr);
    }
    ground_ = placeOnGround(reading, shown_);
    if (ground_.inMetres) {
        measureHeights(reading);
    }
}

// The band's own unit first, then the vertical part of the coordinate system; neither: metres.
void GdalSource::measureHeights(GDALDatasetH reading) {
    std::string unit = GDALGetRasterUnitType(band_);
    OGRSpatialReferenceH crs = GDALGetSpatialRef(reading);
    if (unit.empty() && crs != nullptr && (OSRIsCompound(crs) || OSRIsVertical(crs))) {
        char* name = nullptr;
        OSRGetTargetLinearUnits(crs, "VERT_CS", &name);
        unit = name != nullptr ? name : "";
    }
    // A file's own words: a name longer than any unit's is cut, so that it never fills a message.
    heightUnit_ = unit.empty() ? "m" : unit.substr(0, kLongestUnitName);
    metresPerUnit_ = metresPerHeightUnit(heightUnit_);
    if (metresPerUnit_ == 0.0) {
        metresPerUnit_ = 1.0;
        heightNote_ =
            "heights in \"" + printable(heightUnit_) + "\", a unit not known here, taken as metres";
    }
}

SourceFacts GdalSource::facts() const {
    SourceFacts facts;
    facts.width = width_;
    facts.height = height_;
    facts.eightBit = eightBit_;
    facts.ground = ground_;
    facts.placed = GDALGetGeoTransform(reading_, facts.transform.data()) == CE_None;
    if (!facts.placed) {
        facts.transform = {0.0, 1.0, 0.0, 0.0, 0.0, 1.0};
    }
    if (OGRSpatialReferenceH crs = GDALGetSpatialRef(reading_)) {
        char* wkt = nullptr;
        const char* options[] = {"FORMAT=WKT2_2019", nullptr};
        if (OSRExportToWktEx(crs, &wkt, options) == OGRERR_NONE && wkt != nullptr) {
            facts.crsWkt = wkt;
        }
        CPLFree(wkt);
    }
    facts.metresPerUnit = metresPerUnit_;
    facts.heightUnit = heightUnit_;
    facts.heightNote = heightNote_;
    facts.kind = kind_;
    facts.overviews = overviews_;
    facts.band = bandNumber_;
    return facts;
}

template <typename Sample>
void GdalSource::fetch(const SourceWindow& window, int columns, int rows, Sample* samples,
                       std::ptrdiff_t lineStride, GDALProgressFunc progress,
                       void* progressData) const {
    // GDAL's VRT says nothing while it opens tile after tile, so a mosaic is read in strips of
    // rows, progress told after each; a single source tells its own.
    const int strips = mosaic_.tiles ? std::min(rows, kMosaicStrips) : 1;
    for (int strip = 0; strip < strips; ++strip) {
        const int first = static_cast<int>(static_cast<long long>(rows) * strip / strips);
        const int end = static_cast<int>(static_cast<long long>(rows) * (strip + 1) / strips);
        const double perRow = window.height / rows;
        const SourceWindow part{window.x, window.y + perRow * first, window.width,
                                perRow * (end - first)};
        for (;;) {
            CPLErrorReset();
            const GdalErrorWatch watch;
            // A read cell for cell takes the source's own values: no resampling to go through
            // floats for.
            const bool cellForCell = direct_ != nullptr && part.width == columns &&
                                     part.height == end - first && part.x == std::floor(part.x) &&
                                     part.y == std::floor(part.y);
            if (readResampled(cellForCell ? direct_ : band_, part, columns, end - first,
                              samples + first * lineStride, lineStride,
                              strips == 1 ? progress : nullptr, progressData) &&
                !watch.raised()) {
                break;
            }
            // A tile of a mosaic that fails is drawn as no data from then on, and the read is
            // done again without it; each time one tile fewer is read, so this ends.
            const std::string failure = readFailure(watch);
            if (!dropFailingTile(part)) {
                throw RasterError("cannot read " + shown_ + ": " + failure);
            }
        }
        if (strips > 1 && progress != nullptr) {
            progress(static_cast<double>(strip + 1) / strips, nullptr, progressData);
        }
    }
}

template <typename Sample>
void GdalSource::toHeights(Sample* values, std::size_t count) const {
    std::size_t i = 0;
#if defined(__SSE2__)
    // Floats neither scaled nor offset, four at a time, by missingCell as below: a halved read runs
    // this for every cell of the source. Adding +0 turns -0 into 0 as the scaling does.
    if constexpr (std::is_same_v<Sample, float>) {
        if (scale_ == 1.0 && offset_ == 0.0) {
            float voidMark = static_cast<float>(kUndeclaredVoid);  // the last float at or below it
            if (voidMark > kUndeclaredVoid) {
                voidMark = std::nextafter(voidMark, -std::numeric_limits<float>::infinity());
            }
            const __m128 lowest = _mm_set1_ps(voidMark);
            const __m128 largest = _mm_set1_ps(std::numeric_limits<float>::max());
            // NaN equals nothing, so no sample is missing for an undeclared nodata.
            const __m128 nodata = _mm_set1_ps(hasNodata_ ? static_cast<float>(nodata_)
                                                         : std::numeric_limits<float>::quiet_NaN());
            const __m128 missing = _mm_set1_ps(std::numeric_limits<float>::quiet_NaN());
            for (; i + 4 <= count; i += 4) {
                const __m128 value = _mm_loadu_ps(values + i);
                const __m128 kept = _mm_and_ps(
                    _mm_and_ps(_mm_cmpgt_ps(value, lowest), _mm_cmplt_ps(value, largest)),
                    _mm_cmpneq_ps(value, nodata));
                const __m128 height = _mm_add_ps(value, _mm_setzero_ps());
                _mm_storeu_ps(values + i,
                              _mm_or_ps(_mm_and_ps(kept, height), _mm_andnot_ps(kept, missing)));
            }
        }
    }
#endif
    // Nodata as the samples hold it, so that a float is compared with a float.
    const auto nodata = static_cast<Sample>(nodata_);
    for (; i < count; ++i) {
        Sample& value = values[i];
        const double height = value * scale_ + offset_;
        value = missingCell(value, height, hasNodata_, nodata)
                    ? std::numeric_limits<Sample>::quiet_NaN()
                    : static_cast<Sample>(height);
    }
}

template <typename Sample>
void GdalSource::readInto(const SourceWindow& window, int columns, int rows, Sample* samples,
                          std::ptrdiff_t lineStride, GDALProgressFunc progress,
                          void* progressData) const {
    fetch(window, columns, rows, samples, lineStride, progress, progressData);
    for (int row = 0; row < rows; ++row) {
        toHeights(samples + row * lineStride, static_cast<std::size_t>(columns));
    }
}

void GdalSource::read(const SourceWindow& window, int columns, int rows, double* samples,
                      std::ptrdiff_t lineStride, GDALProgressFunc progress,
                      void* progressData) const {
    readInto(window, columns, rows, samples, lineStride, progress, progressData);
}

void GdalSource::read(const SourceWindow& window, int columns, int rows, float* samples,
                      std::ptrdiff_t lineStride, GDALProgressFunc progress,
                      void* progressData) const {
    readInto(window, columns, rows, samples, lineStride, progress, progressData);
}

void GdalSource::readHalved(int firstRow, int rowCount, float* halved, GDALProgressFunc progress,
                            void* progressData) const {
    // Read a few rows at a time, so that each is halved while it is still in the processor's
    // cache; always an even count, so that every box but the last row's lies in one read.
    const int stepRows = std::max(
        2,
        static_cast<int>(kHalvedStepBytes / sizeof(float) / static_cast<std::size_t>(width_)) & ~1);
    std::vector<float> rows(static_cast<std::size_t>(width_) *
                            static_cast<std::size_t>(std::min(stepRows, rowCount)));
    const std::ptrdiff_t columns = (width_ + 1) / 2;
    for (int done = 0; done < rowCount; done += stepRows) {
        const int count = std::min(stepRows, rowCount - done);
        fetch(SourceWindow{0.0, static_cast<double>(firstRow + done), static_cast<double>(width_),
                           static_cast<double>(count)},
              width_, count, rows.data(), width_, nullptr, nullptr);
        toHeights(rows.data(), static_cast<std::size_t>(width_) * static_cast<std::size_t>(count));
        halve(rows.data(), width_, count, halved + done / 2 * columns);
        if (progress != nullptr) {
            progress(static_cast<double>(done + count) / rowCount, nullptr, progressData);
        }
    }
}

}  // namespace raster
