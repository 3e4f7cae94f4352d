#pragma once
// Terrain: a grid of signed 8-bit heights with one repeating texture, read from a ".3dt" file.
//
// The file, all single bytes:
//   0-1  "3D"            2  type, 1 = terrain
//   3    rows (signed)   4  columns (signed), 0 to 127
//   5    texture number (signed, not 0): the texture is "<number>.bmp"
//   6    tileX (signed, > 0)  7  tileY (signed, > 0)
//   8-   rows * columns heights, row-major, signed
// Rows run along world x, columns along world z; one grid step is one world unit.

#include <cstdint>
#include <string>
#include <vector>

#include "image.h"

class ByteSource;

class Terrain {
  public:
    Terrain() = default;
    Terrain(const Terrain&) = delete;
    Terrain& operator=(const Terrain&) = delete;

    // Reads fileName and its texture bitmap and uploads the texture; needs a current OpenGL
    // context. File errors go to the error log and leave the terrain as it was; header problems
    // go to standard error and loading continues; a short file reads as zeros.
    void load(const std::string& fileName);
    // The same from any byte source; fileName is used in messages only.
    void loadFrom(ByteSource& source, const std::string& fileName);

    // Emits rows - 1 triangle strips in immediate mode, textured with this terrain's texture.
    // Heights are scaled by heightScale / 127; origin and spacing are in world units.
    void draw(float originX, float originZ, float heightScale, float spacing) const;

    unsigned textureId() const { return textureId_; }
    int rows() const { return rows_; }
    int columns() const { return columns_; }
    int textureNumber() const { return textureNumber_; }
    int tileX() const { return tileX_; }
    int tileY() const { return tileY_; }
    // [row][column], -128.0 to 127.0
    const std::vector<std::vector<float>>& heights() const { return heights_; }
    const Bitmap& bitmap() const { return bitmap_; }

    // The texture bitmap's file name for a texture number: "7.bmp", "-10.bmp".
    static std::string textureFileName(int textureNumber);

    static constexpr int kMaxGridSize = 127;

  private:
    void createTexture();

    unsigned textureId_ = 0;  // one texture object, reused by every load
    std::int8_t rows_ = 0;
    std::int8_t columns_ = 0;
    std::int8_t textureNumber_ = 0;
    std::int8_t tileX_ = 0;  // grid columns (along z) per texture repeat
    std::int8_t tileY_ = 0;  // grid rows (along x) per texture repeat
    std::vector<std::vector<float>> heights_;
    Bitmap bitmap_;
};

// The scene of one frame: the terrain filled and textured in white, then its strips again as
// black lines 2 pixels wide. Leaves behind line polygon mode, texturing disabled, black colour
// and line width 2.
void drawScene(const Terrain& terrain);
