#pragma once
// The byte layouts export writes: binary STL, Wavefront OBJ with its material, glTF 2.0 binary
// (GLB) and 16-bit heightmaps as PNG or raw little-endian samples.

#include <cstdint>
#include <string>
#include <vector>

#include "export_mesh.h"
#include "file_output.h"
#include "height_field.h"

namespace groundtool {

// STL is z up by custom: x east, y north (measured from the field's south edge, fieldDepth model
// units from its north edge), z up. That turns the solid without mirroring it, so its winding
// stays outward.
Bytes encodeStl(const SolidMesh& mesh, double fieldDepth);

// OBJ keeps the field's axes (y up, as most 3D programs read OBJ); texture coordinates have t
// turned upwards as OBJ wants. The OBJ names materialName; the material names textureName.
Bytes encodeObj(const SolidMesh& mesh, const std::string& materialName);
Bytes encodeMaterial(const std::string& textureName);

// One mesh, one node, one textured material, everything in one buffer; y up as glTF is, in
// metres when the mesh is life size.
Bytes encodeGlb(const SolidMesh& mesh, const Bytes& texturePng);

// What levels 0 and 65535 of a 16-bit heightmap stand for, in metres; level 0 is the lowest
// sample, 65535 the highest (a flat field spans one metre from its height).
struct LevelRange {
    double low = 0.0;
    double high = 1.0;
};
LevelRange levelRange(const HeightField& field, double exaggeration);

// The samples of span as levels, rows north to south, each west to east.
std::vector<std::uint16_t> heightLevels(const HeightField& field, const TileSpan& span,
                                        double exaggeration, LevelRange range);
// A greyscale 16-bit PNG, width levels a row.
Bytes encodePng16(int width, int height, const std::vector<std::uint16_t>& levels);
// The levels two bytes each, low byte first.
Bytes encodeRaw16(const std::vector<std::uint16_t>& levels);

}  // namespace groundtool
