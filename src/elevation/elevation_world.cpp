#include "elevation_world.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "decimal_text.h"
#include "lod_terrain.h"
#include "printable.h"
#include "raster_error.h"

namespace raster {

namespace {

// A height as the field holds it once exaggerated, metres.
float exaggerated(float height, double exaggeration) {
    return static_cast<float>(height * exaggeration);
}

}  // namespace

std::string exaggerationText(double exaggeration) {
    std::ostringstream text;
    text << exaggeration;
    return text.str();
}

std::string exaggerationProblem(const HeightField& field, double exaggeration) {
    if (field.heights.empty()) {
        return "";
    }
    // Multiplying by a positive number and rounding to a float keep the order, so the extremes
    // overflow first.
    const auto [lowest, highest] = std::minmax_element(field.heights.begin(), field.heights.end());
    for (const float height : {*lowest, *highest}) {
        if (!std::isfinite(exaggerated(height, exaggeration))) {
            return "its heights reach " + decimalText(height) + "; times " +
                   exaggerationText(exaggeration) + " that is " +
                   decimalText(height * exaggeration) + ", beyond what a float holds";
        }
    }
    return "";
}

ElevationWorld loadElevationWorld(const std::string& path, double exaggeration) {
    return loadElevationWorld(ElevationSource(path), exaggeration);
}

ElevationWorld loadElevationWorld(const ElevationSource& source, double exaggeration) {
    ElevationWorld world;
    world.grid = readElevation(source);
    // Refused before the texture, the slow part, is computed.
    if (const std::string problem = exaggerationProblem(world.grid.field, exaggeration);
        !problem.empty()) {
        throw RasterError("cannot walk over " + source.shown() + ": " + problem);
    }
    // The texture from the true heights: the tint names real altitudes.
    // Made at the power-of-two size the ground's texture takes, so that the upload need not
    // resample it.
    const auto [width, height] = reliefImageSize(world.grid.field, kReliefTextureSide);
    world.image = reliefImage(world.grid.field, LodTerrain::textureSideFor(width),
                              LodTerrain::textureSideFor(height));
    world.exaggeration = exaggeration;
    for (float& sample : world.grid.field.heights) {
        sample = exaggerated(sample, exaggeration);
    }
    return world;
}

}  // namespace raster
