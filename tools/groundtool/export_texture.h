#pragma once
// The picture laid over an exported field: a world's repeating texture unrolled into one image
// that spans the field, and the part of an image one tile needs.

#include "export_mesh.h"
#include "height_field.h"

class Bitmap;

namespace groundtool {

// How a world repeats its bitmap: texture coordinate s advances 1 / tileX per grid column (along
// z), t advances 1 / tileY per grid row (along x) and lags one row behind, as the viewer draws.
struct TextureRepeat {
    int tileX = 1;
    int tileY = 1;
};

// Plain grey, for ground without a picture.
GroundImage plainGround();

// The image the viewer shows on the field, sampled from bitmap (rows bottom first, as loaded)
// with wrap-around and linear filtering. An empty bitmap gives plain grey.
GroundImage unrolledTexture(const Bitmap& bitmap, TextureRepeat repeat, const HeightField& field);

// The texels covering span (plus the ones straddling its edges) and the mesh's texture
// coordinates moved onto them.
GroundImage tileImage(const GroundImage& image, const HeightField& field, const TileSpan& span,
                      SolidMesh& mesh);

}  // namespace groundtool
