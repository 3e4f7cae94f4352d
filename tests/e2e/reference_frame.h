#pragma once
// The frame the viewer shows for a camera position, drawn off-screen with the viewer's own
// state set-up and frame code, for comparing with what the screen shows.

#include <string>

#include "picture.h"

class Camera;

struct ReferenceFrame {
    // Drawn into 8 bits a channel like the viewer's window, so the same Mesa rasteriser gives
    // the same pixels; empty when it could not be drawn.
    Picture picture;
    std::string error;
};

// Loads the terrain from folder (its "ground.3dt" and texture bitmap) in a headless OpenGL
// context, sets the fixed state and a whole-window viewport as the viewer's window does, and
// draws two frames from camera: the first frame of a run uses OpenGL's default fog and only later
// frames the viewer's own, so the second is what the screen keeps showing. depthBits is the
// depth buffer of the viewer's window, 0 for none.
ReferenceFrame renderSteadyFrame(const std::string& folder, const Camera& camera, int width,
                                 int height, int depthBits);
