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
SourcePoint sourcePointAt(const SourcePlacement& placement, double spacing, double x, double z);
// The field's point (x, z) of source coordinates; the inverse of sourcePointAt.
void fieldPointAt(const SourcePlacement& placement, double spacing, const SourcePoint& point,
                  double& x, double& z);

// "46.12345 N 7.54321 E  ground 2412 m  eye 120 m above  heading NE 047 deg"; the ground in true
// metres (the field's exaggeration taken out), the eye as the walker holds it.
std::string whereText(const Walker& walker, const SourcePlacement& placement, double exaggeration);

}  // namespace raster
