#pragma once
// A height field of up to 4097 x 4097 samples drawn with level of detail. The grid is cut into
// square chunks; each chunk has levels that keep every 1st, 2nd, 4th ... sample, and each frame
// draws, for every chunk inside the view, the coarsest level whose typical (root mean square)
// vertical error projects to no more than a given number of pixels and whose largest projects to
// no more than a few times that, nearest chunks first. Where neighbours are drawn at different
// levels a skirt hangs from the edge, as deep as their edges can part, so no crack shows. Ground is
// textured by texture-coordinate generation from x and z, so vertices carry positions only. No
// vertex stands on a sample without data: a chunk that has some draws, at each level, only the
// cells whose four corners have data, and at full detail no triangle touches such a sample. The
// other cells of the same level are drawn flat, as water at 0 m or as the no-data floor, with walls
// down to them from the ground's edge (water.h); skirts beside no data hang down to its level.
// A frame's choice of levels is made and its triangles counted before any level is built or
// drawn. Plain OpenGL 1.1 with client arrays.

#include <GL/gl.h>

#include <array>
#include <cstddef>
#include <limits>
#include <map>
#include <utility>
#include <vector>

#include "drawn_ground.h"
#include "height_field.h"
#include "water.h"

class LodTerrain : public DrawnGround {
  public:
    static constexpr int kChunkCells = 64;  // cells along each side of a full chunk
    static constexpr int kLevels = 7;       // strides 1, 2, 4 ... kChunkCells
    // Checks the field and the image (std::invalid_argument), measures every chunk's levels and
    // uploads the image as a mipmapped texture; needs a current OpenGL context, which must still
    // be current when the terrain is destroyed. The field must outlive the terrain.
    LodTerrain(const HeightField& field, const GroundImage& image);
    ~LodTerrain();
    LodTerrain(const LodTerrain&) = delete;
    LodTerrain& operator=(const LodTerrain&) = delete;

    // The current viewport and matrices give the frustum and the pixel scale. Choosing builds
    // nothing; drawing builds a chunk's level the first time it is drawn.
    LodDrawStats choose(const LodDrawSettings& settings) override;
    void drawChosen(const LodDrawSettings& settings) override;

    // The power of two (at most kMaxTextureSide) a texture side is uploaded at: an image made
    // at that size is uploaded as it is, any other is resampled first.
    static int textureSideFor(int side);

    float lowestHeight() const override { return lowest_; }
    float highestHeight() const override { return highest_; }
    // Bytes of vertex and index arrays built so far, and once every level of every chunk is.
    std::size_t geometryBytes() const;
    std::size_t completeGeometryBytes() const;

  private:
    static constexpr int kSides = 4;  // north, east, south, west, as a chunk's edge runs round
    static constexpr int kNotDrawn = -1;
    static constexpr float kNotHung = -1.0f;

    struct Chunk {
        int firstColumn = 0, firstRow = 0;
        int cellsAcross = 0, cellsDown = 0;
        float lowest = 0, highest = 0;
        float deepestSkirt = 0;  // metres, any level beside any
        // Vertical gaps between a level and every sample, metres, never falling with the level:
        // the largest, which skirts must cover, and the root mean square, which the eye sees.
        std::array<float, kLevels> error{};
        std::array<float, kLevels> typicalError{};
        std::array<std::vector<float>, kLevels> vertices;       // x y z: the grid, then the skirt
        std::array<std::array<float, kSides>, kLevels> hung{};  // each side's skirt depth now
        int drawnLevel = kNotDrawn;                             // this frame's
        bool empty = false;    // no sample with data: no ground drawn
        bool partial = false;  // some samples without data: its own triangles at each level
        // Metres: the lowest water or floor in the chunk or beside it, which skirts reach down
        // to; infinite when there is none.
        float base = std::numeric_limits<float>::infinity();
        float noDataLow = std::numeric_limits<float>::infinity();  // of its own water and floor
        std::array<std::vector<GLushort>, kLevels> ownGrid;        // partial: the cells drawn
        std::array<std::vector<char>, kLevels> ownDrawn;           // partial: vertices with data
        std::array<NoDataSurfaces, kLevels> noData;                // partial: the other cells
        // Partial: what each level draws, counted before any level is built.
        std::array<int, kLevels> ownCells{};  // cells with data at four corners
        std::array<long long, kLevels> noDataTriangles{};
        std::array<std::array<int, kSides>, kLevels> ownEdges{};  // edge cells' sides with data
    };
    // Triangles of a grid of across x down vertices, shared by every chunk of that shape, and
    // the same with the skirts of some sides (bit 1 << side), built on first use.
    struct Shape {
        int across = 0, down = 0;
        std::vector<int> perimeter;  // grid vertices round the edge, the skirt's tops
        std::vector<GLushort> grid;
        std::array<std::vector<GLushort>, 1u << kSides> withSkirts;
    };
    struct Visible {
        Chunk* chunk;
        int column, row;  // the chunk's place among chunks
        double distance;  // metres from the eye to the chunk's box
        unsigned skirtSides = 0;
        std::array<float, kSides> skirtDepths{};  // metres
    };

    void measureChunks();
    void measureLevels(Chunk& chunk) const;
    void countPartialLevels(Chunk& chunk) const;
    // The triangles a visible chunk draws at its chosen level with its skirts.
    static long long trianglesOf(const Visible& visible);
    void buildLevel(Chunk& chunk, int level) const;
    static void hangSkirt(Chunk& chunk, int level, const Shape& shape,
                          const std::array<float, kSides>& depths);
    const Chunk* neighbourOf(int column, int row, int side) const;
    float skirtFloor() const;
    Shape& shapeFor(int across, int down);
    Shape& shapeOf(const Chunk& chunk, int level);
    static const std::vector<GLushort>& indicesFor(Shape& shape, unsigned skirtSides);
    // Skirt triangles along the sides in skirtSides; with drawn, only under edges whose two
    // vertices have data.
    static void addSkirts(std::vector<GLushort>& indices, const Shape& shape, unsigned skirtSides,
                          const std::vector<char>* drawn);
    void uploadTexture(const GroundImage& image);
    // Whether the four corners of the cell from (x0, z0) to (x1, z1), chunk-relative, have data.
    bool cellDrawn(const Chunk& chunk, int x0, int z0, int x1, int z1) const;
    // The kinds of a level's vertices, rows north to south.
    std::vector<SampleKind> levelKinds(const Chunk& chunk, const std::vector<int>& xs,
                                       const std::vector<int>& zs) const;
    bool anyDrawn(const Chunk& chunk, int x0, int z0, int x1, int z1) const;
    const std::vector<GLushort>& partialIndices(const Chunk& chunk, int level, const Shape& shape,
                                                unsigned skirtSides);
    static int chooseLevel(const Chunk& chunk, double detailPixels, double distance,
                           double pixelsPerMetreAtUnitDistance);

    const HeightField& field_;
    std::vector<Chunk> chunks_;
    int chunksAcross_ = 0, chunksDown_ = 0;
    std::map<std::pair<int, int>, Shape> shapes_;
    std::vector<Visible> visible_;  // this frame's, nearest first
    float lowest_ = 0, highest_ = 0;
    GLuint texture_ = 0;
    GLuint floorGrid_ = 0;
    std::vector<GLushort> scratch_;  // a partial chunk's indices with this frame's skirts
};
