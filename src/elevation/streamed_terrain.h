#pragma once
// Ground too large to hold, streamed: a quadtree of chunks (stream_layout.h) whose coarsest level
// is always there and whose finer ones a loader thread reads while the walker moves. Each frame
// descends from the top as far as the detail asks and the chunks that have arrived allow: a chunk
// is drawn instead of its children until every child in view has arrived, so the ground never has
// a hole, and the chunks still missing are asked for coarse first, nearest first. Chunks are kept
// within a cap in bytes, the least recently drawn let go first, never one whose children are kept.
// Each chunk carries its own relief, made from the same heights as its ground.

#include <GL/gl.h>

#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "chunk_loader.h"
#include "drawn_ground.h"
#include "view_volume.h"

class StreamedTerrain : public DrawnGround {
  public:
    // Bytes of chunks kept: about 500 full chunks.
    static constexpr std::size_t kDefaultCacheBytes = std::size_t{80} << 20;
    // Chunks taken in and uploaded in one frame, so that none stalls.
    static constexpr std::size_t kArrivalsPerFrame = 12;

    // roots are the top level's chunks, made already; make makes any other. Needs a current
    // OpenGL context, which must still be current when the terrain is destroyed.
    StreamedTerrain(const StreamLayout& layout, std::vector<ChunkData> roots,
                    ChunkLoader::Make make, float lowest, float highest,
                    std::size_t cacheBytes = kDefaultCacheBytes);
    ~StreamedTerrain();
    StreamedTerrain(const StreamedTerrain&) = delete;
    StreamedTerrain& operator=(const StreamedTerrain&) = delete;

    // Chooses the chunks to draw with the current viewport and matrices, taking in those that
    // arrived, and counts their triangles; draws nothing.
    LodDrawStats choose(const LodDrawSettings& settings) override;
    // Draws the last choice and asks the loader for what it lacked.
    void drawChosen(const LodDrawSettings& settings) override;

    float lowestHeight() const override { return lowest_; }
    float highestHeight() const override { return highest_; }
    // Whether the last choice had every chunk it wanted and nothing is on its way.
    bool settled() const override;
    std::size_t cacheBytes() const { return used_; }
    std::size_t peakCacheBytes() const { return peak_; }
    std::size_t cacheCap() const { return cap_; }
    // The coarsest and finest levels drawn by the last choice (-1 when nothing was).
    int coarsestDrawn() const { return coarsest_; }
    int finestDrawn() const { return finest_; }
    // The first read that failed, "" while none has: its ground stays coarser.
    const std::string& failure() const { return failure_; }

  private:
    struct Node {
        ChunkData data;
        GLuint texture = 0;
        long long lastUsed = -1;  // the frame that last drew it or looked through it
        long long lastChoice = -1;
        int keptChildren = 0;
        bool root = false;
    };
    struct Chosen {
        Node* node;
        double distance;
    };
    struct Wanted {
        ChunkKey key;
        double distance;
    };

    void takeArrivals();
    void keep(ChunkData chunk, bool root);
    bool makeRoom(std::size_t bytes);
    void letGo(std::unordered_map<std::uint64_t, Node>::iterator it);
    void visit(const ChunkKey& key, Node& node);
    Box boxOf(const ChunkKey& key, float low, float high) const;
    Node* find(const ChunkKey& key);
    static void upload(Node& node);

    StreamLayout layout_;
    std::unique_ptr<ChunkLoader> loader_;
    std::unordered_map<std::uint64_t, Node> nodes_;
    std::unordered_set<std::uint64_t> failed_;  // their reads failed: never asked again
    long long choices_ = 0;      // choices made, several a frame under automatic detail
    std::size_t heldBytes_ = 0;  // of the chunks this choice has looked at
    // A chunk this choice would replace by its children if the missing ones were there.
    struct Refinement {
        int level;
        double distance;
        std::size_t bytes;  // the children's, as many as the cap must find room for
        std::vector<Wanted> missing;
        std::vector<Node*> waiting;  // the children already kept
    };
    std::vector<Refinement> refinements_;
    std::vector<ChunkKey> roots_;
    std::vector<Chosen> chosen_;
    std::vector<Wanted> wanted_;
    std::size_t cap_;
    std::size_t used_ = 0, peak_ = 0;
    std::size_t arrivedThisFrame_ = 0;
    long long frame_ = 0;
    float lowest_, highest_;
    GLuint floorGrid_ = 0;
    int coarsest_ = -1, finest_ = -1;
    std::string failure_;
    // This frame's view, from choose.
    std::array<Plane, 6> frustum_{};
    Point3 eye_{0, 0, 0};
    double pixelsPerMetre_ = 1;
    double detailPixels_ = 1;
    bool lastWanted_ = false;  // the last choice lacked chunks
};
