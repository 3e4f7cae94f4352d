#include "lat_lon.h"

#include <ogr_srs_api.h>

#include <cmath>

#include "crs_policy.h"

namespace raster {

namespace {

struct SrsDeleter {
    void operator()(void* crs) const { OSRDestroySpatialReference(crs); }
};

std::shared_ptr<void> transformation(OGRSpatialReferenceH from, OGRSpatialReferenceH to) {
    return std::shared_ptr<void>(OCTNewCoordinateTransformation(from, to), [](void* transform) {
        if (transform != nullptr) {
            OCTDestroyCoordinateTransformation(transform);
        }
    });
}

bool transformed(const std::shared_ptr<void>& transform, double& x, double& y) {
    if (!transform) {
        return false;
    }
    double z = 0.0;
    return OCTTransform(transform.get(), 1, &x, &y, &z) && std::isfinite(x) && std::isfinite(y);
}

}  // namespace

LatLon::LatLon(const std::string& crsWkt, const std::string& shown) {
    if (crsWkt.empty()) {
        return;
    }
    refuseGridsOutsideProjData(crsWkt, shown);
    const std::unique_ptr<void, SrsDeleter> source(OSRNewSpatialReference(nullptr));
    const std::unique_ptr<void, SrsDeleter> wgs84(OSRNewSpatialReference(nullptr));
    char* wkt = const_cast<char*>(crsWkt.c_str());  // GDAL moves it, never writes
    if (OSRImportFromWkt(source.get(), &wkt) != OGRERR_NONE ||
        OSRSetWellKnownGeogCS(wgs84.get(), "WGS84") != OGRERR_NONE) {
        return;
    }
    // Longitude before latitude on both sides, as GIS programs give coordinates.
    OSRSetAxisMappingStrategy(source.get(), OAMS_TRADITIONAL_GIS_ORDER);
    OSRSetAxisMappingStrategy(wgs84.get(), OAMS_TRADITIONAL_GIS_ORDER);
    toWgs84_ = transformation(source.get(), wgs84.get());
    fromWgs84_ = transformation(wgs84.get(), source.get());
    if (!toWgs84_.get() || !fromWgs84_.get()) {
        toWgs84_.reset();
        fromWgs84_.reset();
    }
}

bool LatLon::toLatLon(double x, double y, double& lat, double& lon) const {
    if (!transformed(toWgs84_, x, y)) {
        return false;
    }
    lon = x;
    lat = y;
    return true;
}

bool LatLon::fromLatLon(double lat, double lon, double& x, double& y) const {
    if (!transformed(fromWgs84_, lon, lat)) {
        return false;
    }
    x = lon;
    y = lat;
    return true;
}

}  // namespace raster
