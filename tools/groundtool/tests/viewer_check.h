#pragma once
// The viewer's loader run directly on a file the tool wrote, with everything it would say
// collected: standard error lines, error-log entries, and a pending OpenGL error.

#include <string>
#include <vector>

class Terrain;

// Needs a current OpenGL context; the texture is found in the folder of path, as the viewer finds
// it next to its world. Each message reads "log: ..." or "stderr: ...", in the viewer's order.
std::vector<std::string> viewerLoad(Terrain& terrain, const std::string& path);
