#pragma once
// Latitude and longitude (WGS 84) to and from a source's own coordinates, both ways through GDAL
// and PROJ's transformation of the source's coordinate system: the one answer for the readout,
// the pick, --at-latlon and --area-latlon. Coordinates are x, y in the source's axis order as
// GIS programs give it (easting, northing; longitude, latitude).

#include <memory>
#include <string>

namespace raster {

class LatLon {
  public:
    // Nothing to transform: a source with no coordinate system, or one GDAL has no way from.
    LatLon() = default;
    // From the source's coordinate system as WKT; usable() says whether GDAL found a way. Throws
    // RasterError naming shown, building nothing, when the coordinate system names a file for
    // PROJ to open outside its data folder.
    LatLon(const std::string& crsWkt, const std::string& shown);

    bool usable() const { return toWgs84_ != nullptr && fromWgs84_ != nullptr; }
    // false where the transformation fails or gives no finite answer.
    bool toLatLon(double x, double y, double& lat, double& lon) const;
    bool fromLatLon(double lat, double lon, double& x, double& y) const;

  private:
    std::shared_ptr<void> toWgs84_;
    std::shared_ptr<void> fromWgs84_;
};

}  // namespace raster
