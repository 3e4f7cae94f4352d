#pragma once
// The frame the viewer shows of a world, drawn off-screen by groundtool's renderer, for comparing
// with what the screen shows.

#include <string>

#include "picture.h"
#include "terrain.h"

struct ReferenceFrame {
    // Drawn into 8 bits a channel like the viewer's window, so the same Mesa rasteriser gives
    // the same pixels; empty when it could not be drawn.
    Picture picture;
    std::string error;
};

// The picture the viewer keeps showing of folder's "ground.3dt" (and its texture there) from
// the start camera moved to (eyeX, eyeZ), in a window of width x height with a depth buffer of
// depthBits (0 for none), at the viewer's height scale.
ReferenceFrame renderSteadyFrame(const std::string& folder, double eyeX, double eyeZ, int width,
                                 int height, int depthBits,
                                 float heightScale = scene::kDefaultHeightScale);
