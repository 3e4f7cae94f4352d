#pragma once
// Picking: the ground point under a pixel of the view, found on the full-resolution height field
// (its bilinear surface, as the readout's ground), never on the level of detail drawn, and said
// in the source's own coordinates and true metres.

#include <optional>
#include <string>

#include "where.h"

namespace raster {

// The unit direction from the eye through the point (px, py) of a width x height view, pixels
// from its top-left corner (a pixel's centre at + 0.5), as drawElevationFrame projects.
Point3 viewRay(const Walker& walker, int width, int height, double px, double py);

// Where the ray from origin along direction first meets the field's bilinear surface, cell by
// cell; nothing when it leaves the field first. Samples without data keep their placeholder
// heights: the sea's 0 m and the lowest height on the rim elsewhere.
std::optional<Point3> groundHit(const HeightField& field, const Point3& origin,
                                const Point3& direction);

struct Pick {
    Point3 point;  // on the field, metres, heights exaggerated as drawn
    SourcePoint place;
    SampleKind kind;  // of the nearest sample
};

// The ground under (px, py) of a width x height view from walker; nothing where the ray meets
// no ground (the sky).
std::optional<Pick> pickAt(const Walker& walker, const SourcePlacement& placement, int width,
                           int height, double px, double py);

// The pick seen from walker, true metres: "46.12345 N 7.54321 E  height 2412 m  distance
// 3456 m  412 m above your ground"; "sea" or "nodata" for the height where the source has none,
// and then no height difference, nor where the walker's own ground has none ("your ground sea").
std::string pickText(const Pick& pick, const Walker& walker, const SourcePlacement& placement,
                     double exaggeration);

// The line for scripts: "pick X Y HEIGHT DISTANCE", X and Y in the source's coordinates, the
// height in true metres, "sea" or "nodata", the distance from walker's eye in true metres, all
// plain decimals.
std::string pickLine(const Pick& pick, const Walker& walker, const SourcePlacement& placement,
                     double exaggeration);

}  // namespace raster
