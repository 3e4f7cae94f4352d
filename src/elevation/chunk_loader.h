#pragma once
// Streamed ground's pieces, made off the drawing thread: a chunk read through the jailed reader
// and turned into everything drawing needs but OpenGL (vertices, triangles, skirts, relief), and
// the thread that makes them, the most wanted first.

#include <GL/gl.h>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "elevation_source.h"
#include "height_field.h"
#include "relief_colours.h"
#include "stream_layout.h"
#include "water.h"

struct ChunkData {
    ChunkKey key;
    bool failed = false;  // the read failed: message says why
    std::string message;
    bool empty = true;  // no sample read: nothing to draw
    // The chunk's own samples, across x down, rows north to south, then the samples round its
    // edge once more, hanging skirtDepth lower (north edge eastward, then east, south, west).
    int across = 0, down = 0;
    std::vector<float> vertices;  // x y z, metres, heights as drawn
    // Triangles of the cells whose corners all have data, then the skirts under edges whose two
    // ends have data; empty for a full chunk with every sample, which draws the shared grid.
    std::vector<GLushort> indices;
    std::size_t groundIndices = 0;  // of indices, the cells' (the wire-frame's)
    NoDataSurfaces noData;          // the cells that are not ground
    float lowest = 0, highest = 0;  // of ground, water and floor, the skirts' feet not counted
    float skirtDepth = 0;
    // Metres this chunk's surface strays from the full-resolution ground: the root mean square
    // and the largest, 0 at level 0.
    float typicalError = 0, error = 0;
    double west = 0, east = 0, north = 0, south = 0;  // world metres of the outermost samples
    // The relief over the chunk and its border: texel edges span from texWest to texWest +
    // texWidth and texNorth to texNorth + texDepth.
    GroundImage image;
    double texWest = 0, texNorth = 0, texWidth = 1, texDepth = 1;

    // Bytes the chunk keeps once drawn: its arrays, and its texture as OpenGL holds it with
    // mipmaps.
    std::size_t bytes() const;
    // The most a chunk keeps besides its water, floor and walls.
    static std::size_t mostBytes();
};

// What chunks are read from and how they are made.
struct ChunkRecipe {
    const raster::ElevationSource* source = nullptr;  // every pixel: level 0 is read from here
    // A pyramid's first level (each sample a 2 x 2 box of source pixels) for levels 1 and up, or
    // the source itself when it has overviews of its own.
    const raster::ElevationSource* halved = nullptr;
    StreamLayout layout;
    double exaggeration = 1.0;
    raster::HeightRange tint;  // true metres the relief's tint spans
    // The whole terrain held coarse, true metres, its samples without data sorted over the whole
    // source: a sample a chunk reads without data takes the kind (and, but for the sea and filled
    // voids, the placeholder height) of the nearest of these, so every chunk at every level agrees
    // on what it is. Null: each chunk's read decides alone.
    std::shared_ptr<const HeightField> whole;
    // Held while a reader is busy: each serves one read at a time.
    std::shared_ptr<std::mutex> reading = std::make_shared<std::mutex>();
};

// Reads and makes one chunk. Throws RasterError when the read fails.
ChunkData makeChunk(const ChunkRecipe& recipe, const ChunkKey& key);

// The full-resolution ground at world (x, z) in true metres, bilinear between the four source
// samples round it (points beyond the source take its edge), as the readout says it; nothing
// where one of the four has no data. Throws RasterError when the read fails.
std::optional<double> sourceHeightAt(const ChunkRecipe& recipe, double x, double z);

// The full-grid triangles of a full 65 x 65 chunk with its four skirts, shared by every such chunk.
const std::vector<GLushort>& fullChunkIndices();
// How many of them are the cells'.
std::size_t fullChunkGroundIndices();

class ChunkLoader {
  public:
    using Make = std::function<ChunkData(const ChunkKey&)>;
    // Starts the thread, which makes chunks with make; a make that throws gives a failed chunk.
    explicit ChunkLoader(Make make);
    ~ChunkLoader();
    ChunkLoader(const ChunkLoader&) = delete;
    ChunkLoader& operator=(const ChunkLoader&) = delete;

    // The chunks wanted now, the most wanted first, replacing the last list.
    void want(std::vector<ChunkKey> keys);
    // Chunks made since the last take, at most limit of them, in the order they were made.
    std::vector<ChunkData> take(std::size_t limit);
    // Whether nothing wanted is still to be made, being made or waiting to be taken.
    bool idle() const;

  private:
    void run();

    Make make_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<ChunkKey> wanted_;
    std::unordered_set<std::uint64_t> busy_;  // being made or made and not yet taken
    std::deque<ChunkData> ready_;
    bool stopping_ = false;
    std::thread thread_;
};
