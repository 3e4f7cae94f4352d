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

SourcePoint sourcePointAt(const SourcePlacement& placement, const HeightField& field, double x,
                          double z) {
    return {placement.originX + x / field.spacingEast * placement.stepX,
            placement.originY + z / field.spacingSouth * placement.stepY};
}

void fieldPointAt(const SourcePlacement& placement, const HeightField& field,
                  const SourcePoint& point, double& x, double& z) {
    x = (point.x - placement.originX) / placement.stepX * field.spacingEast;
    z = (point.y - placement.originY) / placement.stepY * field.spacingSouth;
}

SampleKind kindNear(const HeightField& field, double x, double z) {
    const auto nearest = [](double metres, double spacing, int count) {
        return static_cast<int>(
            std::min(std::max(std::lround(metres / spacing), 0L), static_cast<long>(count) - 1));
    };
    return field.kind(nearest(x, field.spacingEast, field.columns),
                      nearest(z, field.spacingSouth, field.rows));
}

std::string whereText(const Walker& walker, const SourcePlacement& placement, double exaggeration) {
    const HeightField& field = walker.field();
    const SourcePoint point = sourcePointAt(placement, field, walker.x(), walker.z());
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
    switch (kindNear(field, walker.x(), walker.z())) {
        case SampleKind::data:
            text += "  ground " + metres(ground);
            break;
        case SampleKind::filled:
            text += "  ground " + metres(ground) + " (filled)";
            break;
        case SampleKind::sea:
            text += "  sea";
            break;
        case SampleKind::missing:
            text += "  no data";
            break;
    }
    text += "  eye " + metres(above) + " above  heading " +
            compassBearing(walker.headingRadians()) + "  step " + metres(walker.stepMetres());
    char cells[64];
    std::snprintf(cells, sizeof cells, "  cells %.3g x %.3g m", field.spacingEast,
                  field.spacingSouth);
    text += cells;
    if (exaggeration != 1.0) {
        char times[48];
        std::snprintf(times, sizeof times, "  heights x %.3g", exaggeration);
        text += times;
    }
    return text;
}

}  // namespace raster
