#pragma once
// groundtool info: what the viewer would make of a ".3dt" file and its texture, found with the
// viewer's own loader and reader in a headless OpenGL context.

#include <iosfwd>
#include <string>

namespace groundtool {

// Prints the report on out. Returns kExitSuccess when the viewer would load the files without a
// word and show them as they are, kExitFailure when it would complain or silently show something
// else; throws ToolError with kExitCannotCheck when no OpenGL context can be had.
int runInfo(const std::string& path, std::ostream& out);

// What the viewer draws when its texture's bitmap left no pixels but kept the size it declared
// (width and height above 0), or none: "uploads a 8 x 8 texture with no pixels, ..." or "draws the
// ground untextured".
std::string groundWithoutPixels(int width, int height);

}  // namespace groundtool
