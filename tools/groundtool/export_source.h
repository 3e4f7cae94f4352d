#pragma once
// What export reads: a world (".3dt", known by its "3D" magic whatever its name) with heights as
// the viewer draws them and its texture unrolled over the field, or any elevation raster.

#include <string>
#include <vector>

#include "export_writers.h"
#include "height_field.h"
#include "open_world.h"

namespace groundtool {

struct ExportSource {
    HeightField field;   // metres; a world's world units count as metres
    GroundImage image;   // spans the field
    Georeference place;  // where the field's samples lie in the source
    std::vector<std::string> warnings;
};

// Reads an elevation raster open in its reader: heights in metres, at most maxSamples on the
// longer side (export averages a larger field down itself), with the picture that goes over it
// when textured (the relief costs a second read of the source, which untextured formats are
// spared). For a cut outline, a source with no-data that is read averaged is read again as fine
// as the reader goes: averaged by the reader, a sample at the edge of the data takes the data's
// height alone and holds data, where export's own averaging leaves it without.
ExportSource loadRasterSource(const raster::ElevationSource& source,
                              const raster::SourceWindow& window, int maxSamples, bool textured,
                              bool cutOutline);

// The whole source pixels an area covers, clipped to the source: area is "W,S,E,N" in the source's
// coordinates or, with latLon, "S,W,N,E" in degrees of WGS 84. Throws ToolError (usage), giving
// the source's own range, for an area that is no four numbers, is empty or lies outside the data.
raster::SourceWindow areaWindow(const raster::SourceFacts& facts, const std::string& area,
                                bool latLon);

// A world at path as the viewer's loader read it, with rows and columns of 2 or more; heights
// level / 127 * heightScale. Its rows run along x: grid row i is the field's column i. A missing
// texture gives plain grey. Throws ToolError when the file can't be opened or the loader refuses
// it, with the loader's message.
ExportSource loadTerrainSource(const std::string& path, const ClassicWorld& world,
                               double heightScale);

}  // namespace groundtool
