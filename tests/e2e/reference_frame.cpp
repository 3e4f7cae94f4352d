#include "reference_frame.h"

#include <cstdint>
#include <exception>
#include <vector>

#include "app.h"
#include "render.h"
#include "world.h"

ReferenceFrame renderSteadyFrame(const std::string& folder, double eyeX, double eyeZ, int width,
                                 int height, int depthBits, float heightScale) {
    groundtool::RenderOptions options;
    options.terrain = world::terrainPath(folder);
    options.width = width;
    options.height = height;
    options.eyeX = eyeX;
    options.eyeZ = eyeZ;
    options.depthBuffer = depthBits > 0;
    options.heightScale = heightScale;
    ReferenceFrame frame;
    std::vector<std::uint8_t> rows;
    try {
        std::vector<std::string> warnings;
        rows = groundtool::renderFrame(options, warnings);
    } catch (const std::exception& error) {
        frame.error = error.what();
        return frame;
    }
    frame.picture = Picture(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* rgb = &rows[3 * (static_cast<std::size_t>(y) * width + x)];
            frame.picture.at(x, y) = Pixel{rgb[0], rgb[1], rgb[2]};
        }
    }
    return frame;
}
