#pragma once
// Loading a ".3dt" as the viewer would, for commands that report what the viewer would make of a
// file: the loader's report (the texture found in the terrain file's folder, where the viewer
// finds it next to its world) and the OpenGL error check that starts the viewer's first frame.

#include <string>
#include <vector>

#include "open_world.h"
#include "terrain.h"

namespace groundtool {

struct ViewerLoad {
    TerrainReport report;
    // The report's messages, then the two entries the first frame's error check would log just
    // before the viewer exits, when the texture upload left an OpenGL error.
    std::vector<LoadMessage> messages;
    bool endsAtFirstFrame = false;
};

// Gives terrain the world's grid, when its loader accepted it, uploading the texture as the viewer
// does. Needs a current OpenGL context set up as the viewer sets it.
ViewerLoad loadAsViewer(Terrain& terrain, ClassicWorld world);

// The error check that starts every viewer frame: the entries it would log (none when no error
// is pending; the viewer would exit after logging them).
std::vector<LoadMessage> frameErrorCheck();

// "errorlog.txt: not a 3d thing", "standard error: must have texture".
std::string describe(const LoadMessage& message);
// The messages' texts joined by spaces.
std::string joined(const std::vector<LoadMessage>& messages);

}  // namespace groundtool
