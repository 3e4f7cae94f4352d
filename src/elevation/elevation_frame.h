#pragma once
// One frame of elevation mode, up to the buffer swap: sky, the walker's view and the ground
// under fog. The frame sets every piece of OpenGL state it relies on, so the viewer's window and
// groundtool's headless pbuffer draw the same picture whatever ran before it.

#include <string>

#include "auto_detail.h"
#include "drawn_ground.h"
#include "view_settings.h"
#include "walker.h"

struct ElevationFrameOptions {
    int width = 1024;  // the window or picture, pixels
    int height = 768;
    DetailChoice detail;
    bool wireframe = false;
    FogChoice fog;
};

constexpr double kElevationFieldOfViewDegrees = 45.0;
constexpr double kNearestNearPlaneMetres = 0.1;
// The far edge, seen from the start with automatic fog, keeps a quarter of its own colour.
constexpr double kFarEdgeColourShare = 0.25;

// Automatic fog: ln 4 over the distance from the start's eye to the farthest corner of the
// ground's box.
double automaticFogDensity(const Walker& walker, const DrawnGround& ground);

// The plain beyond the world's edges: a neutral grey-green, fogged like the ground, so that facing
// outward shows a horizon and the world's edge rather than empty sky.
constexpr float kOutsidePlainRgb[3] = {0.50f, 0.52f, 0.46f};

struct ClipDistances {
    double nearPlane, farPlane;  // metres
};
// Near as far out as the ground near the eye allows; far beyond the whole ground.
ClipDistances clipDistances(const Walker& walker, const DrawnGround& ground);

struct ElevationFrame {
    LodDrawStats stats;
    double detailPixels = 0;  // the error in force
};

// Clears, sets viewport, projection, view, depth test and fog, then draws the ground and, around
// it out to the far plane, the plain at its lowest height. Automatic detail carries on from
// governor's last frame; without a governor it is settled afresh for this one picture.
ElevationFrame drawElevationFrame(DrawnGround& ground, const Walker& walker,
                                  const ElevationFrameOptions& options,
                                  AutoDetail* governor = nullptr);
