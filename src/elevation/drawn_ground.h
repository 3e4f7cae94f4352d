#pragma once
// Ground that elevation mode draws with level of detail, whatever holds its heights: each frame
// first chooses what to draw for a pixel error and counts its triangles, which is cheap, and only
// then draws that choice, so the error can be raised until the frame fits a triangle budget.

#include "walker.h"

struct LodDrawSettings {
    Point3 eye;               // metres, where the view's matrices put the eye
    double detailPixels = 1;  // the typical error a level may show on screen; 0 is full detail
    bool wireframe = false;   // black lines over the ground
};

struct LodDrawStats {
    long long triangles = 0;  // ground, skirts, water, floor and walls; lines not counted again
    int chunksDrawn = 0;
    int chunksCulled = 0;
};

class DrawnGround {
  public:
    virtual ~DrawnGround() = default;

    // Chooses what the current viewport and matrices show at settings' detail and counts what
    // drawChosen would draw; draws nothing.
    virtual LodDrawStats choose(const LodDrawSettings& settings) = 0;
    // Draws the last choice with the same matrices. Leaves fill mode, texturing and its
    // coordinate generation off, face culling off, no client arrays and no polygon offset.
    virtual void drawChosen(const LodDrawSettings& settings) = 0;

    // Metres, over every sample with data and the sea's 0 m where there is sea.
    virtual float lowestHeight() const = 0;
    virtual float highestHeight() const = 0;

    // Whether the last choice had all it wanted: ground still arriving draws coarser meanwhile.
    virtual bool settled() const { return true; }

    LodDrawStats draw(const LodDrawSettings& settings) {
        const LodDrawStats stats = choose(settings);
        drawChosen(settings);
        return stats;
    }
};
