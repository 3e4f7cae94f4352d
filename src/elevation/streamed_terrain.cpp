#include "streamed_terrain.h"

#include <GL/glu.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>

namespace {

constexpr int kFloatsPerVertex = 3;
// How far the largest gap of a chunk may project beyond the typical one the detail allows.
constexpr double kLargestErrorOverTypical = 3.0;
constexpr GLfloat kFillOffsetFactor = 1.0f;
constexpr GLfloat kFillOffsetUnits = 1.0f;

}  // namespace

StreamedTerrain::StreamedTerrain(const StreamLayout& layout, std::vector<ChunkData> roots,
                                 ChunkLoader::Make make, float lowest, float highest,
                                 std::size_t cacheBytes)
    : layout_(layout), cap_(cacheBytes), lowest_(lowest), highest_(highest) {
    if (roots.empty()) {
        throw std::invalid_argument("streamed ground needs its top level's chunks");
    }
    for (ChunkData& root : roots) {
        if (root.failed) {
            throw std::invalid_argument("streamed ground needs its top level's chunks read");
        }
        roots_.push_back(root.key);
        keep(std::move(root), true);
    }
    loader_ = std::make_unique<ChunkLoader>(std::move(make));
    floorGrid_ = makeFloorGridTexture();
}

StreamedTerrain::~StreamedTerrain() {
    loader_.reset();  // no chunk arrives any more
    glDeleteTextures(1, &floorGrid_);
    for (auto& entry : nodes_) {
        glDeleteTextures(1, &entry.second.texture);
    }
}

StreamedTerrain::Node* StreamedTerrain::find(const ChunkKey& key) {
    const auto it = nodes_.find(key.id());
    return it == nodes_.end() ? nullptr : &it->second;
}

bool StreamedTerrain::makeRoom(std::size_t bytes) {
    while (used_ + bytes > cap_) {
        // The least recently drawn chunk with no children kept, not drawn this frame or the last.
        auto victim = nodes_.end();
        for (auto it = nodes_.begin(); it != nodes_.end(); ++it) {
            const Node& node = it->second;
            if (node.root || node.keptChildren > 0 || node.lastUsed >= frame_ - 1) {
                continue;
            }
            if (victim == nodes_.end() || node.lastUsed < victim->second.lastUsed) {
                victim = it;
            }
        }
        if (victim == nodes_.end()) {
            return false;
        }
        letGo(victim);
    }
    return true;
}

void StreamedTerrain::letGo(std::unordered_map<std::uint64_t, Node>::iterator it) {
    const ChunkKey key = it->second.data.key;
    glDeleteTextures(1, &it->second.texture);
    used_ -= it->second.data.bytes();
    nodes_.erase(it);
    if (Node* parent = find({key.level + 1, key.column / 2, key.row / 2})) {
        --parent->keptChildren;
    }
}

void StreamedTerrain::keep(ChunkData chunk, bool root) {
    const ChunkKey key = chunk.key;
    if (nodes_.count(key.id()) != 0) {
        return;
    }
    Node* parent = root ? nullptr : find({key.level + 1, key.column / 2, key.row / 2});
    const std::size_t bytes = chunk.bytes();
    // A chunk whose parent has gone since it was asked for, or with no room, is not kept: its
    // parent's ground or the parent's own parent stands in for it.
    if ((!root && parent == nullptr) || (!root && !makeRoom(bytes))) {
        return;
    }
    if (parent != nullptr) {
        ++parent->keptChildren;
    }
    Node& node = nodes_[key.id()];
    node.data = std::move(chunk);
    node.root = root;
    node.lastUsed = frame_;  // asked for now: not the first to go when the next arrives
    used_ += bytes;
    peak_ = std::max(peak_, used_);
}

void StreamedTerrain::takeArrivals() {
    if (arrivedThisFrame_ >= kArrivalsPerFrame) {
        return;
    }
    for (ChunkData& chunk : loader_->take(kArrivalsPerFrame - arrivedThisFrame_)) {
        ++arrivedThisFrame_;
        if (chunk.failed) {
            if (failure_.empty()) {
                failure_ = chunk.message;
            }
            failed_.insert(chunk.key.id());
            continue;
        }
        keep(std::move(chunk), false);
    }
}

Box StreamedTerrain::boxOf(const ChunkKey& key, float low, float high) const {
    double west = 0, east = 0, north = 0, south = 0;
    layout_.extentOf(key, west, east, north, south);
    return {{west, low, north}, {east, high, south}};
}

void StreamedTerrain::visit(const ChunkKey& key, Node& node) {
    const ChunkData& data = node.data;
    if (data.empty) {
        return;
    }
    const Box box = {{data.west, data.lowest - data.skirtDepth, data.north},
                     {data.east, data.highest, data.south}};
    if (outside(box, frustum_)) {
        return;
    }
    node.lastUsed = frame_;
    if (node.lastChoice != choices_) {
        node.lastChoice = choices_;
        heldBytes_ += data.bytes();
    }
    const double distance = distanceTo(box, eye_);
    const double allowed = detailPixels_ * distance / pixelsPerMetre_;
    const bool fine = key.level == 0 || (detailPixels_ > 0 && data.typicalError <= allowed &&
                                         data.error <= kLargestErrorOverTypical * allowed);
    if (fine) {
        chosen_.push_back({&node, distance});
        return;
    }
    // The children in view, all of which must have arrived before they replace this chunk.
    std::vector<Wanted> kept, missing;
    std::vector<Node*> waiting;  // children kept while their siblings are on their way
    std::size_t bytes = 0;
    bool failed = false;
    for (int dz = 0; dz < 2; ++dz) {
        for (int dx = 0; dx < 2; ++dx) {
            const ChunkKey child{key.level - 1, key.column * 2 + dx, key.row * 2 + dz};
            if (!layout_.exists(child)) {
                continue;
            }
            Node* have = find(child);
            const Box childBox =
                have != nullptr ? Box{{have->data.west, have->data.lowest - have->data.skirtDepth,
                                       have->data.north},
                                      {have->data.east, have->data.highest, have->data.south}}
                                : boxOf(child, box.low[1], box.high[1]);
            if (outside(childBox, frustum_)) {
                continue;
            }
            if (have == nullptr) {
                failed = failed || failed_.count(child.id()) != 0;
                missing.push_back({child, distanceTo(childBox, eye_)});
                // A child covers a quarter of this chunk at twice its resolution: about as many
                // cells of water, floor and walls as this chunk has.
                bytes += ChunkData::mostBytes() + data.noData.bytes();
            } else {
                kept.push_back({child, distanceTo(childBox, eye_)});
                waiting.push_back(have);
                bytes += have->lastChoice == choices_ ? 0 : have->data.bytes();
            }
        }
    }
    if (!missing.empty() || failed) {
        if (!failed) {
            refinements_.push_back(
                {key.level, distance, bytes, std::move(missing), std::move(waiting)});
        }
        chosen_.push_back({&node, distance});
        return;
    }
    std::sort(kept.begin(), kept.end(),
              [](const Wanted& a, const Wanted& b) { return a.distance < b.distance; });
    for (const Wanted& child : kept) {
        visit(child.key, *find(child.key));
    }
}

LodDrawStats StreamedTerrain::choose(const LodDrawSettings& settings) {
    takeArrivals();
    ++choices_;
    heldBytes_ = 0;
    frustum_ = currentFrustum();
    pixelsPerMetre_ = currentPixelsPerMetre();
    eye_ = settings.eye;
    detailPixels_ = settings.detailPixels;
    chosen_.clear();
    wanted_.clear();
    refinements_.clear();
    for (const ChunkKey& root : roots_) {
        visit(root, *find(root));
    }
    // Missing children are asked for, coarse first and nearest first, only while the cap holds
    // them beside everything this choice draws or looks through: what cannot be held stays
    // coarser rather than churn.
    std::sort(refinements_.begin(), refinements_.end(),
              [](const Refinement& a, const Refinement& b) {
                  return a.level != b.level ? a.level > b.level : a.distance < b.distance;
              });
    std::size_t asked = 0;
    for (Refinement& refinement : refinements_) {
        if (heldBytes_ + asked + refinement.bytes <= cap_) {
            asked += refinement.bytes;
            // Siblings that came first stay until the last arrives.
            for (Node* sibling : refinement.waiting) {
                sibling->lastUsed = frame_;
            }
            wanted_.insert(wanted_.end(), refinement.missing.begin(), refinement.missing.end());
        }
    }
    LodDrawStats stats;
    coarsest_ = finest_ = -1;
    for (const Chosen& chosen : chosen_) {
        const ChunkData& data = chosen.node->data;
        stats.triangles += static_cast<long long>(
            (data.indices.empty() ? fullChunkIndices().size() : data.indices.size()) / 3);
        stats.triangles += data.noData.triangles();
        coarsest_ = std::max(coarsest_, data.key.level);
        finest_ = finest_ < 0 ? data.key.level : std::min(finest_, data.key.level);
    }
    stats.chunksDrawn = static_cast<int>(chosen_.size());
    return stats;
}

void StreamedTerrain::upload(Node& node) {
    GroundImage& image = node.data.image;
    uploadMipmapped(node.texture, GL_RGB, image.width, image.height, image.rgb.data(),
                    GL_CLAMP_TO_EDGE);
    // OpenGL holds the texels now; the size stays for the cache's count.
    std::vector<unsigned char>().swap(image.rgb);
}

void StreamedTerrain::drawChosen(const LodDrawSettings& settings) {
    // Nearest first: hidden ground then fails the depth test before it is textured and fogged.
    std::sort(chosen_.begin(), chosen_.end(),
              [](const Chosen& a, const Chosen& b) { return a.distance < b.distance; });
    glColor3f(1.0f, 1.0f, 1.0f);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    if (settings.wireframe) {
        glPolygonOffset(kFillOffsetFactor, kFillOffsetUnits);
        glEnable(GL_POLYGON_OFFSET_FILL);
    }
    // Seen from above, every triangle winds counter-clockwise and every skirt faces out.
    glFrontFace(GL_CCW);
    glCullFace(GL_BACK);
    glEnable(GL_CULL_FACE);
    glEnableClientState(GL_VERTEX_ARRAY);
    for (const Chosen& chosen : chosen_) {
        Node& node = *chosen.node;
        const ChunkData& data = node.data;
        if (node.texture == 0) {
            upload(node);
        }
        const GLfloat sPlane[4] = {static_cast<GLfloat>(1.0 / data.texWidth), 0, 0,
                                   static_cast<GLfloat>(-data.texWest / data.texWidth)};
        const GLfloat tPlane[4] = {0, 0, static_cast<GLfloat>(1.0 / data.texDepth),
                                   static_cast<GLfloat>(-data.texNorth / data.texDepth)};
        textureByPlace(node.texture, sPlane, tPlane);
        const std::vector<GLushort>& indices =
            data.indices.empty() ? fullChunkIndices() : data.indices;
        glVertexPointer(kFloatsPerVertex, GL_FLOAT, 0, data.vertices.data());
        glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(indices.size()), GL_UNSIGNED_SHORT,
                       indices.data());
        if (!data.noData.walls.empty()) {
            // Walls face the water or floor beside them, whichever way up the shore lies.
            glDisable(GL_CULL_FACE);
            glVertexPointer(kFloatsPerVertex, GL_FLOAT, 0, data.noData.walls.data());
            glDrawArrays(GL_TRIANGLES, 0,
                         static_cast<GLsizei>(data.noData.walls.size() / kFloatsPerVertex));
            glEnable(GL_CULL_FACE);
        }
    }
    glDisable(GL_POLYGON_OFFSET_FILL);
    glDisable(GL_TEXTURE_GEN_S);
    glDisable(GL_TEXTURE_GEN_T);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_CULL_FACE);
    std::vector<const NoDataSurfaces*> noData;
    for (const Chosen& chosen : chosen_) {
        noData.push_back(&chosen.node->data.noData);
    }
    drawWaterAndFloor(noData, floorGrid_, kFloorGridCells * layout_.cellEast(),
                      kFloorGridCells * layout_.cellSouth());
    if (settings.wireframe) {
        glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
        glColor3f(0.0f, 0.0f, 0.0f);
        for (const Chosen& chosen : chosen_) {
            const ChunkData& data = chosen.node->data;
            const std::vector<GLushort>& indices =
                data.indices.empty() ? fullChunkIndices() : data.indices;
            glVertexPointer(kFloatsPerVertex, GL_FLOAT, 0, data.vertices.data());
            glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(data.groundIndices),
                           GL_UNSIGNED_SHORT, indices.data());
        }
        glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    }
    glDisableClientState(GL_VERTEX_ARRAY);

    // Coarse first, then nearest first.
    std::sort(wanted_.begin(), wanted_.end(), [](const Wanted& a, const Wanted& b) {
        return a.key.level != b.key.level ? a.key.level > b.key.level : a.distance < b.distance;
    });
    std::vector<ChunkKey> keys;
    keys.reserve(wanted_.size());
    for (const Wanted& wanted : wanted_) {
        keys.push_back(wanted.key);
    }
    lastWanted_ = !keys.empty();
    loader_->want(std::move(keys));
    ++frame_;
    arrivedThisFrame_ = 0;
}

bool StreamedTerrain::settled() const {
    return !lastWanted_ && loader_->idle();
}
