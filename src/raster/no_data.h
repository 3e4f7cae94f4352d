#pragma once
// What counts as no data in a height raster, for the viewer and every groundtool command alike: the
// source's declared nodata value, NaN, +-Inf (and +-3.4e38, the largest float, into which GDAL's
// conversions to float and its interpolation beside a declared nodata turn them), SRTM's
// undeclared -32768 in 16-bit sources, an undeclared float void at -1e30 or lower, and the corners
// a rotated raster leaves when it is turned north-up. The jailed reader applies the rule to the
// source's cells; past it a missing height travels as NaN, and anything not finite a caller
// receives is missing.

#include <gdal.h>

#include <cmath>
#include <limits>

namespace raster {

// SRTM and most DEMs built on it mark voids so, often without declaring it.
constexpr const char* kSrtmVoid = "-32768";
// Float rasters often mark voids with the lowest float, -3.4e38, undeclared; no ground lies
// anywhere near this.
constexpr double kUndeclaredVoid = -1e30;

// The nodata value a source of this cell type that declares none is given, as GDAL's options
// write it: the SRTM void for 16-bit heights, NaN for floats, nullptr for other integers, every
// value of which may be a height.
inline const char* undeclaredNodata(GDALDataType type) {
    if (type == GDT_Int16) {
        return kSrtmVoid;
    }
    return GDALDataTypeIsFloating(type) ? "nan" : nullptr;
}

// Whether a cell holds no height: value as the source holds it, height what its scale and
// offset make of it, nodata compared in the source's own type.
template <typename Sample>
bool missingCell(Sample value, double height, bool declared, Sample nodata) {
    return (declared && value == nodata) || !std::isfinite(height) || value <= kUndeclaredVoid ||
           !(value < std::numeric_limits<float>::max());
}

// A height handed over by the reader, in any unit: anything not finite is missing.
inline bool missingHeight(double height) {
    return !std::isfinite(height);
}

}  // namespace raster
