#include "elevation_world.h"

#include "lod_terrain.h"

namespace raster {

ElevationWorld loadElevationWorld(const std::string& path, double exaggeration) {
    return loadElevationWorld(ElevationSource(path), exaggeration);
}

ElevationWorld loadElevationWorld(const ElevationSource& source, double exaggeration) {
    ElevationWorld world;
    world.grid = readElevation(source);
    // The texture from the true heights: the tint names real altitudes.
    // Made at the power-of-two size the ground's texture takes, so that the upload need not
    // resample it.
    const auto [width, height] = reliefImageSize(world.grid.field, kReliefTextureSide);
    world.image = reliefImage(source, world.grid.field, LodTerrain::textureSideFor(width),
                              LodTerrain::textureSideFor(height));
    world.exaggeration = exaggeration;
    for (float& height : world.grid.field.heights) {
        height = static_cast<float>(height * exaggeration);
    }
    return world;
}

}  // namespace raster
