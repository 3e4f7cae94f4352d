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

// STL is z up by custom: x east, y north, z up. That turns the solid without mirroring it, so its
// winding stays outward.
Bytes encodeStl(const SolidMesh& mesh);

// OBJ keeps the field's axes (y up, as most 3D programs read OBJ), with smooth normals; texture
// coordinates have t turned upwards as OBJ wants. The top uses material "ground", textured, the
// walls and underside "sides", plain grey. The OBJ names materialName; the material names
// textureName.
Bytes encodeObj(const SolidMesh& mesh, const std::string& materialName);
Bytes encodeMaterial(const std::string& textureName);

// One mesh of two primitives (the textured top; walls and underside in plain grey) sharing their
// vertices, one node, everything in one buffer; y up as glTF is, in metres when life size.
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
// The levels two bytes each, low byte first.
Bytes encodeRaw16(const std::vector<std::uint16_t>& levels);

// Where a heightmap's samples lie: sample (0, 0) at the origin, a sample's own point at the centre
// of its pixel. placed is false for a world and for a raster placed nowhere; crsWkt is empty when
// the source names no coordinate system.
struct Georeference {
    bool placed = false;
    double originX = 0.0;  // source units
    double originY = 0.0;
    double stepX = 1.0;  // per sample east
    double stepY = 1.0;  // per sample south: negative for a northing
    std::string crsWkt;
};

// Written in place of the heights of samples without data (missing, or sea the source left
// empty) in GeoTIFF and ASCII grids, which declare it as their nodata value.
constexpr float kNoDataMetres = -32768.0f;

// The true heights of span in metres, rows north to south, kNoDataMetres where a sample has none.
std::vector<float> tileHeights(const HeightField& field, const TileSpan& span);

// A one-band Float32 GeoTIFF of heights (width a row) with place's CRS and geotransform, written
// by GDAL.
Bytes encodeGeoTiff(int width, int height, const std::vector<float>& heights,
                    const Georeference& place);
// An Esri ASCII grid of the same, written by GDAL.
Bytes encodeAsciiGrid(int width, int height, const std::vector<float>& heights,
                      const Georeference& place);
// A greyscale 16-bit PNG, width levels a row, written by GDAL, with description in its text
// chunk.
Bytes encodePng16(int width, int height, const std::vector<std::uint16_t>& levels,
                  const std::string& description);

// The world file (.pgw) placing an image's pixels; place must be placed.
Bytes worldFile(const Georeference& place);
// The coordinate system as a .prj holds it (Esri WKT); empty when wkt is empty.
Bytes projectionFile(const std::string& wkt);
// GDAL's notes beside an image (NAME.png.aux.xml) naming its coordinate system, which GDAL and
// the GIS programs built on it read with the world file; empty when wkt is empty.
Bytes gdalNotes(const std::string& wkt);
// An ENVI header that lets GDAL and GIS programs read a raw 16-bit heightmap as it is.
Bytes enviHeader(int width, int height, const Georeference& place, const std::string& description);
// What a 16-bit heightmap's levels stand for, as JSON: low and high in metres (of the drawn
// heights), the exaggeration, units, CRS, samples and spacing.
Bytes heightmapJson(int width, int height, LevelRange range, double exaggeration,
                    const HeightField& field, const Georeference& place);

}  // namespace groundtool
