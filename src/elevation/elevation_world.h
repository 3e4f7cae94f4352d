#pragma once
// An elevation raster made ready to walk over, the same way for the viewer and for groundtool
// render, before any window opens, so a source that can't be used is refused without one: a
// source up to kLargestHeldSide a side read whole with its relief texture computed; a larger one
// thinned for the walker, its ground streamed in chunks (through its overviews or pyramid) as
// they come into view. Heights exaggerated as asked.

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "chunk_loader.h"
#include "drawn_ground.h"
#include "elevation_grid.h"
#include "view_settings.h"

namespace raster {

// A source with a side beyond this many samples is streamed rather than read whole.
constexpr int kLargestHeldSide = 4097;
// A streamed source's walker walks over a field of at most this many samples a side.
constexpr int kStreamedFieldSide = 2049;

// The side beyond which sources are streamed: kLargestHeldSide, or a smaller one that
// GROUNDVIEW_STREAM_ABOVE names, so that tests stream small sources.
int largestHeldSide();
// The bytes of chunks streamed ground keeps: StreamedTerrain's default, or fewer as
// GROUNDVIEW_CHUNK_CACHE_BYTES names, so that tests fill the cache.
std::size_t chunkCacheBytes();

// How streamed ground is read, and its top level's chunks, read already.
struct StreamPlan {
    ChunkRecipe recipe;
    std::vector<ChunkData> roots;
    std::shared_ptr<const ElevationSource> keptSource;  // when the world opened it itself
    // The source's pyramid from the user's cache, for a source without overviews of its own.
    std::shared_ptr<const ElevationSource> pyramid;
    // Why a source without overviews is read through averaged reads of its own instead of a
    // pyramid (the cache is full or can't be written), "" otherwise.
    std::string withoutPyramid;
};

struct ElevationWorld {
    // Read whole, or for a streamed source thinned to kStreamedFieldSide: the ground the walker
    // walks over, which places the streamed chunks.
    ElevationGrid grid;
    GroundImage image;  // the relief of ground read whole
    double exaggeration = 1.0;
    std::optional<StreamPlan> stream;  // for a streamed source
};

// An exaggeration as written, to 6 significant digits: "1.001", "0.001", "2.5".
std::string exaggerationText(double exaggeration);

// Why field's heights can't be multiplied by exaggeration: "its heights reach -3.4e+38; times 2
// that is -6.8e+38, beyond what a float holds". Empty when every product is a finite float.
std::string exaggerationProblem(const HeightField& field, double exaggeration);

// Reads path under the open policy and multiplies its heights by exaggeration (kMinExaggeration
// to kMaxExaggeration). Throws RasterError on one line, also when a product overflows a float.
ElevationWorld loadElevationWorld(const std::string& path, double exaggeration);
// Called with the share done, 0 to 1, while a pyramid is built.
using PyramidProgress = std::function<void(double share)>;

// The same from a source already open, which must outlive a streamed world. A streamed source
// without overviews of its own is read through its pyramid in the user's cache, built first
// when it is missing, progress told meanwhile.
ElevationWorld loadElevationWorld(const ElevationSource& source, double exaggeration,
                                  const PyramidProgress& progress = {});

// The ground world draws: its field with its relief, the relief handed to OpenGL and emptied, or
// for a streamed world its chunks, the roots taken from the plan. Needs a current OpenGL
// context, still current when the ground goes; world must outlive the ground.
std::unique_ptr<DrawnGround> groundOf(ElevationWorld& world);

}  // namespace raster
