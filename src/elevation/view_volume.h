#pragma once
// What the current OpenGL matrices see: the frustum's planes in world coordinates, boxes against
// them, and how many pixels a metre covers, for choosing levels of detail.

#include <GL/gl.h>

#include <algorithm>
#include <array>
#include <cmath>

#include "walker.h"

struct Plane {
    double a, b, c, d;  // inside where a x + b y + c z + d >= 0
};

struct Box {
    double low[3], high[3];
};

// The six planes of the frustum the current matrices make, in world coordinates.
inline std::array<Plane, 6> currentFrustum() {
    GLdouble projection[16], modelView[16], clip[16];
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    glGetDoublev(GL_MODELVIEW_MATRIX, modelView);
    for (int column = 0; column < 4; ++column) {
        for (int row = 0; row < 4; ++row) {
            double sum = 0;
            for (int k = 0; k < 4; ++k) {
                sum += projection[k * 4 + row] * modelView[column * 4 + k];
            }
            clip[column * 4 + row] = sum;
        }
    }
    const auto row = [&](int r, int k) { return clip[k * 4 + r]; };
    std::array<Plane, 6> planes;
    for (int axis = 0; axis < 3; ++axis) {
        for (int side = 0; side < 2; ++side) {
            const double sign = side == 0 ? 1.0 : -1.0;
            planes[axis * 2 + side] = {
                row(3, 0) + sign * row(axis, 0), row(3, 1) + sign * row(axis, 1),
                row(3, 2) + sign * row(axis, 2), row(3, 3) + sign * row(axis, 3)};
        }
    }
    return planes;
}

inline bool outside(const Box& box, const std::array<Plane, 6>& planes) {
    for (const Plane& p : planes) {
        const double x = p.a >= 0 ? box.high[0] : box.low[0];
        const double y = p.b >= 0 ? box.high[1] : box.low[1];
        const double z = p.c >= 0 ? box.high[2] : box.low[2];
        if (p.a * x + p.b * y + p.c * z + p.d < 0) {
            return true;
        }
    }
    return false;
}

inline double distanceTo(const Box& box, const Point3& eye) {
    const double point[3] = {eye.x, eye.y, eye.z};
    double squared = 0;
    for (int axis = 0; axis < 3; ++axis) {
        const double gap =
            std::max({box.low[axis] - point[axis], 0.0, point[axis] - box.high[axis]});
        squared += gap * gap;
    }
    return std::sqrt(squared);
}

// Pixels a metre seen face on at distance one covers up the current viewport.
inline double currentPixelsPerMetre() {
    GLdouble projection[16];
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    return projection[5] * viewport[3] / 2.0;
}
