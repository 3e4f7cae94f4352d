#pragma once
// The viewer's loader run directly on a file the tool wrote, with everything it would say
// collected: standard error lines, error-log entries, and a pending OpenGL error.

#include <string>
#include <vector>

class Terrain;

// Needs a current OpenGL context; fileName is opened from the working folder, as the viewer does.
std::vector<std::string> viewerLoad(Terrain& terrain, const std::string& fileName);
