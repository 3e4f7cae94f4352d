#pragma once
// The ground as a closed solid for printing and for 3D programs: the top surface over every
// sample, four walls straight down to a flat underside, and the underside itself. Tiles cut the
// field along sample lines, so neighbouring tiles share their edge samples and meet exactly.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "height_field.h"

namespace groundtool {

// What a mesh does where the field holds no data: cut it away, walls following the data's outline
// down to the underside, or fill it at the placeholder heights as a whole rectangle.
enum class Outline { cut, fill };

// The samples one tile covers, inclusive on both ends.
struct TileSpan {
    int firstColumn = 0;
    int lastColumn = 0;
    int firstRow = 0;
    int lastRow = 0;
    int columns() const { return lastColumn - firstColumn + 1; }
    int rows() const { return lastRow - firstRow + 1; }
};

// across x down tiles in reading order (north-west first, rows of tiles north to south); each
// has at least two samples each way. Throws ToolError when the field is too small to cut so.
std::vector<TileSpan> splitTiles(const HeightField& field, int across, int down);

// How metres become model units. Positions keep the field's axes (x east, y up, z south), centred
// on the whole field's middle across and with the underside at y = 0, so 3D programs find the model
// at their origin and tiles of one field still meet.
struct SolidScale {
    double unitsPerMetre = 1.0;  // across and up alike
    double exaggeration = 1.0;   // heights only
    double baseLevel = 0.0;      // unscaled model units of the underside, below the lowest vertex
    double centreX = 0.0;        // model units of the field's middle, from its north-west sample
    double centreZ = 0.0;
    // With a cut outline: the thickness of a plate under the whole rectangle that joins the
    // islands into one part, in model units; 0 leaves each island a part of its own.
    double plate = 0.0;
};

// The scale for a field: life size, or the longer side widthMm wide; the underside baseThickness
// model units below the lowest exaggerated height (of the drawn samples only when cut).
SolidScale solidScale(const HeightField& field, double exaggeration, double widthMm,
                      double baseThickness, Outline outline);

// The top surface first (topTriangles of them, smoothly shaded over the ground), then the walls
// and the underside in plain colour; walls and underside have vertices of their own, so their
// normals stay sideways and down.
struct SolidMesh {
    std::vector<float> positions;  // x, y, z per vertex, model units
    std::vector<float> normals;    // unit x, y, z per vertex: smooth over the top, outward below
    // s, t per vertex: x / width and z / depth of the whole field, so each vertex shows its own
    // ground; wall and underside vertices take the (s, t) of the top vertex above them.
    std::vector<float> textureCoordinates;
    std::vector<std::uint32_t> triangles;  // counter-clockwise seen from outside
    std::size_t topTriangles = 0;
    std::size_t vertexCount() const { return positions.size() / 3; }
    std::size_t triangleCount() const { return triangles.size() / 3; }
};

// With Outline::cut over a field with no-data samples, the solid covers only the cells whose four
// corners are drawn, minus any cell that would touch another only at a corner (so every edge has
// two facets); each island of cells is a closed solid of its own, its underside one pair of
// triangles per cell. Throws ToolError when no cell is left.
SolidMesh buildSolid(const HeightField& field, const TileSpan& span, const SolidScale& scale,
                     Outline outline);

// Triangles of the solid over columns x rows samples: two per cell, two per wall segment and one
// per underside segment.
std::uint64_t solidTriangleCount(std::int64_t columns, std::int64_t rows);

// The most samples on the longer side of a square field whose solid stays under maxTriangles.
int samplesForTriangles(std::uint64_t maxTriangles);

// The field averaged down (each new sample the mean of the source area it covers) so its longer
// side has at most maxSamples samples; the corners stay where they were. A field already that
// small comes back unchanged. A new sample holds data only when every sample it averages does:
// its kind is the least drawn of theirs, so a cut outline never rests on a placeholder height.
HeightField averagedDown(const HeightField& field, int maxSamples);

}  // namespace groundtool
