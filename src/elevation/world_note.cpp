#include "world_note.h"

namespace raster {

std::string worldNote(const ElevationSource& source, const ElevationWorld& world) {
    if (!world.stream) {
        return world.grid.note;
    }
    return streamedNote(source, world.grid, world.stream->recipe.layout,
                        world.stream->withoutPyramid);
}

std::string streamedNote(const ElevationSource& source, const ElevationGrid& grid,
                         const StreamLayout& layout, const std::string& withoutPyramid) {
    const int top = layout.topLevel();
    // The voids and regions are counted on the walker's field, a thinned copy of the whole
    // source: their shares are the source's, near enough.
    return joinedNote({source.facts().heightNote,
                       "streamed at full resolution, " + std::to_string(source.width()) + " x " +
                           std::to_string(source.height()) + " samples, first shown from " +
                           std::to_string(layout.samplesAcross(top)) + " x " +
                           std::to_string(layout.samplesDown(top)),
                       noDataNote(grid.noData, grid.field.heights.size()),
                       withoutPyramidNote(withoutPyramid)});
}

std::string withoutPyramidNote(const std::string& reason) {
    return reason.empty() ? ""
                          : "shown from averaged reads of the source, without a pyramid: " + reason;
}

}  // namespace raster
