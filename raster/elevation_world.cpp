#include "elevation_world.h"

namespace raster {

ElevationWorld loadElevationWorld(const std::string& path, double exaggeration) {
    ElevationWorld world;
    world.grid = readElevation(path);
    // The texture from the true heights: the tint names real altitudes.
    world.image = reliefImage(path, world.grid.field, kReliefTextureSide);
    world.exaggeration = exaggeration;
    for (float& height : world.grid.field.heights) {
        height = static_cast<float>(height * exaggeration);
    }
    return world;
}

}  // namespace raster
