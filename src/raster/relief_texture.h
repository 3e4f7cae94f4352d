#pragma once
// The texture of an imported world, computed from the source at its own resolution (not from the
// grid) and laid out so that, at each vertex's texture coordinate, the viewer shows that vertex's
// own ground.
//
// The viewer gives the vertex of row r and column j the coordinate (s, t) = (j / tileX,
// (r - 1) / tileY) and repeats the texture. With tileX = columns and tileY = rows the texture
// spans the grid exactly once: s runs north to south down the columns, t west to east along the
// rows. A grid sample stands for the ground half a cell into its cell, and t lags one row behind,
// so the texture shows the ground starting half a cell into the first column and one and a half
// cells into the first row, wrapping round to the ground it skipped. The seam this leaves lies
// between the last vertex and the first, where no triangle reaches.

#include <cstdint>
#include <vector>

#include "grid_layout.h"
#include "relief_colours.h"

namespace raster {

class ElevationSource;

constexpr int kMinTextureSide = 64;

struct TextureTiles {
    int tileX;  // texture repeats along columns
    int tileY;  // texture repeats along rows
};
TextureTiles textureTiles(const GridLayout& grid);

// side x side RGB pixels, rows top to bottom, as encodeBmp takes them; kind is not none.
// gridHeights are the grid's samples, gaps filled, rows north to south: where the source has no
// valid height the texture shows theirs.
std::vector<std::uint8_t> reliefTexture(const ElevationSource& source, const GridLayout& grid,
                                        const std::vector<double>& gridHeights, TextureKind kind,
                                        int side, HeightRange range);

}  // namespace raster
