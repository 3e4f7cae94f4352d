#pragma once
// "Where am I" for elevation mode: the walker's place in the source's own coordinates, the ground
// beneath it, the eye above that and the compass heading, as one line of plain ASCII.

#include <string>

#include "elevation_grid.h"
#include "walker.h"

namespace raster {

struct SourcePoint {
    double x = 0.0;  // easting or longitude
    double y = 0.0;  // northing or latitude
};

// The source coordinates of the field's point (x, z), metres from its north-west sample.
SourcePoint sourcePointAt(const SourcePlacement& placement, const HeightField& field, double x,
                          double z);
// The field's point (x, z) of source coordinates; the inverse of sourcePointAt.
void fieldPointAt(const SourcePlacement& placement, const HeightField& field,
                  const SourcePoint& point, double& x, double& z);
// What the sample nearest the field's point (x, z) holds.
SampleKind kindNear(const HeightField& field, double x, double z);

// "46.12345 N 7.54321 E  ground 2412 m  eye 120 m above  heading NE 047 deg  step 100 m  cells
// 21.5 x 30.9 m  heights x 2"; the ground in true metres (the field's exaggeration taken out),
// or "sea", "no data", "(filled)"; the eye as the walker holds it; the exaggeration when not 1.
std::string whereText(const Walker& walker, const SourcePlacement& placement, double exaggeration);

}  // namespace raster
