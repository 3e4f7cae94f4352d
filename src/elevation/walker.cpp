#include "walker.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <stdexcept>

namespace {

double clampTo(double value, double low, double high) {
    return std::min(std::max(value, low), high);
}

// The sample nearest the preferred start that holds ground: first northward up its column, so the
// start still faces the world from its south, then the nearest anywhere.
void groundedStart(const HeightField& field, double& x, double& z) {
    const int column = static_cast<int>(std::lround(x / field.spacingEast));
    const int row = static_cast<int>(std::lround(z / field.spacingSouth));
    for (int r = row; r >= 0; --r) {
        if (field.drawn(column, r)) {
            z = r * field.spacingSouth;
            return;
        }
    }
    double nearest = -1.0;
    for (int r = 0; r < field.rows; ++r) {
        for (int c = 0; c < field.columns; ++c) {
            if (!field.drawn(c, r)) {
                continue;
            }
            const double dx = (c - column) * field.spacingEast, dz = (r - row) * field.spacingSouth;
            const double distance = dx * dx + dz * dz;
            if (nearest < 0 || distance < nearest) {
                nearest = distance;
                x = c * field.spacingEast;
                z = r * field.spacingSouth;
            }
        }
    }
}

}  // namespace

void requireUsableField(const HeightField& field) {
    switch (field.fault()) {
        case FieldFault::shape:
            throw std::invalid_argument("a height field needs " + std::to_string(kMinGridSide) +
                                        " or more columns and rows, finite positive spacings "
                                        "and columns * rows heights and kinds");
        case FieldFault::heights:
            throw std::invalid_argument("a height field's heights must all be finite");
        case FieldFault::none:
            break;
    }
}

double groundHeightAt(const HeightField& field, double x, double z) {
    const double u = clampTo(x / field.spacingEast, 0.0, field.columns - 1.0);
    const double v = clampTo(z / field.spacingSouth, 0.0, field.rows - 1.0);
    const int c = std::min(static_cast<int>(u), field.columns - 2);
    const int r = std::min(static_cast<int>(v), field.rows - 2);
    const double fu = u - c, fv = v - r;
    const double north = field.at(c, r) * (1 - fu) + field.at(c + 1, r) * fu;
    const double south = field.at(c, r + 1) * (1 - fu) + field.at(c + 1, r + 1) * fu;
    return north * (1 - fv) + south * fv;
}

double highestSampleNear(const HeightField& field, double x, double z, double radius) {
    const auto index = [&](double metres, double spacing, int count, double (*round)(double)) {
        return static_cast<int>(clampTo(round(metres / spacing), 0.0, count - 1.0));
    };
    const int c0 = index(x - radius, field.spacingEast, field.columns, std::floor);
    const int c1 = index(x + radius, field.spacingEast, field.columns, std::ceil);
    const int r0 = index(z - radius, field.spacingSouth, field.rows, std::floor);
    const int r1 = index(z + radius, field.spacingSouth, field.rows, std::ceil);
    float highest = field.at(c0, r0);
    for (int r = r0; r <= r1; ++r) {
        for (int c = c0; c <= c1; ++c) {
            highest = std::max(highest, field.at(c, r));
        }
    }
    return highest;
}

Walker::Walker(const HeightField& field) : field_(field) {
    requireUsableField(field);
    restart();
}

void Walker::restart() {
    const double side = std::max(field_.width(), field_.depth());
    eyeHeight_ = std::max(kLowestEyeMetres, kEyeHeightShareOfSide * side);
    step_ = std::max(kSmallestStepMetres, kStepShareOfSide * side);
    pitch_ = kStartPitchRadians;
    double x = field_.width() / 2, z = field_.depth() * (1 - kStartInsetShare);
    if (!field_.complete()) {
        groundedStart(field_, x, z);
    }
    placeAt(x, z, 0.0);
}

void Walker::placeAt(double x, double z, double headingRadians) {
    x_ = clampTo(x, 0.0, field_.width());
    z_ = clampTo(z, 0.0, field_.depth());
    heading_ = std::remainder(headingRadians, 2 * kPi);
    if (heading_ < 0) {
        heading_ += 2 * kPi;  // [0, 2 pi) for the bearing
    }
    settle();
}

void Walker::walk(double steps) {
    const double along = steps * step_;
    placeAt(x_ + along * std::sin(heading_), z_ - along * std::cos(heading_), heading_);
}

void Walker::sideStep(double steps) {
    // Facing north (-z), the right hand points east (+x).
    const double along = steps * step_;
    placeAt(x_ + along * std::cos(heading_), z_ + along * std::sin(heading_), heading_);
}

void Walker::turn(int sign) {
    placeAt(x_, z_, heading_ + (sign > 0 ? kTurnRadians : -kTurnRadians));
}

void Walker::pitch(int sign) {
    setPitch(pitch_ + (sign > 0 ? 1 : -1) * kPitchStepDegrees * kRadiansPerDegree);
}

void Walker::setPitch(double radians) {
    if (std::isfinite(radians)) {
        const double limit = kPitchLimitDegrees * kRadiansPerDegree;
        pitch_ = clampTo(radians, -limit, limit);
    }
}

void Walker::lookAround(double headingRadians, double pitchRadians) {
    setPitch(pitch_ + pitchRadians);
    placeAt(x_, z_, heading_ + headingRadians);
}

void Walker::orbit(const Point3& pivot, double turnRadians, double tiltRadians) {
    const double dx = x_ - pivot.x, dy = eyeY_ - pivot.y, dz = z_ - pivot.z;
    const double level = std::hypot(dx, dz);
    const double distance = std::hypot(level, dy);
    if (!std::isfinite(distance) || distance <= 0.0) {
        return;
    }
    // The eye's bearing from the pivot and its elevation over it; turning right moves the eye
    // anticlockwise round the pivot seen from above, so the pivot stays ahead.
    const double limit = kPitchLimitDegrees * kRadiansPerDegree;
    const double around = std::atan2(dx, -dz) + turnRadians;
    const double over = clampTo(std::atan2(dy, level) + tiltRadians, -limit, limit);
    const double newLevel = distance * std::cos(over);
    const double x = pivot.x + newLevel * std::sin(around);
    const double z = pivot.z - newLevel * std::cos(around);
    const double y = pivot.y + distance * std::sin(over);
    placeAt(x, z, around + kPi);
    setEyeHeight(y - ground_);
    const double toX = pivot.x - x_, toZ = pivot.z - z_;
    setPitch(std::atan2(pivot.y - eyeY_, std::hypot(toX, toZ)));
    if (std::hypot(toX, toZ) > 0.0) {
        placeAt(x_, z_, std::atan2(toX, -toZ));
    }
}

void Walker::raiseEye() {
    setEyeHeight(eyeHeight_ * kEyeHeightFactor);
}

void Walker::lowerEye() {
    setEyeHeight(eyeHeight_ / kEyeHeightFactor);
}

void Walker::setEyeHeight(double metres) {
    if (std::isfinite(metres)) {
        eyeHeight_ = std::max(kLowestEyeMetres, metres);
        settle();
    }
}

void Walker::halveStep() {
    step_ = std::max(kSmallestStepMetres, step_ / 2);
    settle();
}

void Walker::doubleStep() {
    step_ = std::min(std::max(field_.width(), field_.depth()), step_ * 2);
    settle();
}

Point3 Walker::lookAt() const {
    const double level = kLookDistanceMetres * std::cos(pitch_);
    return {x_ + level * std::sin(heading_), eyeY_ + kLookDistanceMetres * std::sin(pitch_),
            z_ - level * std::cos(heading_)};
}

void Walker::settle() {
    ground_ = groundHeightAt(field_, x_, z_);
    highestNearby_ = highestSampleNear(field_, x_, z_, step_);
    const double margin = std::max(kNearbyMarginFloorMetres, kNearbyMarginShare * eyeHeight_);
    eyeY_ = std::max(ground_ + eyeHeight_, highestNearby_ + margin);
}

std::string compassBearing(double headingRadians) {
    static const char* const kPoints[] = {"N", "NE", "E", "SE", "S", "SW", "W", "NW"};
    double degrees = std::fmod(headingRadians * kDegreesPerRadian, 360.0);
    if (degrees < 0) {
        degrees += 360.0;
    }
    const int whole = static_cast<int>(std::lround(degrees)) % 360;
    const int point = static_cast<int>(std::lround(degrees / 45.0)) % 8;
    char text[16];
    std::snprintf(text, sizeof text, "%s %03d deg", kPoints[point], whole);
    return text;
}
