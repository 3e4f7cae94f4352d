#include "auto_detail.h"

#include <algorithm>
#include <cmath>

namespace {

// Each frame with room lowers the error by this factor, halving it in about 14 frames. Lowering
// adds at most some 11 % of triangles on rough ground (their count goes as the error to the
// power -2), so a frame eased from below kEaseBelowShare of the budget stays within it: no
// frame-to-frame swing between easing down and raising again.
constexpr double kEasePerFrame = 0.95;
constexpr double kEaseBelowShare = 0.75;
// A frame over the budget raises the error by the square root of its excess over this share of
// the budget, exact on rough ground and short of it on smooth, by at least kLeastRaise.
constexpr double kRaiseTargetShare = 0.85;
constexpr double kLeastRaise = 1.1;
constexpr int kMostRaises = 16;
// Far beyond the error at which every chunk off the eye's own is at its coarsest level.
constexpr double kCoarsestPixels = 1e5;
// A single picture settles within this many rounds.
constexpr int kMostSettlingRounds = 200;

}  // namespace

LodDrawStats AutoDetail::choose(DrawnGround& ground, LodDrawSettings& settings) {
    if (lastTriangles_ < kEaseBelowShare * budget_) {
        pixels_ = std::max(kFinestPixels, pixels_ * kEasePerFrame);
    }
    settings.detailPixels = pixels_;
    LodDrawStats stats = ground.choose(settings);
    for (int raise = 0;
         raise < kMostRaises && stats.triangles > budget_ && pixels_ < kCoarsestPixels; ++raise) {
        const double excess = static_cast<double>(stats.triangles) / (kRaiseTargetShare * budget_);
        pixels_ = std::min(kCoarsestPixels, pixels_ * std::max(kLeastRaise, std::sqrt(excess)));
        settings.detailPixels = pixels_;
        stats = ground.choose(settings);
    }
    lastTriangles_ = stats.triangles;
    return stats;
}

LodDrawStats AutoDetail::settle(DrawnGround& ground, LodDrawSettings& settings) {
    LodDrawStats stats = choose(ground, settings);
    for (int round = 1; round < kMostSettlingRounds; ++round) {
        const double before = pixels_;
        stats = choose(ground, settings);
        if (pixels_ == before) {
            break;
        }
    }
    return stats;
}
