#include "chunk_loader.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>
#include <utility>

#include "elevation_grid.h"
#include "grid_indices.h"
#include "no_data.h"
#include "raster_error.h"

namespace {

constexpr int kFloatsPerVertex = 3;
constexpr int kFullSide = StreamLayout::kChunkCells + 1;
// The relief of a chunk: about two texels a cell, mipmapped.
constexpr int kTextureSide = 128;
constexpr std::size_t kTexelBytes = 4;  // OpenGL keeps RGB as RGBA
// Skirts hang this far below the deepest a neighbour's coarser edge is likely to stray, and never
// less than a tenth of the chunk's cell, so rounding shows no sky where two edges agree.
constexpr float kSkirtOverError = 2.0f;
constexpr float kSkirtFloorShareOfCell = 0.1f;

// The cells whose corners are all ground, split along their north-east to south-west diagonal
// and wound counter-clockwise seen from above, then the skirts under every edge, facing out:
// beside a chunk of another level, whose samples lie elsewhere, water and floor need them as
// much as ground. ground is null when every sample is.
std::size_t chunkIndices(int across, int down, const std::vector<char>* ground,
                         std::vector<GLushort>& indices) {
    const auto isGround = [&](int k) { return ground == nullptr || (*ground)[k] != 0; };
    for (int j = 0; j + 1 < down; ++j) {
        for (int i = 0; i + 1 < across; ++i) {
            const int nw = j * across + i, ne = nw + 1, sw = nw + across, se = sw + 1;
            if (isGround(nw) && isGround(ne) && isGround(sw) && isGround(se)) {
                addTriangle(indices, nw, sw, ne);
                addTriangle(indices, ne, sw, se);
            }
        }
    }
    const std::size_t cells = indices.size();
    const std::vector<int> edge = perimeter(across, down);
    const int hangingFirst = across * down;
    const int loop = static_cast<int>(edge.size());
    for (int k = 0; k < loop; ++k) {
        const int next = (k + 1) % loop;
        addTriangle(indices, edge[k], edge[next], hangingFirst + k);
        addTriangle(indices, edge[next], hangingFirst + next, hangingFirst + k);
    }
    return cells;
}

struct Shared {
    std::vector<GLushort> indices;
    std::size_t ground = 0;
    Shared() { ground = chunkIndices(kFullSide, kFullSide, nullptr, indices); }
};
const Shared& sharedFull() {
    static const Shared shared;
    return shared;
}

// The sample of count, spacing metres apart from 0, nearest metres.
int nearestSample(double metres, double spacing, int count) {
    return static_cast<int>(std::clamp(std::lround(metres / spacing), 0L, count - 1L));
}

// A sample at world (x, z) that a chunk's read gave kind, not data, with height metres (true):
// the kind of the whole terrain's nearest sample instead, ground there being a filled void here,
// and that sample's placeholder height unless the read filled it.
void settleNoData(const ChunkRecipe& recipe, double x, double z, SampleKind& kind, double& metres) {
    if (recipe.whole == nullptr) {
        return;
    }
    const HeightField& whole = *recipe.whole;
    const int c = nearestSample(x, whole.spacingEast, whole.columns);
    const int r = nearestSample(z, whole.spacingSouth, whole.rows);
    const SampleKind read = kind;
    kind = whole.drawn(c, r) ? SampleKind::filled : whole.kind(c, r);
    if (kind != SampleKind::filled || read != SampleKind::filled) {
        metres = whole.at(c, r);
    }
}

// How far the chunk's samples stray from the surface of every other one, bilinear between
// them: what the next coarser level would lose, the root mean square and the largest.
std::pair<float, float> halvingError(const std::vector<float>& heights,
                                     const std::vector<char>& ground, int across, int down) {
    double squares = 0, worst = 0;
    long long counted = 0;
    const auto at = [&](int i, int j) { return heights[static_cast<std::size_t>(j) * across + i]; };
    const auto isGround = [&](int i, int j) {
        return ground[static_cast<std::size_t>(j) * across + i] != 0;
    };
    for (int j = 0; j < down; ++j) {
        const int j0 = std::min(j & ~1, down - 1), j1 = std::min(j0 + 2, down - 1);
        for (int i = 0; i < across; ++i) {
            const int i0 = std::min(i & ~1, across - 1), i1 = std::min(i0 + 2, across - 1);
            if (!isGround(i, j) || !isGround(i0, j0) || !isGround(i1, j0) || !isGround(i0, j1) ||
                !isGround(i1, j1)) {
                continue;
            }
            const double u = i1 > i0 ? static_cast<double>(i - i0) / (i1 - i0) : 0.0;
            const double v = j1 > j0 ? static_cast<double>(j - j0) / (j1 - j0) : 0.0;
            const double north = at(i0, j0) + (at(i1, j0) - at(i0, j0)) * u;
            const double south = at(i0, j1) + (at(i1, j1) - at(i0, j1)) * u;
            const double gap = std::abs(at(i, j) - (north + (south - north) * v));
            worst = std::max(worst, gap);
            squares += gap * gap;
            ++counted;
        }
    }
    const double typical = counted > 0 ? std::sqrt(squares / counted) : 0.0;
    return {static_cast<float>(typical), static_cast<float>(worst)};
}

}  // namespace

const std::vector<GLushort>& fullChunkIndices() {
    return sharedFull().indices;
}

std::size_t fullChunkGroundIndices() {
    return sharedFull().ground;
}

std::size_t ChunkData::bytes() const {
    const std::size_t texels = static_cast<std::size_t>(image.width) * image.height;
    return vertices.capacity() * sizeof(float) + indices.capacity() * sizeof(GLushort) +
           noData.bytes() + texels * kTexelBytes * 4 / 3 + sizeof(ChunkData);
}

std::size_t ChunkData::mostBytes() {
    const std::size_t vertices = kFullSide * kFullSide + 4 * StreamLayout::kChunkCells;
    ChunkData most;
    most.vertices.reserve(vertices * kFloatsPerVertex);
    most.indices.reserve(fullChunkIndices().size());
    most.image.width = most.image.height = kTextureSide;
    return most.bytes();
}

ChunkData makeChunk(const ChunkRecipe& recipe, const ChunkKey& key) {
    const bool fromSource = key.level == 0 || recipe.halved == nullptr;
    const raster::ElevationSource& from = fromSource ? *recipe.source : *recipe.halved;
    const int perUnit = fromSource || recipe.halved == recipe.source ? 1 : 2;
    const ChunkWindow window = recipe.layout.windowOf(from.facts(), key, perUnit);
    raster::ElevationGrid grid;
    {
        const std::lock_guard<std::mutex> lock(*recipe.reading);
        grid = raster::readElevation(from, window.layout);
    }
    const HeightField& field = grid.field;
    const raster::SourceWindow& read = window.layout.window;
    const StreamLayout& layout = recipe.layout;
    ChunkData chunk;
    chunk.key = key;
    chunk.across = window.columns;
    chunk.down = window.rows;
    const auto columnX = [&](int c) {
        return layout.worldX(
            StreamLayout::sampleCentre(read.x * perUnit, read.width * perUnit, field.columns, c));
    };
    const auto rowZ = [&](int r) {
        return layout.worldZ(
            StreamLayout::sampleCentre(read.y * perUnit, read.height * perUnit, field.rows, r));
    };

    // The samples read, border and all: ground where there is data, the sea at 0 m and every
    // other hole at its floor; without the whole terrain's kinds, the floor is its lowest ground.
    // Skirts reach down to the lowest water or floor read: a neighbour at another level may draw
    // it where this chunk draws ground.
    const int across = chunk.across, down = chunk.down;
    std::vector<float> heights(static_cast<std::size_t>(across) * down);
    std::vector<char> ground(heights.size());
    std::vector<SampleKind> kinds(heights.size());
    bool complete = true;
    float base = std::numeric_limits<float>::infinity();
    for (int r = 0; r < field.rows; ++r) {
        for (int c = 0; c < field.columns; ++c) {
            SampleKind kind = field.kind(c, r);
            double metres = kind == SampleKind::missing ? recipe.tint.low : field.at(c, r);
            if (kind != SampleKind::data) {
                settleNoData(recipe, columnX(c), rowZ(r), kind, metres);
                // The relief's too: a read with no height at all holds none finite.
                grid.field.heights[field.index(c, r)] =
                    kind == SampleKind::sea ? 0.0f : static_cast<float>(metres);
            }
            const float height =
                kind == SampleKind::sea ? 0.0f : static_cast<float>(metres * recipe.exaggeration);
            if (kind > SampleKind::filled) {
                base = std::min(base, height);
            }
            const int i = c - window.firstColumn, j = r - window.firstRow;
            if (i < 0 || i >= across || j < 0 || j >= down) {
                continue;  // the border's
            }
            const std::size_t k = static_cast<std::size_t>(j) * across + i;
            kinds[k] = kind;
            ground[k] = kind <= SampleKind::filled;
            heights[k] = height;
            complete = complete && ground[k];
            chunk.lowest = chunk.empty ? height : std::min(chunk.lowest, height);
            chunk.highest = chunk.empty ? height : std::max(chunk.highest, height);
            chunk.empty = false;
        }
    }
    chunk.west = columnX(window.firstColumn);
    chunk.east = columnX(window.firstColumn + across - 1);
    chunk.north = rowZ(window.firstRow);
    chunk.south = rowZ(window.firstRow + down - 1);
    const auto [typical, largest] = halvingError(heights, ground, across, down);
    if (key.level > 0) {
        chunk.typicalError = typical;
        chunk.error = largest;
    }
    const double cell = std::min(layout.cellEast(), layout.cellSouth()) * (1 << key.level);
    chunk.skirtDepth =
        kSkirtOverError * largest + kSkirtFloorShareOfCell * static_cast<float>(cell);
    if (std::isfinite(base)) {
        chunk.lowest = std::min(chunk.lowest, base);
    }

    const std::vector<int> edge = perimeter(across, down);
    chunk.vertices.reserve((heights.size() + edge.size()) * kFloatsPerVertex);
    for (int j = 0; j < down; ++j) {
        const float z = static_cast<float>(rowZ(window.firstRow + j));
        for (int i = 0; i < across; ++i) {
            chunk.vertices.insert(chunk.vertices.end(),
                                  {static_cast<float>(columnX(window.firstColumn + i)),
                                   heights[static_cast<std::size_t>(j) * across + i], z});
        }
    }
    for (const int k : edge) {
        const float* top = &chunk.vertices[static_cast<std::size_t>(k) * kFloatsPerVertex];
        chunk.vertices.insert(chunk.vertices.end(),
                              {top[0], std::min(top[1] - chunk.skirtDepth, base), top[2]});
    }
    if (!complete) {
        chunk.noData = noDataSurfaces(across, down, chunk.vertices, kinds);
    }
    if (complete && across == kFullSide && down == kFullSide) {
        chunk.groundIndices = fullChunkGroundIndices();
    } else {
        chunk.groundIndices = chunkIndices(across, down, &ground, chunk.indices);
    }

    // The relief from the true heights read, border and all, tinted over the whole terrain's
    // range: the walls at the shore take the shore's own colours.
    chunk.image = raster::reliefImage(field, kTextureSide, kTextureSide, recipe.tint);
    chunk.texWest = columnX(0);
    chunk.texNorth = rowZ(0);
    chunk.texWidth = columnX(field.columns - 1) - chunk.texWest;
    chunk.texDepth = rowZ(field.rows - 1) - chunk.texNorth;
    return chunk;
}

std::optional<double> sourceHeightAt(const ChunkRecipe& recipe, double x, double z) {
    const raster::ElevationSource& source = *recipe.source;
    const StreamLayout& layout = recipe.layout;
    const double px = std::clamp(layout.pixelX(x), 0.0, source.width() - 1.0);
    const double py = std::clamp(layout.pixelY(z), 0.0, source.height() - 1.0);
    const int column = std::min(static_cast<int>(std::floor(px)), source.width() - 2);
    const int row = std::min(static_cast<int>(std::floor(py)), source.height() - 2);
    double samples[4];
    {
        const std::lock_guard<std::mutex> lock(*recipe.reading);
        source.read({static_cast<double>(column), static_cast<double>(row), 2.0, 2.0}, 2, 2,
                    samples, 2);
    }
    for (double& sample : samples) {
        sample *= source.metresPerUnit();
        if (raster::missingHeight(sample)) {
            return std::nullopt;
        }
    }
    const double u = px - column, v = py - row;
    const double north = samples[0] + (samples[1] - samples[0]) * u;
    const double south = samples[2] + (samples[3] - samples[2]) * u;
    return north + (south - north) * v;
}

ChunkLoader::ChunkLoader(Make make) : make_(std::move(make)), thread_([this] { run(); }) {}

ChunkLoader::~ChunkLoader() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void ChunkLoader::want(std::vector<ChunkKey> keys) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        wanted_.clear();
        for (const ChunkKey& key : keys) {
            if (busy_.count(key.id()) == 0) {
                wanted_.push_back(key);
            }
        }
    }
    wake_.notify_all();
}

std::vector<ChunkData> ChunkLoader::take(std::size_t limit) {
    std::vector<ChunkData> taken;
    std::lock_guard<std::mutex> lock(mutex_);
    while (!ready_.empty() && taken.size() < limit) {
        busy_.erase(ready_.front().key.id());
        taken.push_back(std::move(ready_.front()));
        ready_.pop_front();
    }
    return taken;
}

bool ChunkLoader::idle() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return wanted_.empty() && busy_.empty();
}

void ChunkLoader::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !wanted_.empty(); });
        if (stopping_) {
            return;
        }
        const ChunkKey key = wanted_.front();
        wanted_.pop_front();
        if (!busy_.insert(key.id()).second) {
            continue;
        }
        lock.unlock();
        ChunkData chunk;
        try {
            chunk = make_(key);
        } catch (const std::exception& error) {
            chunk = ChunkData{};
            chunk.failed = true;
            chunk.message = error.what();
        }
        chunk.key = key;
        lock.lock();
        ready_.push_back(std::move(chunk));
    }
}
