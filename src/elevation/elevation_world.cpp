#include "elevation_world.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <sstream>

#include "decimal_text.h"
#include "lod_terrain.h"
#include "printable.h"
#include "pyramid_cache.h"
#include "raster_error.h"
#include "streamed_terrain.h"

namespace raster {

namespace {

// A height as the field holds it once exaggerated, metres.
float exaggerated(float height, double exaggeration) {
    return static_cast<float>(height * exaggeration);
}

// A whole number from the environment within [low, high], or fallback.
long long environmentNumber(const char* name, long long fallback, long long low, long long high) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') {
        return fallback;
    }
    char* end = nullptr;
    const long long value = std::strtoll(text, &end, 10);
    return *end == '\0' && value >= low && value <= high ? value : fallback;
}

// The walker's field thinned from the whole source, and the chunks of the top level.
ElevationWorld loadStreamedWorld(const ElevationSource& source, double exaggeration,
                                 const PyramidProgress& progress) {
    // Levels coarser than the source's own pixels come from its overviews, or else from its
    // pyramid, each of whose pixels is a 2 x 2 box of the source's.
    // Without room in the cache, the source's own averaged reads stand in for the pyramid.
    std::shared_ptr<const ElevationSource> pyramid;
    std::string withoutPyramid;
    if (source.facts().overviews == 0) {
        const CachedPyramidOf cached = cachedPyramidOf(source, progress);
        if (cached.path.empty()) {
            withoutPyramid = cached.withoutPyramid;
        } else {
            pyramid = std::make_shared<const ElevationSource>(cached.path);
        }
    }
    // The walker's field is read from the pyramid where its first level still has samples to
    // spare: faster, and as fine.
    const bool fromPyramid =
        pyramid && std::max(source.width(), source.height()) > 2 * kStreamedFieldSide;
    const ElevationSource& coarse = fromPyramid ? *pyramid : source;
    const double perPixel = fromPyramid ? 2.0 : 1.0;  // source pixels a pixel of coarse spans
    ElevationWorld world;
    world.grid = readElevation(coarse, kDefaultMaxSamples, kStreamedFieldSide);
    if (const std::string problem = exaggerationProblem(world.grid.field, exaggeration);
        !problem.empty()) {
        throw RasterError("cannot walk over " + source.shown() + ": " + problem);
    }
    const SourceFacts& facts = source.facts();
    const HeightField& field = world.grid.field;
    // The field's sample i stands at the centre of its box of width / columns pixels.
    const double boxEast = perPixel * coarse.width() / field.columns;
    const double boxSouth = perPixel * coarse.height() / field.rows;
    StreamPlan plan;
    plan.recipe.source = &source;
    plan.recipe.halved = pyramid ? pyramid.get() : &source;
    plan.pyramid = std::move(pyramid);
    plan.withoutPyramid = std::move(withoutPyramid);
    plan.recipe.layout =
        StreamLayout(facts.width, facts.height, facts.ground.cellEast, facts.ground.cellNorth,
                     0.5 * boxEast - 0.5, 0.5 * boxSouth - 0.5);
    plan.recipe.exaggeration = exaggeration;
    const HeightBounds drawn = field.drawnRange();
    plan.recipe.tint = {drawn.low, drawn.high};
    if (!field.complete()) {
        plan.recipe.whole = std::make_shared<const HeightField>(field);
    }
    const StreamLayout& layout = plan.recipe.layout;
    const int top = layout.topLevel();
    for (int row = 0; row < layout.chunksDown(top); ++row) {
        for (int column = 0; column < layout.chunksAcross(top); ++column) {
            plan.roots.push_back(makeChunk(plan.recipe, {top, column, row}));
        }
    }
    world.stream = std::move(plan);
    world.exaggeration = exaggeration;
    for (float& sample : world.grid.field.heights) {
        sample = exaggerated(sample, exaggeration);
    }
    return world;
}

}  // namespace

int largestHeldSide() {
    return static_cast<int>(environmentNumber("GROUNDVIEW_STREAM_ABOVE", kLargestHeldSide,
                                              kMinGridSide, kLargestHeldSide));
}

std::size_t chunkCacheBytes() {
    return static_cast<std::size_t>(environmentNumber(
        "GROUNDVIEW_CHUNK_CACHE_BYTES", static_cast<long long>(StreamedTerrain::kDefaultCacheBytes),
        1, static_cast<long long>(StreamedTerrain::kDefaultCacheBytes)));
}

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
    const HeightBounds bounds = field.drawnRange(true);
    for (const float height : {bounds.low, bounds.high}) {
        if (!std::isfinite(exaggerated(height, exaggeration))) {
            return "its heights reach " + decimalText(height) + "; times " +
                   exaggerationText(exaggeration) + " that is " +
                   decimalText(height * exaggeration) + ", beyond what a float holds";
        }
    }
    return "";
}

ElevationWorld loadElevationWorld(const std::string& path, double exaggeration) {
    auto source = std::make_shared<const ElevationSource>(path);
    ElevationWorld world = loadElevationWorld(*source, exaggeration);
    if (world.stream) {
        world.stream->keptSource = std::move(source);
    }
    return world;
}

ElevationWorld loadElevationWorld(const ElevationSource& source, double exaggeration,
                                  const PyramidProgress& progress) {
    if (source.width() > largestHeldSide() || source.height() > largestHeldSide()) {
        return loadStreamedWorld(source, exaggeration, progress);
    }
    ElevationWorld world;
    world.grid = readElevation(source);
    // Refused before the texture, the slow part, is computed.
    if (const std::string problem = exaggerationProblem(world.grid.field, exaggeration);
        !problem.empty()) {
        throw RasterError("cannot walk over " + source.shown() + ": " + problem);
    }
    // The texture from the true heights: the tint names real altitudes.
    // Made at the power-of-two size the ground's texture takes, so that the upload need not
    // resample it, and as large as textures go: mipmapped, distant ground does not shimmer, and
    // OpenGL's own maximum lowers it where that is smaller.
    const auto [width, height] = reliefImageSize(world.grid.field, kMaxTextureSide);
    world.image = reliefImage(world.grid.field, LodTerrain::textureSideFor(width),
                              LodTerrain::textureSideFor(height));
    world.exaggeration = exaggeration;
    for (float& sample : world.grid.field.heights) {
        sample = exaggerated(sample, exaggeration);
    }
    return world;
}

std::unique_ptr<DrawnGround> groundOf(ElevationWorld& world) {
    const HeightField& field = world.grid.field;
    if (!world.stream) {
        auto ground = std::make_unique<LodTerrain>(field, world.image);
        world.image = GroundImage{};  // uploaded: the pixels are OpenGL's now
        return ground;
    }
    auto [lowest, highest] = field.drawnRange();
    for (const ChunkData& root : world.stream->roots) {
        if (!root.empty) {
            lowest = std::min(lowest, root.lowest);
            highest = std::max(highest, root.highest);
        }
    }
    const ChunkRecipe recipe = world.stream->recipe;
    return std::make_unique<StreamedTerrain>(
        recipe.layout, std::move(world.stream->roots),
        [recipe](const ChunkKey& key) { return makeChunk(recipe, key); }, lowest, highest,
        chunkCacheBytes());
}

}  // namespace raster
