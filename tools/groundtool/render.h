#pragma once
// groundtool render: the picture the viewer shows of a ".3dt" or of elevation rasters, drawn by
// the viewer's own frame code in a headless OpenGL context and saved as PNG.

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "open_world.h"
#include "terrain.h"
#include "view_settings.h"

namespace groundtool {

struct RenderOptions {
    std::string terrain;
    std::string output;  // empty: the terrain file's name with ".png", in the working folder
    int width = 1024;    // the viewer's viewport is the whole window
    int height = 768;
    bool depthBuffer = false;  // the viewer's window has none; a test may match one that has
    bool force = false;
    // How the world is seen: for a .3dt only the heading, degrees from the start heading (looking
    // along -z), positive turning right as the 'd' key does, so 90 looks along +x.
    raster::ViewSettings view;
    // A .3dt's start camera's place and height scale, as groundview --height-scale.
    double eyeX = 0.0;
    double eyeZ = 0.0;
    float heightScale = scene::kDefaultHeightScale;
};

constexpr int kMaxRenderSide = 4096;

struct EyePosition {
    double x;
    double z;
};
// "X,Z" as two finite numbers, e.g. "0,-10"; nothing when the text is not that.
std::optional<EyePosition> parseEye(const std::string& text);

// The default output name for a terrain file: "worlds/ground.3dt" gives "ground.png".
std::string defaultRenderOutput(const std::string& terrainPath);

// The second frame the viewer would draw, as RGB rows top to bottom. What the viewer would say
// while loading, and a missing texture, which it would not, are added to warnings.
std::vector<std::uint8_t> renderFrame(const RenderOptions& options,
                                      std::vector<std::string>& warnings);
// The same of options.terrain opened already.
std::vector<std::uint8_t> renderFrame(const RenderOptions& options, OpenedWorld opened,
                                      std::vector<std::string>& warnings);

// Renders and writes the PNG; the viewer's messages go to warnings, the summary to out.
void runRender(const RenderOptions& options, std::ostream& out, std::ostream& warnings);
void runRender(const RenderOptions& options, OpenedWorld opened, std::ostream& out,
               std::ostream& warnings);

}  // namespace groundtool
