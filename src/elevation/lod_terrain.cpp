#include "lod_terrain.h"

#include <GL/glu.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <thread>

#include "grid_indices.h"
#include "view_volume.h"

namespace {

constexpr int kRgb = 3;
constexpr int kFloatsPerVertex = 3;
// Added to every skirt between chunks, so rounding where a fine edge meets a coarse one cannot
// show a pixel of sky even where the two levels' edges agree.
constexpr float kSkirtFloorShareOfSpacing = 0.1f;
// How far the largest gap of a level may project beyond the typical one the detail allows.
constexpr double kLargestErrorOverTypical = 3.0;
// Pushes the filled ground back so the wire-frame's lines stay whole at grazing angles.
constexpr GLfloat kFillOffsetFactor = 1.0f;
constexpr GLfloat kFillOffsetUnits = 1.0f;

// The samples a level keeps along one side of a chunk, counted from the chunk's first: every
// stride-th, and always the last, so neighbours share their edge's end points at every level.
std::vector<int> levelPositions(int cells, int stride) {
    std::vector<int> positions;
    for (int i = 0; i < cells; i += stride) {
        positions.push_back(i);
    }
    positions.push_back(cells);
    return positions;
}

// The height a level's triangles give at fraction (u, v) of a cell with corners northwest,
// northeast, southwest and southeast; each cell is split along its northeast-southwest diagonal,
// as the index arrays split it.
float cellSurface(float nw, float ne, float sw, float se, float u, float v) {
    if (u + v <= 1.0f) {
        return nw + u * (ne - nw) + v * (sw - nw);
    }
    return se + (1.0f - u) * (sw - se) + (1.0f - v) * (ne - se);
}

int nearestPowerOfTwo(int size, int largest) {
    int power = 1;
    while (power * 2 <= size && power * 2 <= largest) {
        power *= 2;
    }
    // The next power up when it is nearer by ratio and still allowed.
    const double ratio = static_cast<double>(size) / power;
    if (ratio * ratio > 2.0 && power * 2 <= largest) {
        power *= 2;
    }
    return power;
}

// One axis of a separable tent-filter resample: lines of `count` samples of length `from`, a
// sample every `pitch` bytes along the line and `lineStep` bytes between lines, into `to` samples.
void resampleAxis(const unsigned char* source, int from, std::size_t pitch, std::size_t lineStep,
                  int count, unsigned char* target, int to, std::size_t targetPitch,
                  std::size_t targetLineStep) {
    const double scale = static_cast<double>(from) / to;
    const double radius = std::max(1.0, scale);
    for (int o = 0; o < to; ++o) {
        const double centre = (o + 0.5) * scale - 0.5;
        const int first = static_cast<int>(std::ceil(centre - radius));
        const int last = static_cast<int>(std::floor(centre + radius));
        for (int line = 0; line < count; ++line) {
            double sum[kRgb] = {}, weights = 0;
            for (int k = first; k <= last; ++k) {
                const double w = 1.0 - std::abs(k - centre) / radius;
                if (w <= 0) {
                    continue;
                }
                const int clamped = std::min(std::max(k, 0), from - 1);
                const unsigned char* p = source + line * lineStep + clamped * pitch;
                for (int c = 0; c < kRgb; ++c) {
                    sum[c] += w * p[c];
                }
                weights += w;
            }
            unsigned char* q = target + line * targetLineStep + o * targetPitch;
            for (int c = 0; c < kRgb; ++c) {
                q[c] = static_cast<unsigned char>(std::lround(sum[c] / weights));
            }
        }
    }
}

std::vector<unsigned char> resampleRgb(const GroundImage& image, int width, int height) {
    const std::size_t srcRow = static_cast<std::size_t>(image.width) * kRgb;
    std::vector<unsigned char> across(static_cast<std::size_t>(width) * image.height * kRgb);
    const std::size_t midRow = static_cast<std::size_t>(width) * kRgb;
    resampleAxis(image.rgb.data(), image.width, kRgb, srcRow, image.height, across.data(), width,
                 kRgb, midRow);
    std::vector<unsigned char> result(static_cast<std::size_t>(width) * height * kRgb);
    resampleAxis(across.data(), image.height, midRow, kRgb, width, result.data(), height, midRow,
                 kRgb);
    return result;
}

void requireUsableImage(const GroundImage& image) {
    if (image.width < 1 || image.height < 1) {
        throw std::invalid_argument("a ground image needs at least one texel");
    }
    const std::uint64_t bytes =
        static_cast<std::uint64_t>(image.width) * static_cast<std::uint64_t>(image.height) * kRgb;
    if (image.rgb.size() != bytes) {
        throw std::invalid_argument("a ground image needs width * height * 3 bytes");
    }
}

}  // namespace

LodTerrain::LodTerrain(const HeightField& field, const GroundImage& image) : field_(field) {
    requireUsableField(field);
    requireUsableImage(image);
    measureChunks();
    uploadTexture(image);
    floorGrid_ = makeFloorGridTexture();
}

LodTerrain::~LodTerrain() {
    glDeleteTextures(1, &texture_);
    glDeleteTextures(1, &floorGrid_);
}

void LodTerrain::measureChunks() {
    const int cellsAcross = field_.columns - 1, cellsDown = field_.rows - 1;
    chunksAcross_ = (cellsAcross + kChunkCells - 1) / kChunkCells;
    chunksDown_ = (cellsDown + kChunkCells - 1) / kChunkCells;
    chunks_.resize(static_cast<std::size_t>(chunksAcross_) * chunksDown_);
    for (int cz = 0; cz < chunksDown_; ++cz) {
        for (int cx = 0; cx < chunksAcross_; ++cx) {
            Chunk& chunk = chunks_[static_cast<std::size_t>(cz) * chunksAcross_ + cx];
            chunk.firstColumn = cx * kChunkCells;
            chunk.firstRow = cz * kChunkCells;
            chunk.cellsAcross = std::min(kChunkCells, cellsAcross - chunk.firstColumn);
            chunk.cellsDown = std::min(kChunkCells, cellsDown - chunk.firstRow);
        }
    }
    // Each chunk is measured on its own: the second half on a second thread.
    const std::size_t half = chunks_.size() / 2;
    std::thread second([this, half] {
        for (std::size_t i = half; i < chunks_.size(); ++i) {
            measureLevels(chunks_[i]);
        }
    });
    for (std::size_t i = 0; i < half; ++i) {
        measureLevels(chunks_[i]);
    }
    second.join();
    bool first = true;
    for (int cz = 0; cz < chunksDown_; ++cz) {
        for (int cx = 0; cx < chunksAcross_; ++cx) {
            Chunk& chunk = chunks_[static_cast<std::size_t>(cz) * chunksAcross_ + cx];
            if (!chunk.empty) {
                lowest_ = first ? chunk.lowest : std::min(lowest_, chunk.lowest);
                highest_ = first ? chunk.highest : std::max(highest_, chunk.highest);
                first = false;
            }
            // The deepest skirt this chunk can hang: its coarsest error and a neighbour's, or
            // down to the lowest water or floor beside it.
            float widest = 0;
            for (int side = 0; side < kSides; ++side) {
                if (const Chunk* neighbour = neighbourOf(cx, cz, side)) {
                    widest = std::max(widest, neighbour->error.back());
                    chunk.base = std::min(chunk.base, neighbour->noDataLow);
                }
            }
            chunk.base = std::min(chunk.base, chunk.noDataLow);
            chunk.deepestSkirt = chunk.error.back() + widest + skirtFloor();
            if (std::isfinite(chunk.base)) {
                chunk.deepestSkirt = std::max(chunk.deepestSkirt, chunk.lowest - chunk.base);
            }
        }
    }
}

const LodTerrain::Chunk* LodTerrain::neighbourOf(int cx, int cz, int side) const {
    static constexpr int kOffsets[kSides][2] = {{0, -1}, {1, 0}, {0, 1}, {-1, 0}};
    const int x = cx + kOffsets[side][0], z = cz + kOffsets[side][1];
    if (x < 0 || x >= chunksAcross_ || z < 0 || z >= chunksDown_) {
        return nullptr;
    }
    return &chunks_[static_cast<std::size_t>(z) * chunksAcross_ + x];
}

float LodTerrain::skirtFloor() const {
    return kSkirtFloorShareOfSpacing *
           static_cast<float>(std::min(field_.spacingEast, field_.spacingSouth));
}

bool LodTerrain::cellDrawn(const Chunk& chunk, int x0, int z0, int x1, int z1) const {
    const int c = chunk.firstColumn, r = chunk.firstRow;
    return field_.drawn(c + x0, r + z0) && field_.drawn(c + x1, r + z0) &&
           field_.drawn(c + x0, r + z1) && field_.drawn(c + x1, r + z1);
}

bool LodTerrain::anyDrawn(const Chunk& chunk, int x0, int z0, int x1, int z1) const {
    for (int j = z0; j <= z1; ++j) {
        for (int i = x0; i <= x1; ++i) {
            if (field_.drawn(chunk.firstColumn + i, chunk.firstRow + j)) {
                return true;
            }
        }
    }
    return false;
}

std::vector<SampleKind> LodTerrain::levelKinds(const Chunk& chunk, const std::vector<int>& xs,
                                               const std::vector<int>& zs) const {
    std::vector<SampleKind> kinds;
    kinds.reserve(xs.size() * zs.size());
    for (int z : zs) {
        for (int x : xs) {
            kinds.push_back(field_.kind(chunk.firstColumn + x, chunk.firstRow + z));
        }
    }
    return kinds;
}

void LodTerrain::measureLevels(Chunk& chunk) const {
    const auto height = [&](int i, int j) {
        return field_.at(chunk.firstColumn + i, chunk.firstRow + j);
    };
    chunk.empty = true;
    HeightBounds flat;  // the water's and the floor's levels
    for (int j = 0; j <= chunk.cellsDown; ++j) {
        for (int i = 0; i <= chunk.cellsAcross; ++i) {
            const SampleKind kind = field_.kind(chunk.firstColumn + i, chunk.firstRow + j);
            if (kind > SampleKind::filled) {
                chunk.partial = true;
                const float level = kind == SampleKind::sea ? 0.0f : height(i, j);
                flat.low = std::min(flat.low, level);
                flat.high = std::max(flat.high, level);
                continue;
            }
            const float h = height(i, j);
            chunk.lowest = chunk.empty ? h : std::min(chunk.lowest, h);
            chunk.highest = chunk.empty ? h : std::max(chunk.highest, h);
            chunk.empty = false;
        }
    }
    if (!flat.empty()) {  // the water and floor are inside the box
        chunk.noDataLow = flat.low;
        chunk.lowest = chunk.empty ? flat.low : std::min(chunk.lowest, flat.low);
        chunk.highest = chunk.empty ? flat.high : std::max(chunk.highest, flat.high);
    }
    chunk.error[0] = chunk.typicalError[0] = 0;
    const double samples = (chunk.cellsAcross + 1.0) * (chunk.cellsDown + 1.0);
    for (int level = 1; level < kLevels; ++level) {
        const std::vector<int> xs = levelPositions(chunk.cellsAcross, 1 << level);
        const std::vector<int> zs = levelPositions(chunk.cellsDown, 1 << level);
        float worst = 0;
        double squares = 0;
        bool dropsGround = false;
        // Every sample once: a cell takes its far edge only where no cell follows. A cell with a
        // corner without data is not drawn, so its samples show no error, nor do samples without
        // data inside a drawn cell.
        for (std::size_t cj = 0; cj + 1 < zs.size(); ++cj) {
            const int z0 = zs[cj], z1 = zs[cj + 1];
            const int lastRow = cj + 2 == zs.size() ? z1 : z1 - 1;
            for (std::size_t ci = 0; ci + 1 < xs.size(); ++ci) {
                const int x0 = xs[ci], x1 = xs[ci + 1];
                const int lastColumn = ci + 2 == xs.size() ? x1 : x1 - 1;
                if (chunk.partial && !cellDrawn(chunk, x0, z0, x1, z1)) {
                    dropsGround = dropsGround || anyDrawn(chunk, x0, z0, x1, z1);
                    continue;
                }
                const float nw = height(x0, z0), ne = height(x1, z0);
                const float sw = height(x0, z1), se = height(x1, z1);
                for (int j = z0; j <= lastRow; ++j) {
                    const float v = static_cast<float>(j - z0) / static_cast<float>(z1 - z0);
                    for (int i = x0; i <= lastColumn; ++i) {
                        if (chunk.partial &&
                            !field_.drawn(chunk.firstColumn + i, chunk.firstRow + j)) {
                            continue;
                        }
                        const float u = static_cast<float>(i - x0) / static_cast<float>(x1 - x0);
                        const float gap =
                            std::abs(height(i, j) - cellSurface(nw, ne, sw, se, u, v));
                        worst = std::max(worst, gap);
                        squares += static_cast<double>(gap) * gap;
                    }
                }
            }
        }
        // Ground a level leaves out beside no data is a hole as wide as its cells: it may show
        // only as far off as an error of that size would.
        const float hole = dropsGround
                               ? static_cast<float>((1 << level) * std::max(field_.spacingEast,
                                                                            field_.spacingSouth))
                               : 0.0f;
        chunk.error[level] = std::max({worst, hole, chunk.error[level - 1]});
        chunk.typicalError[level] = std::max({static_cast<float>(std::sqrt(squares / samples)),
                                              hole, chunk.typicalError[level - 1]});
    }
    if (chunk.partial) {
        countPartialLevels(chunk);
    }
}

void LodTerrain::countPartialLevels(Chunk& chunk) const {
    const auto drawn = [&](int x, int z) {
        return field_.drawn(chunk.firstColumn + x, chunk.firstRow + z);
    };
    for (int level = 0; level < kLevels; ++level) {
        const std::vector<int> xs = levelPositions(chunk.cellsAcross, 1 << level);
        const std::vector<int> zs = levelPositions(chunk.cellsDown, 1 << level);
        for (std::size_t j = 0; j + 1 < zs.size(); ++j) {
            for (std::size_t i = 0; i + 1 < xs.size(); ++i) {
                if (cellDrawn(chunk, xs[i], zs[j], xs[i + 1], zs[j + 1])) {
                    ++chunk.ownCells[level];
                }
            }
        }
        chunk.noDataTriangles[level] = noDataTriangles(
            static_cast<int>(xs.size()), static_cast<int>(zs.size()), levelKinds(chunk, xs, zs));
        // North, east, south and west, as addSkirts hangs them: under each edge segment whose
        // two ends have data.
        std::array<int, kSides>& edges = chunk.ownEdges[level];
        for (std::size_t i = 0; i + 1 < xs.size(); ++i) {
            edges[0] += drawn(xs[i], zs.front()) && drawn(xs[i + 1], zs.front());
            edges[2] += drawn(xs[i], zs.back()) && drawn(xs[i + 1], zs.back());
        }
        for (std::size_t j = 0; j + 1 < zs.size(); ++j) {
            edges[1] += drawn(xs.back(), zs[j]) && drawn(xs.back(), zs[j + 1]);
            edges[3] += drawn(xs.front(), zs[j]) && drawn(xs.front(), zs[j + 1]);
        }
    }
}

void LodTerrain::buildLevel(Chunk& chunk, int level) const {
    const std::vector<int> xs = levelPositions(chunk.cellsAcross, 1 << level);
    const std::vector<int> zs = levelPositions(chunk.cellsDown, 1 << level);
    const int across = static_cast<int>(xs.size()), down = static_cast<int>(zs.size());
    const std::vector<int> edge = perimeter(across, down);
    std::vector<float>& vertices = chunk.vertices[level];
    vertices.reserve((static_cast<std::size_t>(across) * down + edge.size()) * kFloatsPerVertex);
    for (int z : zs) {
        for (int x : xs) {
            const int column = chunk.firstColumn + x, row = chunk.firstRow + z;
            vertices.push_back(static_cast<float>(column * field_.spacingEast));
            vertices.push_back(field_.at(column, row));
            vertices.push_back(static_cast<float>(row * field_.spacingSouth));
        }
    }
    if (chunk.partial) {
        std::vector<GLushort>& grid = chunk.ownGrid[level];
        std::vector<char>& drawn = chunk.ownDrawn[level];
        for (int z : zs) {
            for (int x : xs) {
                drawn.push_back(field_.drawn(chunk.firstColumn + x, chunk.firstRow + z));
            }
        }
        for (int j = 0; j + 1 < down; ++j) {
            for (int i = 0; i + 1 < across; ++i) {
                const int nw = j * across + i, ne = nw + 1, sw = nw + across, se = sw + 1;
                if (cellDrawn(chunk, xs[i], zs[j], xs[i + 1], zs[j + 1])) {
                    addTriangle(grid, nw, sw, ne);
                    addTriangle(grid, ne, sw, se);
                }
            }
        }
        chunk.noData[level] = noDataSurfaces(across, down, vertices, levelKinds(chunk, xs, zs));
    }
    for (int index : edge) {
        const float* top = &vertices[static_cast<std::size_t>(index) * kFloatsPerVertex];
        const float hanging[kFloatsPerVertex] = {top[0], top[1], top[2]};
        vertices.insert(vertices.end(), hanging, hanging + kFloatsPerVertex);
    }
    chunk.hung[level].fill(kNotHung);
}

void LodTerrain::hangSkirt(Chunk& chunk, int level, const Shape& shape,
                           const std::array<float, kSides>& depths) {
    // Beside water or floor a skirt reaches down to it: a neighbour at another level may draw
    // it where this level draws ground.
    if (chunk.hung[level] == depths) {
        return;
    }
    chunk.hung[level] = depths;
    const int across = shape.across, down = shape.down;
    const int sideLengths[kSides] = {across - 1, down - 1, across - 1, down - 1};
    std::vector<float>& vertices = chunk.vertices[level];
    const std::size_t hangingFirst = static_cast<std::size_t>(across) * down;
    std::size_t k = 0;
    for (int side = 0; side < kSides; ++side) {
        for (int i = 0; i < sideLengths[side]; ++i, ++k) {
            // A corner hangs as deep as the deeper of its two sides.
            const float depth = i == 0
                                    ? std::max(depths[side], depths[(side + kSides - 1) % kSides])
                                    : depths[side];
            const float top =
                vertices[static_cast<std::size_t>(shape.perimeter[k]) * kFloatsPerVertex + 1];
            vertices[(hangingFirst + k) * kFloatsPerVertex + 1] = std::min(top - depth, chunk.base);
        }
    }
}

LodTerrain::Shape& LodTerrain::shapeFor(int across, int down) {
    Shape& shape = shapes_[{across, down}];
    if (!shape.grid.empty()) {
        return shape;
    }
    shape.across = across;
    shape.down = down;
    shape.perimeter = perimeter(across, down);
    for (int j = 0; j + 1 < down; ++j) {
        for (int i = 0; i + 1 < across; ++i) {
            const int nw = j * across + i, ne = nw + 1, sw = nw + across, se = sw + 1;
            addTriangle(shape.grid, nw, sw, ne);
            addTriangle(shape.grid, ne, sw, se);
        }
    }
    return shape;
}

const std::vector<GLushort>& LodTerrain::indicesFor(Shape& shape, unsigned skirtSides) {
    std::vector<GLushort>& indices = shape.withSkirts[skirtSides];
    if (skirtSides == 0 || !indices.empty()) {
        return skirtSides == 0 ? shape.grid : indices;
    }
    indices = shape.grid;
    addSkirts(indices, shape, skirtSides, nullptr);
    return indices;
}

void LodTerrain::addSkirts(std::vector<GLushort>& indices, const Shape& shape, unsigned skirtSides,
                           const std::vector<char>* drawn) {
    const std::vector<int>& edge = shape.perimeter;
    const int hangingFirst = shape.across * shape.down;
    const int loop = static_cast<int>(edge.size());
    const int sideLengths[kSides] = {shape.across - 1, shape.down - 1, shape.across - 1,
                                     shape.down - 1};
    for (int side = 0, k = 0; side < kSides; ++side) {
        for (int i = 0; i < sideLengths[side]; ++i, ++k) {
            const int next = (k + 1) % loop;
            const bool hung = (skirtSides & (1u << side)) &&
                              (drawn == nullptr || ((*drawn)[edge[k]] && (*drawn)[edge[next]]));
            if (hung) {
                addTriangle(indices, edge[k], edge[next], hangingFirst + k);
                addTriangle(indices, edge[next], hangingFirst + next, hangingFirst + k);
            }
        }
    }
}

const std::vector<GLushort>& LodTerrain::partialIndices(const Chunk& chunk, int level,
                                                        const Shape& shape, unsigned skirtSides) {
    if (skirtSides == 0) {
        return chunk.ownGrid[level];
    }
    scratch_ = chunk.ownGrid[level];
    addSkirts(scratch_, shape, skirtSides, &chunk.ownDrawn[level]);
    return scratch_;
}

int LodTerrain::textureSideFor(int side) {
    return nearestPowerOfTwo(side, kMaxTextureSide);
}

void LodTerrain::uploadTexture(const GroundImage& image) {
    GLint maxSide = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSide);
    const int largest =
        nearestPowerOfTwo(std::min(kMaxTextureSide, std::max(1, maxSide)), kMaxTextureSide);
    const int width = nearestPowerOfTwo(image.width, largest);
    const int height = nearestPowerOfTwo(image.height, largest);
    // gluBuild2DMipmaps would scale to a power of two itself, but only ever down.
    std::vector<unsigned char> resampled;
    const unsigned char* texels = image.rgb.data();
    if (width != image.width || height != image.height) {
        resampled = resampleRgb(image, width, height);
        texels = resampled.data();
    }
    const GLint failure =
        uploadMipmapped(texture_, GL_RGB, width, height, texels, GL_CLAMP_TO_EDGE);
    if (failure != 0) {
        throw std::runtime_error(std::string("cannot upload the ground texture: ") +
                                 reinterpret_cast<const char*>(gluErrorString(failure)));
    }
}

int LodTerrain::chooseLevel(const Chunk& chunk, double detailPixels, double distance,
                            double pixelsPerMetreAtUnitDistance) {
    if (!(detailPixels > 0)) {
        return 0;
    }
    // Both errors are judged at the chunk's nearest point, where they look largest. On rough
    // ground a level's largest gap is several times its root mean square and comes from a few
    // samples, so holding the largest to the detail keeps ground kilometres away at full detail
    // for a picture that changes by hardly a pixel. The eye sees the ground as a whole shift,
    // which the root mean square measures; the looser bound on the largest keeps a lone peak or
    // pit, which barely moves the mean, from flattening where it would plainly show.
    const double allowed = detailPixels * distance / pixelsPerMetreAtUnitDistance;
    const double largestAllowed = kLargestErrorOverTypical * allowed;
    int level = 0;
    while (level + 1 < kLevels && chunk.typicalError[level + 1] <= allowed &&
           chunk.error[level + 1] <= largestAllowed) {
        ++level;
    }
    return level;
}

LodTerrain::Shape& LodTerrain::shapeOf(const Chunk& chunk, int level) {
    const int stride = 1 << level;
    return shapeFor((chunk.cellsAcross + stride - 1) / stride + 1,
                    (chunk.cellsDown + stride - 1) / stride + 1);
}

long long LodTerrain::trianglesOf(const Visible& visible) {
    const Chunk& chunk = *visible.chunk;
    const int level = chunk.drawnLevel;
    const int stride = 1 << level;
    const long long across = (chunk.cellsAcross + stride - 1) / stride;  // cells
    const long long down = (chunk.cellsDown + stride - 1) / stride;
    const long long sideCells[kSides] = {across, down, across, down};
    long long triangles = chunk.partial ? 2LL * chunk.ownCells[level] + chunk.noDataTriangles[level]
                                        : 2 * across * down;
    for (int side = 0; side < kSides; ++side) {
        if (visible.skirtSides & (1u << side)) {
            triangles += 2LL * (chunk.partial ? chunk.ownEdges[level][side] : sideCells[side]);
        }
    }
    return triangles;
}

LodDrawStats LodTerrain::choose(const LodDrawSettings& settings) {
    LodDrawStats stats;
    const std::array<Plane, 6> frustum = currentFrustum();
    const double pixelsPerMetre = currentPixelsPerMetre();

    visible_.clear();
    for (int cz = 0; cz < chunksDown_; ++cz) {
        for (int cx = 0; cx < chunksAcross_; ++cx) {
            Chunk& chunk = chunks_[static_cast<std::size_t>(cz) * chunksAcross_ + cx];
            const double east = field_.spacingEast, south = field_.spacingSouth;
            const Box box = {{chunk.firstColumn * east, chunk.lowest - chunk.deepestSkirt,
                              chunk.firstRow * south},
                             {(chunk.firstColumn + chunk.cellsAcross) * east, chunk.highest,
                              (chunk.firstRow + chunk.cellsDown) * south}};
            chunk.drawnLevel = kNotDrawn;
            if (outside(box, frustum)) {
                ++stats.chunksCulled;
                continue;
            }
            const double distance = distanceTo(box, settings.eye);
            chunk.drawnLevel = chooseLevel(chunk, settings.detailPixels, distance, pixelsPerMetre);
            visible_.push_back({&chunk, cx, cz, distance});
        }
    }
    stats.chunksDrawn = static_cast<int>(visible_.size());

    for (Visible& v : visible_) {
        const Chunk& chunk = *v.chunk;
        const int level = chunk.drawnLevel;
        // A side needs a skirt only beside a neighbour drawn at another level: beside the same
        // level the edges are the same, and an undrawn neighbour's box, which holds any gap,
        // is out of view. It hangs as far as the two levels' edges can part.
        for (int side = 0; side < kSides; ++side) {
            const Chunk* neighbour = neighbourOf(v.column, v.row, side);
            if (neighbour && neighbour->drawnLevel != kNotDrawn && neighbour->drawnLevel != level) {
                v.skirtDepths[side] =
                    chunk.error[level] + neighbour->error[neighbour->drawnLevel] + skirtFloor();
                v.skirtSides |= 1u << side;
            }
        }
        stats.triangles += trianglesOf(v);
    }
    return stats;
}

void LodTerrain::drawChosen(const LodDrawSettings& settings) {
    // Nearest first: hidden ground then fails the depth test before it is textured and fogged.
    std::sort(visible_.begin(), visible_.end(),
              [](const Visible& a, const Visible& b) { return a.distance < b.distance; });
    for (const Visible& v : visible_) {
        Chunk& chunk = *v.chunk;
        const int level = chunk.drawnLevel;
        if (chunk.vertices[level].empty()) {
            buildLevel(chunk, level);
        }
        hangSkirt(chunk, level, shapeOf(chunk, level), v.skirtDepths);
    }

    // Texture coordinates (x / width, z / depth): each vertex shows its own ground.
    const GLfloat sPlane[4] = {static_cast<GLfloat>(1.0 / field_.width()), 0, 0, 0};
    const GLfloat tPlane[4] = {0, 0, static_cast<GLfloat>(1.0 / field_.depth()), 0};
    textureByPlace(texture_, sPlane, tPlane);
    glColor3f(1.0f, 1.0f, 1.0f);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    if (settings.wireframe) {
        glPolygonOffset(kFillOffsetFactor, kFillOffsetUnits);
        glEnable(GL_POLYGON_OFFSET_FILL);
    }
    // Seen from above, every triangle winds counter-clockwise and every skirt faces out of its
    // chunk; a face seen from behind is below ground that hides it, so none need drawing.
    glFrontFace(GL_CCW);
    glCullFace(GL_BACK);
    glEnable(GL_CULL_FACE);
    glEnableClientState(GL_VERTEX_ARRAY);
    for (const Visible& v : visible_) {
        const int level = v.chunk->drawnLevel;
        Shape& shape = shapeOf(*v.chunk, level);
        const std::vector<GLushort>& indices =
            v.chunk->partial ? partialIndices(*v.chunk, level, shape, v.skirtSides)
                             : indicesFor(shape, v.skirtSides);
        glVertexPointer(kFloatsPerVertex, GL_FLOAT, 0, v.chunk->vertices[level].data());
        const GLsizei count = static_cast<GLsizei>(indices.size());
        glDrawElements(GL_TRIANGLES, count, GL_UNSIGNED_SHORT, indices.data());
    }
    // Walls face the water or floor beside them, whichever way up the shore lies.
    glDisable(GL_CULL_FACE);
    std::vector<const NoDataSurfaces*> noData;
    for (const Visible& v : visible_) {
        const NoDataSurfaces& surfaces = v.chunk->noData[v.chunk->drawnLevel];
        if (v.chunk->partial && !surfaces.walls.empty()) {
            glVertexPointer(kFloatsPerVertex, GL_FLOAT, 0, surfaces.walls.data());
            glDrawArrays(GL_TRIANGLES, 0,
                         static_cast<GLsizei>(surfaces.walls.size() / kFloatsPerVertex));
        }
        noData.push_back(&surfaces);
    }
    glDisable(GL_POLYGON_OFFSET_FILL);
    glDisable(GL_TEXTURE_GEN_S);
    glDisable(GL_TEXTURE_GEN_T);
    glDisable(GL_TEXTURE_2D);
    drawWaterAndFloor(noData, floorGrid_, kFloorGridCells * field_.spacingEast,
                      kFloorGridCells * field_.spacingSouth);

    if (settings.wireframe) {
        glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
        glColor3f(0.0f, 0.0f, 0.0f);
        for (const Visible& v : visible_) {
            const int level = v.chunk->drawnLevel;
            const std::vector<GLushort>& grid =
                v.chunk->partial ? v.chunk->ownGrid[level] : shapeOf(*v.chunk, level).grid;
            glVertexPointer(kFloatsPerVertex, GL_FLOAT, 0, v.chunk->vertices[level].data());
            glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(grid.size()), GL_UNSIGNED_SHORT,
                           grid.data());
        }
        glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    }
    glDisableClientState(GL_VERTEX_ARRAY);
    glDisable(GL_CULL_FACE);
}

std::size_t LodTerrain::geometryBytes() const {
    std::size_t bytes = 0;
    for (const Chunk& chunk : chunks_) {
        for (int level = 0; level < kLevels; ++level) {
            bytes += chunk.vertices[level].capacity() * sizeof(float) +
                     chunk.ownGrid[level].capacity() * sizeof(GLushort) +
                     chunk.noData[level].bytes();
        }
    }
    for (const auto& entry : shapes_) {
        bytes += entry.second.grid.capacity() * sizeof(GLushort);
        for (const std::vector<GLushort>& indices : entry.second.withSkirts) {
            bytes += indices.capacity() * sizeof(GLushort);
        }
    }
    return bytes + chunks_.capacity() * sizeof(Chunk);
}

std::size_t LodTerrain::completeGeometryBytes() const {
    std::size_t bytes = chunks_.capacity() * sizeof(Chunk);
    std::map<std::pair<int, int>, std::size_t> shapeBytes;
    for (const Chunk& chunk : chunks_) {
        for (int level = 0; level < kLevels; ++level) {
            const int stride = 1 << level;
            const std::size_t across = (chunk.cellsAcross + stride - 1) / stride + 1;
            const std::size_t down = (chunk.cellsDown + stride - 1) / stride + 1;
            const std::size_t edge = 2 * (across - 1) + 2 * (down - 1);
            bytes += (across * down + edge) * kFloatsPerVertex * sizeof(float);
            const std::size_t triangles = 2 * (across - 1) * (down - 1) + 2 * edge;
            shapeBytes[{static_cast<int>(across), static_cast<int>(down)}] =
                triangles * 3 * sizeof(GLushort);
            if (chunk.partial) {  // its own cells, and its water, floor and walls' vertices
                bytes += static_cast<std::size_t>(chunk.ownCells[level]) * 6 * sizeof(GLushort) +
                         static_cast<std::size_t>(chunk.noDataTriangles[level]) * 3 *
                             kFloatsPerVertex * sizeof(float);
            }
        }
    }
    for (const auto& entry : shapeBytes) {
        bytes += entry.second;
    }
    return bytes;
}
