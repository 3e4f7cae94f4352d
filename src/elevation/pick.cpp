#include "pick.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "elevation_frame.h"

namespace raster {

namespace {

Point3 unit(const Point3& v) {
    const double length = std::hypot(v.x, v.y, v.z);
    return {v.x / length, v.y / length, v.z / length};
}

Point3 cross(const Point3& a, const Point3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// The smallest t in [low, high] where a t^2 + b t + c = 0; HUGE_VAL when there is none.
double firstRoot(double a, double b, double c, double low, double high) {
    double roots[2] = {HUGE_VAL, HUGE_VAL};
    const double scale = std::max({std::abs(b), std::abs(c), 1e-300});
    if (std::abs(a) * std::max(1.0, high - low) < 1e-12 * scale) {
        if (b != 0.0) {
            roots[0] = -c / b;
        }
    } else {
        const double discriminant = b * b - 4 * a * c;
        if (discriminant < 0.0) {
            return HUGE_VAL;
        }
        // Without cancellation: q has the sign of b.
        const double q = -0.5 * (b + std::copysign(std::sqrt(discriminant), b));
        roots[0] = q / a;
        roots[1] = q != 0.0 ? c / q : HUGE_VAL;
    }
    double first = HUGE_VAL;
    for (const double t : roots) {
        if (std::isfinite(t) && t >= low && t <= high) {
            first = std::min(first, t);
        }
    }
    return first;
}

// The first t in [low, high] where the ray meets the bilinear patch of cell (c, r), or HUGE_VAL.
double hitInCell(const HeightField& field, int c, int r, const Point3& o, const Point3& d,
                 double low, double high) {
    const double h00 = field.at(c, r), h10 = field.at(c + 1, r);
    const double h01 = field.at(c, r + 1), h11 = field.at(c + 1, r + 1);
    const double u0 = o.x / field.spacingEast - c, du = d.x / field.spacingEast;
    const double v0 = o.z / field.spacingSouth - r, dv = d.z / field.spacingSouth;
    const double a = h00, b = h10 - h00, e = h01 - h00, f = h00 - h10 - h01 + h11;
    // The surface's height less the ray's along t: negative while the ray is above the ground.
    const double constant = a + b * u0 + e * v0 + f * u0 * v0 - o.y;
    const double linear = b * du + e * dv + f * (u0 * dv + v0 * du) - d.y;
    const double square = f * du * dv;
    if (square * low * low + linear * low + constant >= 0.0) {
        return low;  // already at or under the ground where the ray enters the cell
    }
    return firstRoot(square, linear, constant, low, high);
}

std::string fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

double trueDistance(const Pick& pick, const Walker& walker, double exaggeration) {
    const Point3 eye = walker.eye();
    return std::hypot(pick.point.x - eye.x, (pick.point.y - eye.y) / exaggeration,
                      pick.point.z - eye.z);
}

bool hasHeight(SampleKind kind) {
    return kind == SampleKind::data || kind == SampleKind::filled;
}

// What a place without a height is, as both pick lines say it.
const char* noHeightWord(SampleKind kind) {
    return kind == SampleKind::sea ? "sea" : "nodata";
}

}  // namespace

Point3 viewRay(const Walker& walker, int width, int height, double px, double py) {
    const Point3 eye = walker.eye(), centre = walker.lookAt();
    const Point3 forward = unit({centre.x - eye.x, centre.y - eye.y, centre.z - eye.z});
    const Point3 right = unit(cross(forward, {0.0, 1.0, 0.0}));
    const Point3 up = cross(right, forward);
    const double w = std::max(1, width), h = std::max(1, height);
    const double halfHeight = std::tan(kElevationFieldOfViewDegrees * kRadiansPerDegree / 2);
    const double across = (2.0 * px / w - 1.0) * halfHeight * w / h;
    const double along = (1.0 - 2.0 * py / h) * halfHeight;
    return unit({forward.x + across * right.x + along * up.x,
                 forward.y + across * right.y + along * up.y,
                 forward.z + across * right.z + along * up.z});
}

std::optional<Point3> groundHit(const HeightField& field, const Point3& origin,
                                const Point3& direction) {
    // The stretch of the ray over the field.
    double low = 0.0, high = HUGE_VAL;
    const double starts[2] = {origin.x, origin.z}, steps[2] = {direction.x, direction.z};
    const double ends[2] = {field.width(), field.depth()};
    for (int axis = 0; axis < 2; ++axis) {
        if (steps[axis] == 0.0) {
            if (starts[axis] < 0.0 || starts[axis] > ends[axis]) {
                return std::nullopt;
            }
            continue;
        }
        const double a = -starts[axis] / steps[axis], b = (ends[axis] - starts[axis]) / steps[axis];
        low = std::max(low, std::min(a, b));
        high = std::min(high, std::max(a, b));
    }
    if (!(low <= high)) {
        return std::nullopt;
    }
    // Cell by cell along the ray, as it crosses column and row lines.
    const auto cellOf = [](double metres, double spacing, int count) {
        return std::min(std::max(static_cast<int>(std::floor(metres / spacing)), 0), count - 2);
    };
    int c = cellOf(origin.x + low * direction.x, field.spacingEast, field.columns);
    int r = cellOf(origin.z + low * direction.z, field.spacingSouth, field.rows);
    const int stepC = direction.x > 0 ? 1 : -1, stepR = direction.z > 0 ? 1 : -1;
    const auto crossing = [](double start, double step, int cell, double spacing) {
        if (step == 0.0) {
            return HUGE_VAL;
        }
        return ((step > 0 ? cell + 1 : cell) * spacing - start) / step;
    };
    double nextC = crossing(origin.x, direction.x, c, field.spacingEast);
    double nextR = crossing(origin.z, direction.z, r, field.spacingSouth);
    const double alongC = direction.x != 0.0 ? field.spacingEast / std::abs(direction.x) : HUGE_VAL;
    const double alongR =
        direction.z != 0.0 ? field.spacingSouth / std::abs(direction.z) : HUGE_VAL;
    for (double t = low; t <= high;) {
        const double exit = std::min({nextC, nextR, high});
        if (exit >= t) {
            const double hit = hitInCell(field, c, r, origin, direction, t, exit);
            if (hit != HUGE_VAL) {
                const double x = origin.x + hit * direction.x, z = origin.z + hit * direction.z;
                // On the surface itself, so the height is the bilinear one to the last bit.
                return Point3{x, groundHeightAt(field, x, z), z};
            }
        }
        if (exit >= high) {
            break;
        }
        if (nextC < nextR) {
            c += stepC;
            t = nextC;
            nextC += alongC;
        } else {
            r += stepR;
            t = nextR;
            nextR += alongR;
        }
        if (c < 0 || c > field.columns - 2 || r < 0 || r > field.rows - 2) {
            break;
        }
    }
    return std::nullopt;
}

std::optional<Pick> pickAt(const Walker& walker, const SourcePlacement& placement, int width,
                           int height, double px, double py) {
    const HeightField& field = walker.field();
    const std::optional<Point3> hit =
        groundHit(field, walker.eye(), viewRay(walker, width, height, px, py));
    if (!hit) {
        return std::nullopt;
    }
    return Pick{*hit, sourcePointAt(placement, field, hit->x, hit->z),
                kindNear(field, hit->x, hit->z)};
}

std::string pickText(const Pick& pick, const Walker& walker, const SourcePlacement& placement,
                     double exaggeration) {
    std::string text = placeText(placement, pick.place) + "  ";
    if (hasHeight(pick.kind)) {
        text += "height " + fixed(pick.point.y / exaggeration, 0) + " m" +
                (pick.kind == SampleKind::filled ? " (filled)" : "");
    } else {
        text += noHeightWord(pick.kind);
    }
    text += "  distance " + fixed(trueDistance(pick, walker, exaggeration), 0) + " m";
    // A height difference only between two heights: a placeholder is none.
    if (!hasHeight(pick.kind)) {
        return text;
    }
    const SampleKind under = kindNear(walker.field(), walker.x(), walker.z());
    if (!hasHeight(under)) {
        return text + "  your ground " + noHeightWord(under);
    }
    text += "  ";
    const double rise = (pick.point.y - walker.groundY()) / exaggeration;
    const std::string metres = fixed(std::abs(rise), 0);
    return text + (metres == "0"
                       ? std::string("level with your ground")
                       : metres + " m " + (rise > 0 ? "above" : "below") + " your ground");
}

std::string pickLine(const Pick& pick, const Walker& walker, const SourcePlacement& placement,
                     double exaggeration) {
    // Degrees to about a millimetre, other units to a millimetre of a metre.
    const int decimals = placement.geographic ? 8 : 3;
    return "pick " + fixed(pick.place.x, decimals) + " " + fixed(pick.place.y, decimals) + " " +
           (hasHeight(pick.kind) ? fixed(pick.point.y / exaggeration, 3)
                                 : std::string(noHeightWord(pick.kind))) +
           " " + fixed(trueDistance(pick, walker, exaggeration), 3);
}

}  // namespace raster
