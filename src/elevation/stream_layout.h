#pragma once
// Where the pieces of streamed ground lie. A source too large to hold is cut, at every level, into
// chunks of kChunkCells x kChunkCells cells: level 0 keeps every source pixel, level L each
// 2^L x 2^L box of pixels averaged into one sample, boxes aligned on the source's north-west
// corner. Chunk (column, row) of a level holds that level's samples 64 column to 64 column + 64
// (and the same down), so neighbours share an edge, and its four children are the chunks
// 2 column, 2 column + 1 (and down) of the level below. A chunk is read with one sample more on
// each side, where the source has it, so that its relief is shaded across its edges. World x and z
// are metres east and south of the pixel centre (originX, originY), the one convention the walker's
// field and every chunk share.

#include <algorithm>
#include <cstdint>

#include "field_layout.h"
#include "source_facts.h"

struct ChunkKey {
    int level = 0;
    int column = 0;  // among the level's chunks, west to east
    int row = 0;     // north to south
    std::uint64_t id() const {
        return (static_cast<std::uint64_t>(level) << 56) | (static_cast<std::uint64_t>(row) << 28) |
               static_cast<std::uint64_t>(column);
    }
    bool operator==(const ChunkKey& other) const { return id() == other.id(); }
};

// A chunk's samples as read: the layout of the window with its border, and which of them are the
// chunk's own.
struct ChunkWindow {
    raster::FieldLayout layout;
    int firstColumn = 0, firstRow = 0;  // of the chunk's own samples within the layout
    int columns = 0, rows = 0;          // the chunk's own samples, 2 or more each way
};

class StreamLayout {
  public:
    static constexpr int kChunkCells = 64;
    // The deepest level: a side of 2^31 pixels halves to one chunk well before.
    static constexpr int kMostLevels = 30;

    StreamLayout() = default;
    // A source of width x height pixels (2 or more each way), each cellEast x cellSouth metres on
    // the ground, with world (0, 0) at the pixel centre (originX, originY).
    StreamLayout(int width, int height, double cellEast, double cellSouth, double originX,
                 double originY)
        : width_(width),
          height_(height),
          cellEast_(cellEast),
          cellSouth_(cellSouth),
          originX_(originX),
          originY_(originY) {
        // The coarsest level keeps two samples or more each way and, unless a side forbids
        // it, makes one chunk.
        topLevel_ = 0;
        while (topLevel_ + 1 < kMostLevels && samplesAcross(topLevel_ + 1) >= 2 &&
               samplesDown(topLevel_ + 1) >= 2 &&
               (chunksAcross(topLevel_) > 1 || chunksDown(topLevel_) > 1)) {
            ++topLevel_;
        }
    }

    int width() const { return width_; }
    int height() const { return height_; }
    int topLevel() const { return topLevel_; }
    // A level's samples along each axis: one per box, the last box perhaps narrower.
    int samplesAcross(int level) const { return boxes(width_, level); }
    int samplesDown(int level) const { return boxes(height_, level); }
    int chunksAcross(int level) const { return chunks(samplesAcross(level)); }
    int chunksDown(int level) const { return chunks(samplesDown(level)); }
    bool exists(const ChunkKey& key) const {
        return key.level >= 0 && key.level <= topLevel_ && key.column >= 0 && key.row >= 0 &&
               key.column < chunksAcross(key.level) && key.row < chunksDown(key.level);
    }

    // The window of source pixels a chunk reads, its border included, and its samples. With
    // pixelsPerUnit 2, the same in the pixels of a source already halved once (a pyramid's
    // first level), for chunks of level 1 and above.
    ChunkWindow windowOf(const raster::SourceFacts& facts, const ChunkKey& key,
                         int pixelsPerUnit = 1) const {
        ChunkWindow chunk;
        const auto axis = [&](int index, int samples, int pixels, int& first, int& own,
                              double& start, double& extent, int& read) {
            const int ownFirst = index * kChunkCells;
            const int ownLast = std::min(ownFirst + kChunkCells, samples - 1);
            const int readFirst = std::max(ownFirst - 1, 0);
            const int readLast = std::min(ownLast + 1, samples - 1);
            const long long box = 1LL << key.level;
            const long long begin = readFirst * box;
            const long long end = std::min((readLast + 1) * box, static_cast<long long>(pixels));
            first = ownFirst - readFirst;
            own = ownLast - ownFirst + 1;
            read = readLast - readFirst + 1;
            // A source halved once has ceil(pixels / 2) of its own.
            const long long unitPixels = (pixels + pixelsPerUnit - 1) / pixelsPerUnit;
            start = static_cast<double>(begin / pixelsPerUnit);
            extent = static_cast<double>(
                std::min((end + pixelsPerUnit - 1) / pixelsPerUnit, unitPixels) -
                begin / pixelsPerUnit);
        };
        raster::SourceWindow window;
        int columns = 0, rows = 0;
        axis(key.column, samplesAcross(key.level), width_, chunk.firstColumn, chunk.columns,
             window.x, window.width, columns);
        axis(key.row, samplesDown(key.level), height_, chunk.firstRow, chunk.rows, window.y,
             window.height, rows);
        chunk.layout = raster::layoutOf(facts, window, columns, rows);
        return chunk;
    }

    // World metres of the chunk's outermost own samples, its last box taken as whole.
    void extentOf(const ChunkKey& key, double& west, double& east, double& north,
                  double& south) const {
        const double box = static_cast<double>(1LL << key.level);
        const auto centre = [box](int sample) { return (sample + 0.5) * box - 0.5; };
        const int firstColumn = key.column * kChunkCells, firstRow = key.row * kChunkCells;
        west = worldX(centre(firstColumn));
        east = worldX(centre(std::min(firstColumn + kChunkCells, samplesAcross(key.level) - 1)));
        north = worldZ(centre(firstRow));
        south = worldZ(centre(std::min(firstRow + kChunkCells, samplesDown(key.level) - 1)));
    }

    // World metres of a pixel-centre position in the source, along x (east) and z (south).
    double worldX(double pixelCentre) const { return (pixelCentre - originX_) * cellEast_; }
    double worldZ(double pixelCentre) const { return (pixelCentre - originY_) * cellSouth_; }
    // The pixel-centre position of sample i of n spread over the window from start to start +
    // extent (in pixels of the full source).
    static double sampleCentre(double start, double extent, int n, int i) {
        return start + (i + 0.5) * extent / n - 0.5;
    }
    // The pixel-centre position in the source of world x and z: the inverse of the above.
    double pixelX(double x) const { return x / cellEast_ + originX_; }
    double pixelY(double z) const { return z / cellSouth_ + originY_; }
    double cellEast() const { return cellEast_; }
    double cellSouth() const { return cellSouth_; }

  private:
    static int boxes(int pixels, int level) {
        const long long box = 1LL << level;
        return static_cast<int>((pixels + box - 1) / box);
    }
    static int chunks(int samples) {
        return std::max(1, (samples - 1 + kChunkCells - 1) / kChunkCells);
    }

    int width_ = 0, height_ = 0;
    double cellEast_ = 1.0, cellSouth_ = 1.0;
    double originX_ = 0.0, originY_ = 0.0;
    int topLevel_ = 0;
};
