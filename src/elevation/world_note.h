#pragma once
// What the viewer makes of an elevation source, in the words its notes and groundtool info both
// print: a source streamed at full resolution and the level first shown of it, or a source held
// whole and what averaging it took; its height unit where it is not metres; the voids filled and
// the regions left without data; why a streamed source is shown without a pyramid.

#include <string>

#include "elevation_grid.h"
#include "elevation_source.h"
#include "elevation_world.h"
#include "stream_layout.h"

namespace raster {

// "streamed at full resolution, 6000 x 5000 samples, first shown from 47 x 40; 3 voids filled
// (0.1% of the samples)"; for a source held whole, the grid's own note ("averaged down from 8000 x
// 300 to 4097 x 154 samples"). Empty when the source is shown as it is.
std::string worldNote(const ElevationSource& source, const ElevationWorld& world);
// The same of a streamed source whose walker's field is grid, its ground laid out as layout;
// withoutPyramid is the cache's reason for going without one, "" when there is none.
std::string streamedNote(const ElevationSource& source, const ElevationGrid& grid,
                         const StreamLayout& layout, const std::string& withoutPyramid);
// "shown from averaged reads of the source, without a pyramid: REASON"; "" without a reason.
std::string withoutPyramidNote(const std::string& reason);

}  // namespace raster
