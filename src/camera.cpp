#include "camera.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <cmath>

View::View(double eyeX, double eyeY, double eyeZ, double centerX, double centerY, double centerZ,
           double upX, double upY, double upZ)
    : eye_{eyeX, eyeY, eyeZ}, center_{centerX, centerY, centerZ}, up_{upX, upY, upZ} {}

void View::apply() const {
    gluLookAt(eye_.x, eye_.y, eye_.z, center_.x, center_.y, center_.z, up_.x, up_.y, up_.z);
}

View& View::setEyeX(double x) {
    eye_.x = x;
    return *this;
}

View& View::setEyeZ(double z) {
    eye_.z = z;
    return *this;
}

View& View::setCenterX(double x) {
    center_.x = x;
    return *this;
}

View& View::setCenterZ(double z) {
    center_.z = z;
    return *this;
}

Rotator::Rotator(double eyeX, double eyeY, double eyeZ, double centerX, double centerY,
                 double centerZ, double upX, double upY, double upZ)
    : View(eyeX, eyeY, eyeZ, centerX, centerY, centerZ, upX, upY, upZ) {}

View* Rotator::turn(double angle) {
    constexpr double kTwoPi = 2.0 * kPi;
    const double dx = centerX() - eyeX();
    const double dz = centerZ() - eyeZ();
    double heading = std::atan2(dz, dx);
    if (dz < 0) {
        heading += kTwoPi;  // heading in [0, 2pi)
    }
    double a = heading + angle;
    if (a > kTwoPi) {
        a -= kTwoPi;
    }
    if (a < 0) {
        a += kTwoPi;
    }
    const double r = std::sqrt(dx * dx + dz * dz);
    setCenterX(eyeX() + r * std::cos(a));
    setCenterZ(eyeZ() + r * std::sin(a));
    return this;
}

Mover::Mover(double eyeX, double eyeY, double eyeZ, double centerX, double centerY, double centerZ,
             double upX, double upY, double upZ)
    : View(eyeX, eyeY, eyeZ, centerX, centerY, centerZ, upX, upY, upZ) {}

namespace {

struct Step {
    double x, z;
};

// The horizontal view direction scaled to |step|.
Step viewStep(const View& view, double step) {
    const double dx = view.centerX() - view.eyeX();
    const double dz = view.centerZ() - view.eyeZ();
    const double length = std::sqrt(dx * dx + dz * dz);
    return {dx * step / length, dz * step / length};
}

void translate(View& view, double byX, double byZ) {
    const double eyeX = view.eyeX() + byX;
    const double eyeZ = view.eyeZ() + byZ;
    const double centerX = view.centerX() + byX;
    const double centerZ = view.centerZ() + byZ;
    view.setEyeX(eyeX);
    view.setEyeZ(eyeZ);
    view.setCenterX(centerX);
    view.setCenterZ(centerZ);
}

}  // namespace

View* Mover::move(double step) {
    const Step m = viewStep(*this, step);
    translate(*this, m.x, m.z);
    return this;
}

View* Mover::slide(double step) {
    // The view direction turned a quarter to the left: (x, z) -> (z, -x). The step is sideways at
    // every heading.
    const Step m = viewStep(*this, step);
    translate(*this, m.z, -m.x);
    return this;
}

Camera::Camera(double eyeX, double eyeY, double eyeZ, double centerX, double centerY,
               double centerZ, double upX, double upY, double upZ)
    : View(eyeX, eyeY, eyeZ, centerX, centerY, centerZ, upX, upY, upZ), Rotator(), Mover() {}
