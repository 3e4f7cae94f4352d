#include "elevation_source.h"

#include <gdal_utils.h>
#include <gdalwarper.h>
#include <ogr_srs_api.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <limits>
#include <vector>

#include "decimal_text.h"
#include "tool_error.h"

namespace groundtool {

namespace {

// SRTM and most DEMs built on it mark voids so, often without declaring it.
constexpr const char* kSrtmVoid = "-32768";

std::string sizeText(int width, int height) {
    return std::to_string(width) + " x " + std::to_string(height) + " cells";
}

// Heights in feet are common in North American DEMs; anything else is taken as metres.
double metresPerHeightUnit(const std::string& unit) {
    std::string lower = unit;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower.find("us") != std::string::npos && lower.find("f") != std::string::npos) {
        return 1200.0 / 3937.0;
    }
    if (lower == "ft" || lower.find("foot") != std::string::npos ||
        lower.find("feet") != std::string::npos) {
        return 0.3048;
    }
    return 1.0;
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

Ground placeOnGround(GDALDatasetH raster) {
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
        return {east, north, false,
                "no coordinate system: " + cells(east, north) + " units, heights in the same unit"};
    }
    if (OSRIsGeographic(crs)) {
        const double latitude = transform[3] + transform[5] * GDALGetRasterYSize(raster) / 2.0;
        double perNorth = 0.0;
        double perEast = 0.0;
        metresPerAngle(crs, latitude, perNorth, perEast);
        char* unit = nullptr;
        OSRGetAngularUnits(crs, &unit);
        return {east * perEast, north * perNorth, true,
                "geographic, " + cells(east, north) + " " + (unit != nullptr ? unit : "") + ", " +
                    decimalText(east * perEast) + " x " + decimalText(north * perNorth) + " m at " +
                    decimalText(std::abs(latitude)) + (latitude < 0.0 ? " S" : " N")};
    }
    const double metres = OSRGetLinearUnits(crs, nullptr);
    return {east * metres, north * metres, true,
            "projected, " + cells(east * metres, north * metres) + " m"};
}

bool northUp(GDALDatasetH raster) {
    double transform[6] = {};
    return GDALGetGeoTransform(raster, transform) != CE_None ||
           (transform[2] == 0.0 && transform[4] == 0.0 && transform[1] > 0.0 && transform[5] < 0.0);
}

// Like every groundtool input, only regular files: a FIFO would stall GDAL's open. GDAL's virtual
// paths (/vsizip/ and the like) are its own to resolve.
void checkRegularFile(const std::string& path) {
    if (path.rfind("/vsi", 0) == 0) {
        return;
    }
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        throw ToolError(fileError("cannot read", path, errno));
    }
    if (!S_ISREG(status.st_mode)) {
        throw ToolError(
            "cannot read " + path + ": " +
            (S_ISDIR(status.st_mode) ? "a folder, not a regular file" : "not a regular file"));
    }
}

Dataset openRaster(const std::string& path) {
    CPLErrorReset();
    Dataset raster(
        GDALOpenEx(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, nullptr, nullptr, nullptr));
    if (!raster || GDALGetRasterCount(raster.get()) < 1) {
        const std::string reason = CPLGetLastErrorMsg();
        throw ToolError("cannot read " + path + ": not a raster GDAL reads" +
                        (reason.empty() ? "" : " (" + gdalMessage() + ")"));
    }
    return raster;
}

// A palette's indices are no heights: its colours' first channel is read instead, grey for a grey
// palette. Undeclared voids would average into pits. Empty when the raster needs neither.
Dataset adjusted(GDALDatasetH raster, const std::string& path) {
    GDALRasterBandH first = GDALGetRasterBand(raster, 1);
    int declared = 0;
    GDALGetRasterNoDataValue(first, &declared);
    std::vector<std::string> words = {"-of", "VRT"};
    if (GDALGetRasterColorTable(first) != nullptr) {
        words.insert(words.end(), {"-expand", "rgb"});
    } else if (GDALGetRasterDataType(first) == GDT_Int16 && !declared) {
        words.insert(words.end(), {"-a_nodata", kSrtmVoid});
    } else {
        return nullptr;
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
        throw ToolError("cannot read " + path + ": " + gdalMessage());
    }
    return view;
}

// Rotated or mirrored rasters are resampled north-up, so that rows run west to east. Empty when
// the raster is north-up already.
Dataset turnedNorthUp(GDALDatasetH raster, const std::string& path) {
    if (northUp(raster)) {
        return nullptr;
    }
    Dataset turned(GDALAutoCreateWarpedVRT(raster, nullptr, nullptr, GRA_Bilinear, 0.125, nullptr));
    if (!turned) {
        throw ToolError("cannot turn " + path + " north-up: " + gdalMessage());
    }
    return turned;
}

}  // namespace

ElevationSource::ElevationSource(const std::string& path) : path_(path) {
    useGdal();
    checkRegularFile(path);
    dataset_ = openRaster(path);
    adjusted_ = adjusted(dataset_.get(), path);
    GDALDatasetH reading = adjusted_ ? adjusted_.get() : dataset_.get();
    turned_ = turnedNorthUp(reading, path);
    reading = turned_ ? turned_.get() : reading;

    band_ = GDALGetRasterBand(reading, 1);
    width_ = GDALGetRasterXSize(reading);
    height_ = GDALGetRasterYSize(reading);
    if (width_ < 2 || height_ < 2) {
        throw ToolError("cannot import " + path + ": " + sizeText(width_, height_) +
                        "; a world needs 2 x 2 at least");
    }
    if (static_cast<double>(width_) * height_ > kMaxSourceCells) {
        throw ToolError("cannot import " + path + ": " + sizeText(width_, height_) +
                        " is more than groundtool decodes (2^31 cells); cut it into tiles or "
                        "shrink it with gdal_translate -outsize first");
    }
    eightBit_ = GDALGetRasterDataType(band_) == GDT_Byte;
    int hasNodata = 0;
    nodata_ = GDALGetRasterNoDataValue(band_, &hasNodata);
    hasNodata_ = hasNodata != 0;
    if (!eightBit_) {
        scale_ = GDALGetRasterScale(band_, nullptr);
        offset_ = GDALGetRasterOffset(band_, nullptr);
    }
    ground_ = placeOnGround(reading);
    if (ground_.inMetres) {
        const std::string unit = GDALGetRasterUnitType(band_);
        metresPerUnit_ = metresPerHeightUnit(unit);
        heightUnit_ = unit.empty() ? "m" : unit;
    }
}

std::string ElevationSource::kind() const {
    return std::string(GDALGetDriverShortName(GDALGetDatasetDriver(dataset_.get()))) + ", " +
           GDALGetDataTypeName(GDALGetRasterDataType(GDALGetRasterBand(dataset_.get(), 1)));
}

void ElevationSource::read(const SourceWindow& window, int columns, int rows, double* samples,
                           std::ptrdiff_t lineStride) const {
    CPLErrorReset();
    if (!readResampled(band_, window, columns, rows, samples, lineStride)) {
        throw ToolError("cannot read " + path_ + ": " + gdalMessage());
    }
    for (int row = 0; row < rows; ++row) {
        double* line = samples + row * lineStride;
        for (int column = 0; column < columns; ++column) {
            double& value = line[column];
            const bool missing = std::isnan(value) || (hasNodata_ && value == nodata_);
            value = missing ? std::numeric_limits<double>::quiet_NaN() : value * scale_ + offset_;
        }
    }
}

}  // namespace groundtool
