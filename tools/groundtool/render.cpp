#include "render.h"

#include <GL/gl.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <ostream>

#include "app.h"
#include "camera.h"
#include "command_line.h"
#include "file_output.h"
#include "headless_gl.h"
#include "image_files.h"
#include "terrain.h"
#include "tool_error.h"
#include "viewer_load.h"

namespace fs = std::filesystem;

namespace groundtool {

std::optional<EyePosition> parseEye(const std::string& text) {
    const std::size_t comma = text.find(',');
    if (comma == std::string::npos) {
        return std::nullopt;
    }
    EyePosition eye{};
    if (!app::parseDecimal(text.substr(0, comma), eye.x) ||
        !app::parseDecimal(text.substr(comma + 1), eye.z)) {
        return std::nullopt;
    }
    return eye;
}

std::string defaultRenderOutput(const std::string& terrainPath) {
    return fs::path(terrainPath).filename().replace_extension(".png").string();
}

std::vector<std::uint8_t> renderFrame(const RenderOptions& options,
                                      std::vector<std::string>& viewerMessages) {
    HeadlessGL gl(options.width, options.height, options.depthBuffer);
    if (!gl.ok()) {
        throw ToolError("cannot render " + options.terrain + ": no OpenGL context (" + gl.error() +
                        ")");
    }
    // The viewer's start-up, then the whole-window viewport its window system sets before the
    // first frame.
    app::setFixedState();
    glViewport(0, 0, options.width, options.height);
    app::enableFixedFeatures();

    Terrain terrain;
    const ViewerLoad load = loadAsViewer(terrain, options.terrain);
    if (!load.report.found) {
        throw ToolError(fileError("cannot read", options.terrain, load.report.openFailure));
    }
    if (!load.report.accepted) {
        throw ToolError("cannot render " + options.terrain + ": the viewer rejects it (" +
                        joined(load.messages) + ")");
    }
    if (load.endsAtFirstFrame) {
        throw ToolError("cannot render " + options.terrain +
                        ": the viewer would end at its first frame (" + joined(load.messages) +
                        ")");
    }
    for (const LoadMessage& message : load.messages) {
        viewerMessages.push_back("the viewer would write to " + describe(message));
    }
    if (terrain.bitmap().pixels() == nullptr) {
        // A missing texture needs no reason; a FIFO or a folder under its name does.
        const std::string& failure = load.report.texture.openFailure;
        const bool sayWhy = !failure.empty() && failure != std::strerror(ENOENT);
        viewerMessages.push_back("no usable texture " + load.report.textureName + " in " +
                                 folderOf(options.terrain) + (sayWhy ? " (" + failure + ")" : "") +
                                 "; the ground is untextured, as in the viewer");
    }

    // The first frame draws with OpenGL's default fog; from the second on, each frame uses the
    // fog the one before set. Keep the second, what the viewer shows from then on.
    const Camera camera = app::cameraAt(options.eyeX, options.eyeZ, options.headingDegrees);
    for (int frame = 0; frame < 2; ++frame) {
        app::drawFrame(camera, terrain, options.heightScale);
        const std::vector<LoadMessage> errors = frameErrorCheck();
        if (!errors.empty()) {
            throw ToolError("cannot render " + options.terrain +
                            ": the viewer would end after drawing it (" + joined(errors) + ")");
        }
    }
    glFinish();

    const auto rowBytes = static_cast<std::size_t>(options.width) * 3;
    std::vector<std::uint8_t> bottomUp(rowBytes * static_cast<std::size_t>(options.height));
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, options.width, options.height, GL_RGB, GL_UNSIGNED_BYTE, bottomUp.data());
    std::vector<std::uint8_t> topDown(bottomUp.size());
    for (int y = 0; y < options.height; ++y) {
        std::copy_n(
            bottomUp.begin() + static_cast<std::ptrdiff_t>(rowBytes * y), rowBytes,
            topDown.begin() + static_cast<std::ptrdiff_t>(rowBytes * (options.height - 1 - y)));
    }
    return topDown;
}

void runRender(const RenderOptions& options, std::ostream& out, std::ostream& warnings) {
    const std::string output =
        options.output.empty() ? defaultRenderOutput(options.terrain) : options.output;
    StagedOutput staged(options.force);
    staged.checkTarget(output);

    std::vector<std::string> viewerMessages;
    const std::vector<std::uint8_t> pixels = renderFrame(options, viewerMessages);
    for (const std::string& message : viewerMessages) {
        warnings << "groundtool: " << message << "\n";
    }
    staged.stage(output, encodePng(options.width, options.height, pixels));
    staged.commit();
    out << "wrote " << output << " (" << options.width << " x " << options.height << ", eye at x "
        << options.eyeX << " z " << options.eyeZ << ", heading " << options.headingDegrees
        << " degrees)\n";
}

}  // namespace groundtool
