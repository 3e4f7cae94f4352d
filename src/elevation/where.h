#pragma once
// "Where am I" for elevation mode: the walker's place in the source's own coordinates, the ground
// beneath it, the eye above that and the compass heading, as one line of plain ASCII.

#include <optional>
#include <string>

#include "elevation_grid.h"
#include "view_settings.h"
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

// A place as the readout names it: "46.12345 N 7.54321 E" for a geographic source, else
// "E 2600000.0 N 1200000.0 (CH1903+ / LV95) 46.95108 N 7.43863 E" (the name and degrees where
// known).
std::string placeText(const SourcePlacement& placement, const SourcePoint& point);

// Puts walker where start says, its own start unless at or atLatLon gives a place, and turns it
// to start's heading and pitch. "" once placed; else, placing nothing, the usage problem:
// "--at: 8,46 is outside the data: longitude from 7 to 7.25 and latitude from 46 to 46.2".
std::string placeWalker(Walker& walker, const SourcePlacement& placement, const ViewStart& start);

// "46.12345 N 7.54321 E  ground 2412 m  eye 120 m above, alt 2532 m  heading NE 047 deg  pitch
// -10 deg  step 100 m  cells 21.5 x 30.9 m  heights x 2  detail 3.2 px"; the ground in true metres
// (the field's exaggeration taken out), or "sea", "no data", "(filled)"; the eye as the walker
// holds it, and its altitude (the ground plus the eye's height) where the ground is known in
// metres; the pitch, up positive; the exaggeration when not 1; the pixel error the ground is
// drawn with, "detail 0 px" at full detail.
// With full, for ground streamed over a thinner walker's field: the ground and the cells as the
// source holds them at full resolution.
struct FullResolutionGround {
    std::optional<double> metres;  // true metres; nothing where the source has no data
    double cellEast = 0, cellSouth = 0;
};
std::string whereText(const Walker& walker, const SourcePlacement& placement, double exaggeration,
                      double detailPixels, const FullResolutionGround* full = nullptr);

}  // namespace raster
