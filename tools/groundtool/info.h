#pragma once
// groundtool info: what the viewer would make of a ".3dt" file and its texture, found with the
// viewer's own loader and reader in a headless OpenGL context, or of an elevation raster, read
// whole as the viewer reads it.

#include <iosfwd>
#include <string>
#include <vector>

namespace groundtool {

// Prints the report on out. Returns kExitSuccess when the viewer would load the files without a
// word and show them as they are, kExitFailure when it would complain or silently show something
// else; throws ToolError with kExitCannotCheck when no OpenGL context can be had. A raster gives
// kExitSuccess when the viewer can walk over it, and throws raster::RasterError on one line
// when it cannot.
int runInfo(const std::string& path, std::ostream& out);
// The same of several rasters, or a folder of them, joined into one.
// band, from 1, is the raster band read as heights; 0: none chosen.
int runInfo(const std::vector<std::string>& paths, std::ostream& out, int band = 0);

// What the viewer draws when its texture's bitmap left no pixels: "draws the ground untextured",
// or, when the bitmap still has a size (width and height above 0), as when memory for its pixels
// could not be had, "uploads a 4096 x 4096 texture with no pixels, ...".
std::string groundWithoutPixels(int width, int height);

}  // namespace groundtool
