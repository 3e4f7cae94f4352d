#include "where.h"

#include <cmath>
#include <cstdio>

namespace raster {

namespace {

std::string degrees(double value, char positive, char negative) {
    char text[32];
    std::snprintf(text, sizeof text, "%.5f %c", std::abs(value), value < 0.0 ? negative : positive);
    return text;
}

std::string metres(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f m", value);
    return text;
}

std::string lonLat(double lon, double lat) {
    return degrees(lat, 'N', 'S') + " " + degrees(lon, 'E', 'W');
}

}  // namespace

SourcePoint sourcePointAt(const SourcePlacement& placement, double spacing, double x, double z) {
    return {placement.originX + x / spacing * placement.stepX,
            placement.originY + z / spacing * placement.stepY};
}

void fieldPointAt(const SourcePlacement& placement, double spacing, const SourcePoint& point,
                  double& x, double& z) {
    x = (point.x - placement.originX) / placement.stepX * spacing;
    z = (point.y - placement.originY) / placement.stepY * spacing;
}

std::string whereText(const Walker& walker, const SourcePlacement& placement, double exaggeration) {
    const SourcePoint point =
        sourcePointAt(placement, walker.field().spacing, walker.x(), walker.z());
    std::string text;
    double lon = 0.0;
    double lat = 0.0;
    if (placement.geographic) {
        text = lonLat(point.x, point.y);
    } else {
        char place[96];
        std::snprintf(place, sizeof place, "E %.1f N %.1f", point.x, point.y);
        text = place;
        if (!placement.crsName.empty()) {
            text += " (" + placement.crsName + ")";
        }
        if (placement.toLonLat && placement.toLonLat(point.x, point.y, lon, lat)) {
            text += " " + lonLat(lon, lat);
        }
    }
    const double ground = walker.groundY() / exaggeration;
    const double above = walker.eye().y - walker.groundY();
    return text + "  ground " + metres(ground) + "  eye " + metres(above) + " above  heading " +
           compassBearing(walker.headingRadians());
}

}  // namespace raster
