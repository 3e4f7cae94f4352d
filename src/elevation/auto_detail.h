#pragma once
// The pixel error of the ground's levels chosen frame by frame so that a frame draws at most a
// budget of triangles: as fine as 1 pixel where the view allows, raised within the frame as far
// as the view needs and eased back down over the following frames once it needs less.

#include "drawn_ground.h"
#include "view_settings.h"

// Triangles a frame may draw. llvmpipe on two cores draws about 5 million a second; measured at
// 1280 x 720 with texture and fog, 160 000 keep a dense town's frame near 35 ms, under three
// times the classic world's, while 250 000 took 41 ms against its 11.7 ms.
constexpr long long kFrameTriangleBudget = 160'000;

class AutoDetail {
  public:
    static constexpr double kFinestPixels = kFinestDetailPixels;

    explicit AutoDetail(long long budget = kFrameTriangleBudget) : budget_(budget) {}

    // Chooses ground's levels with the current viewport and matrices, from last frame's error:
    // eased down when last frame left room, raised until the triangles fit the budget (unless
    // even the coarsest levels exceed it). Returns what choose counted; settings.detailPixels
    // becomes the error in force.
    LodDrawStats choose(DrawnGround& ground, LodDrawSettings& settings);
    // The same, repeated while the error still moves, as a walk holding this view would settle
    // it: for a single picture.
    LodDrawStats settle(DrawnGround& ground, LodDrawSettings& settings);

    double pixels() const { return pixels_; }

  private:
    long long budget_;
    double pixels_ = kFinestPixels;
    long long lastTriangles_ = 0;
};
