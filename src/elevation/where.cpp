#include "where.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "angles.h"

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

// A number as given on the command line, without an exponent for any place on Earth.
std::string given(double value) {
    std::ostringstream text;
    text.precision(10);
    text << value;
    return text.str();
}

// A bound of the data: degrees to a centimetre or so, other units to a hundredth.
std::string bound(double value, bool degrees) {
    char text[48];
    std::snprintf(text, sizeof text, degrees ? "%.6f" : "%.2f", value);
    return text;
}

struct Span {
    double low = HUGE_VAL, high = -HUGE_VAL;
    void take(double value) {
        low = std::min(low, value);
        high = std::max(high, value);
    }
    bool holds(double value, double slack) const {
        return value >= low - slack && value <= high + slack;
    }
};

// The ground the data covers, metres of the field: each sample stands for the cell around it, so
// the data reaches half a cell beyond the outer samples. A place there is stood on from the
// nearest sample.
struct FieldBounds {
    double west, north, east, south;
    bool holds(double x, double z, const HeightField& field) const {
        // A hair's rounding at an edge is still on it.
        const double slackX = 1e-6 * field.spacingEast, slackZ = 1e-6 * field.spacingSouth;
        return x >= west - slackX && x <= east + slackX && z >= north - slackZ &&
               z <= south + slackZ;
    }
};
FieldBounds dataBounds(const HeightField& field) {
    const double halfEast = 0.5 * field.spacingEast, halfSouth = 0.5 * field.spacingSouth;
    return {-halfEast, -halfSouth, field.width() + halfEast, field.depth() + halfSouth};
}

// Latitude and longitude over the data's edges, as far as the source transforms them.
void lonLatSpans(const SourcePlacement& placement, const HeightField& field, Span& lon, Span& lat) {
    constexpr int kAlongEdge = 64;
    const FieldBounds data = dataBounds(field);
    for (int i = 0; i <= kAlongEdge; ++i) {
        const double share = static_cast<double>(i) / kAlongEdge;
        const double x = data.west + share * (data.east - data.west);
        const double z = data.north + share * (data.south - data.north);
        const double edges[4][2] = {
            {x, data.north}, {x, data.south}, {data.west, z}, {data.east, z}};
        for (const auto& edge : edges) {
            const SourcePoint point = sourcePointAt(placement, field, edge[0], edge[1]);
            double lo = 0, la = 0;
            if (placement.geographic) {
                lo = point.x, la = point.y;
            } else if (!placement.latLon.toLatLon(point.x, point.y, la, lo)) {
                continue;
            }
            lon.take(lo);
            lat.take(la);
        }
    }
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

std::string placeText(const SourcePlacement& placement, const SourcePoint& point) {
    if (placement.geographic) {
        return lonLat(point.x, point.y);
    }
    char place[96];
    std::snprintf(place, sizeof place, "E %.1f N %.1f", point.x, point.y);
    std::string text = place;
    if (!placement.crsName.empty()) {
        text += " (" + placement.crsName + ")";
    }
    double lon = 0.0;
    double lat = 0.0;
    if (placement.latLon.toLatLon(point.x, point.y, lat, lon)) {
        text += " " + lonLat(lon, lat);
    }
    return text;
}

std::string placeWalker(Walker& walker, const SourcePlacement& placement, const ViewStart& start) {
    const HeightField& field = walker.field();
    double x = walker.x();
    double z = walker.z();
    if (start.at) {
        const SourcePoint point{start.at->first, start.at->second};
        fieldPointAt(placement, field, point, x, z);
        const FieldBounds data = dataBounds(field);
        if (!data.holds(x, z, field)) {
            Span xs, ys;
            for (const auto& corner : {std::pair{data.west, data.north}, {data.east, data.south}}) {
                const SourcePoint at = sourcePointAt(placement, field, corner.first, corner.second);
                xs.take(at.x);
                ys.take(at.y);
            }
            const bool degrees = placement.geographic;
            const char* const xName = degrees                     ? "longitude"
                                      : placement.crsName.empty() ? "X"
                                                                  : "easting";
            const char* const yName = degrees                     ? "latitude"
                                      : placement.crsName.empty() ? "Y"
                                                                  : "northing";
            std::string refusal = std::string(kAtOption.name) + ": " + given(point.x) + "," +
                                  given(point.y) + " is outside the data: " + xName + " from " +
                                  bound(xs.low, degrees) + " to " + bound(xs.high, degrees) +
                                  " and " + yName + " from " + bound(ys.low, degrees) + " to " +
                                  bound(ys.high, degrees);
            // Degrees given to a projected source, far from its own numbers: the place was
            // most likely meant as longitude and latitude.
            const bool likeDegrees = std::abs(point.x) <= 180 && std::abs(point.y) <= 90;
            if (!degrees && placement.latLon.usable() && likeDegrees && !xs.holds(point.x, 0) &&
                !ys.holds(point.y, 0)) {
                refusal += "; did you mean " + std::string(kAtLatLonOption.name) + " " +
                           given(point.y) + "," + given(point.x) + "?";
            }
            return refusal;
        }
    } else if (start.atLatLon) {
        const double lat = start.atLatLon->first, lon = start.atLatLon->second;
        const std::string name = kAtLatLonOption.name;
        if (!placement.geographic && !placement.latLon.usable()) {
            return name +
                   ": the source has no coordinate system to place latitude and longitude "
                   "in; give " +
                   kAtOption.name + " X,Y instead";
        }
        SourcePoint point{lon, lat};
        bool found =
            placement.geographic || placement.latLon.fromLatLon(lat, lon, point.x, point.y);
        if (found) {
            fieldPointAt(placement, field, point, x, z);
            found = dataBounds(field).holds(x, z, field);
        }
        if (!found) {
            Span lons, lats;
            lonLatSpans(placement, field, lons, lats);
            return name + ": " + given(lat) + "," + given(lon) +
                   " is outside the data: latitude from " + bound(lats.low, true) + " to " +
                   bound(lats.high, true) + " and longitude from " + bound(lons.low, true) +
                   " to " + bound(lons.high, true);
        }
    }
    walker.placeAt(x, z, start.headingDegrees * kRadiansPerDegree);
    walker.setPitch(start.pitchDegrees * kRadiansPerDegree);
    return "";
}

std::string whereText(const Walker& walker, const SourcePlacement& placement, double exaggeration,
                      double detailPixels, const FullResolutionGround* full) {
    const HeightField& field = walker.field();
    std::string text =
        placeText(placement, sourcePointAt(placement, field, walker.x(), walker.z()));
    const double ground = full && full->metres ? *full->metres : walker.groundY() / exaggeration;
    const double above = walker.eye().y - walker.groundY();
    SampleKind kind = kindNear(field, walker.x(), walker.z());
    if (full != nullptr) {
        kind = full->metres ? SampleKind::data
                            : (kind == SampleKind::sea ? SampleKind::sea : SampleKind::missing);
    }
    switch (kind) {
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
    text += "  eye " + metres(above) + " above";
    // Above sea level only where the ground's height is known, and known to be metres: a source
    // without a coordinate system has heights in its cells' unit.
    const bool inMetres = placement.geographic || !placement.crsName.empty();
    if (inMetres && (kind == SampleKind::data || kind == SampleKind::filled)) {
        text += ", alt " + metres(ground + above);
    } else if (inMetres && kind == SampleKind::sea) {
        text += ", alt " + metres(above);
    }
    char pitch[32];
    std::snprintf(pitch, sizeof pitch, "  pitch %+d deg",
                  static_cast<int>(std::lround(walker.pitchRadians() * kDegreesPerRadian)));
    text += "  heading " + compassBearing(walker.headingRadians()) + pitch + "  step " +
            metres(walker.stepMetres());
    char cells[64];
    std::snprintf(cells, sizeof cells, "  cells %.3g x %.3g m",
                  full ? full->cellEast : field.spacingEast,
                  full ? full->cellSouth : field.spacingSouth);
    text += cells;
    if (exaggeration != 1.0) {
        char times[48];
        std::snprintf(times, sizeof times, "  heights x %.3g", exaggeration);
        text += times;
    }
    char detail[48];
    std::snprintf(detail, sizeof detail, detailPixels > 0 ? "  detail %.1f px" : "  detail 0 px",
                  detailPixels);
    return text + detail;
}

}  // namespace raster
