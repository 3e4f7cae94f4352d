#pragma once
// What export reads: a world (".3dt", known by its "3D" magic whatever its name) with heights as
// the viewer draws them and its texture unrolled over the field, or any elevation raster.

#include <string>
#include <vector>

#include "export_writers.h"
#include "height_field.h"

namespace groundtool {

struct ExportSource {
    HeightField field;   // metres; a world's world units count as metres
    GroundImage image;   // spans the field
    Georeference place;  // where the field's samples lie in the source
    std::vector<std::string> warnings;
};

// Reads an elevation raster: heights in metres, at most maxSamples on the longer side (export
// averages a larger field down itself), with the picture that goes over it when textured (the
// relief costs a second read of the source, which untextured formats are spared), read through
// the raster library's open policy.
ExportSource loadRasterSource(const std::string& path, int maxSamples, bool textured);

// A world with rows and columns of 2 or more, heights level / 127 * heightScale with the heights
// a short file lacks as 0, as the viewer reads them. Its rows run along x: grid row i is the
// field's column i. The texture comes from the file's folder; a missing one gives plain grey.
ExportSource loadTerrainSource(const std::string& path, double heightScale);

}  // namespace groundtool
