#pragma once
// Terrain: a grid of signed 8-bit heights with one repeating texture, read from a ".3dt" file
// (see terrain_format.h). One grid step is one world unit.

#include <cstdint>
#include <string>
#include <vector>

#include "byte_source.h"
#include "image.h"
#include "load_report.h"
#include "terrain_format.h"

// The loader's report: the header as the file gave it (fields it did not reach read as in the
// terrain before), and the texture's own report. messages holds the texture's messages too, in
// the order the viewer writes them.
struct TerrainReport : LoadReport {
    terrain_format::Header header;
    std::int64_t headerBytes = 0;  // how many of the 8 header bytes the file held
    std::string textureName;       // "7.bmp"; empty when the loader did not get that far
    BitmapReport texture;
};

// Where the viewer puts the grid: vertex (row i, column j) at x = kOrigin + i, z = kOrigin + j,
// and height h at y = h / kHeightDivisor * the height scale.
namespace scene {
constexpr float kOrigin = -32.0f;
constexpr float kSpacing = 1.0f;
constexpr float kHeightDivisor = 127.0f;
constexpr float kDefaultHeightScale = 0.3f;  // world units for height 127

// The world y of a height byte at a height scale.
constexpr float worldHeight(float level, float heightScale) {
    return level / kHeightDivisor * heightScale;
}
}  // namespace scene

// A terrain as its file gives it, with no OpenGL: the header's fields, the heights and the
// texture bitmap. Parsing it needs no context; Terrain uploads its texture.
struct TerrainGrid {
    std::int8_t rows = 0;
    std::int8_t columns = 0;
    std::int8_t textureNumber = 0;
    std::int8_t tileX = 0;                    // grid columns (along z) per texture repeat
    std::int8_t tileY = 0;                    // grid rows (along x) per texture repeat
    std::vector<std::vector<float>> heights;  // [row][column], -128.0 to 127.0
    Bitmap bitmap;
};

// Reads a terrain from source into grid, writing nothing: file errors leave grid as it was;
// header problems are reported and loading continues; header fields the file does not reach keep
// grid's values; a short file reads as zeros. The texture comes from openTexture.
TerrainReport parseTerrain(ByteSource& source, const SourceOpener& openTexture, TerrainGrid& grid);
// Opens path and parses it, the texture from the file's folder; a file that can't be opened is
// reported under its name alone ("Unable to find file|ground.3dt").
TerrainReport parseTerrainFile(const std::string& path, TerrainGrid& grid);

class Terrain {
  public:
    Terrain() = default;
    Terrain(const Terrain&) = delete;
    Terrain& operator=(const Terrain&) = delete;

    // Reads the file at path and its texture bitmap, found in the file's folder, and uploads
    // the texture; needs a current OpenGL context. Writes the report's messages where the viewer
    // writes them, naming the file by its name alone ("Unable to find file|ground.3dt").
    void load(const std::string& path);
    // parseTerrain into this terrain, writing nothing, then the texture's upload when the file is
    // accepted; the texture comes from openTexture (the working folder by default).
    TerrainReport loadFrom(ByteSource& source,
                           const SourceOpener& openTexture = openerInFolder("."));
    // Opens path and loads it, writing nothing; the texture comes from the file's folder.
    TerrainReport loadFile(const std::string& path);
    // Takes a grid parsed already and uploads its texture; needs a current OpenGL context.
    void show(TerrainGrid grid);

    // Emits rows - 1 triangle strips in immediate mode, textured with this terrain's texture.
    // Heights are scaled by heightScale / 127; origin and spacing are in world units.
    void draw(float originX, float originZ, float heightScale, float spacing) const;

    unsigned textureId() const { return textureId_; }
    int rows() const { return grid_.rows; }
    int columns() const { return grid_.columns; }
    int textureNumber() const { return grid_.textureNumber; }
    int tileX() const { return grid_.tileX; }
    int tileY() const { return grid_.tileY; }
    // [row][column], -128.0 to 127.0
    const std::vector<std::vector<float>>& heights() const { return grid_.heights; }
    const Bitmap& bitmap() const { return grid_.bitmap; }

    // The texture bitmap's file name for a texture number: "7.bmp", "-10.bmp".
    static std::string textureFileName(int textureNumber);

    static constexpr int kMaxGridSize = terrain_format::kMaxGridSize;

  private:
    void createTexture();

    unsigned textureId_ = 0;  // one texture object, reused by every load
    TerrainGrid grid_;
};

// Uploads bitmap, pixels or not, into texture object textureId (a new one when 0), repeating and
// linearly filtered, and returns the object's name; it stays bound.
unsigned uploadTexture(const Bitmap& bitmap, unsigned textureId);

// The scene of one frame: the terrain filled and textured in white, then its strips again as
// black lines 2 pixels wide. Leaves behind line polygon mode, texturing disabled, black colour
// and line width 2.
void drawScene(const Terrain& terrain, float heightScale = scene::kDefaultHeightScale);
