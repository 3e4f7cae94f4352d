#include "render.h"

#include <GL/gl.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <iostream>
#include <memory>
#include <ostream>
#include <utility>

#include "app.h"
#include "camera.h"
#include "command.h"
#include "elevation_scene.h"
#include "file_output.h"
#include "headless_gl.h"
#include "image_files.h"
#include "info.h"
#include "option_checks.h"
#include "option_values.h"
#include "printable.h"
#include "terrain.h"
#include "tool_error.h"
#include "view_settings_cli.h"
#include "viewer_load.h"
#include "world.h"
#include "world_note.h"

namespace groundtool {

std::optional<EyePosition> parseEye(const std::string& text) {
    const auto pair = app::parseDecimalPair(text);
    return pair ? std::optional<EyePosition>(EyePosition{pair->first, pair->second}) : std::nullopt;
}

std::string defaultRenderOutput(const std::string& terrainPath) {
    std::string path = terrainPath;
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();  // a folder of tiles
    }
    const std::string name = world::nameOf(path);
    const std::size_t dot = name.rfind('.');
    return (dot != std::string::npos && dot > 0 ? name.substr(0, dot) : name) + ".png";
}

namespace {

// The picture drawn so far, as RGB rows top to bottom.
std::vector<std::uint8_t> readPicture(int width, int height) {
    glFinish();
    const auto rowBytes = static_cast<std::size_t>(width) * 3;
    std::vector<std::uint8_t> bottomUp(rowBytes * static_cast<std::size_t>(height));
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, bottomUp.data());
    std::vector<std::uint8_t> topDown(bottomUp.size());
    for (int y = 0; y < height; ++y) {
        std::copy_n(bottomUp.begin() + static_cast<std::ptrdiff_t>(rowBytes * y), rowBytes,
                    topDown.begin() + static_cast<std::ptrdiff_t>(rowBytes * (height - 1 - y)));
    }
    return topDown;
}

// The viewer's first frame of an elevation raster: the same scene, frame and detail.
std::vector<std::uint8_t> renderElevationFrame(const RenderOptions& options,
                                               std::unique_ptr<raster::ElevationSource> source) {
    std::optional<ElevationScene> scene;
    try {
        scene.emplace(std::move(source), options.view);
    } catch (const StartRefused& refused) {
        throw ToolError(std::string(refused.what()) + " (see groundtool render --help)",
                        kExitUsage);
    }
    // The viewer's notes say more; this one alone changes what the picture is made from.
    if (const auto& stream = scene->world().stream; stream && !stream->withoutPyramid.empty()) {
        std::cerr << "note: " << printable(raster::withoutPyramidNote(stream->withoutPyramid))
                  << std::endl;
    }
    HeadlessGL gl(options.width, options.height, true);
    if (!gl.ok()) {
        throw ToolError("cannot render " + options.terrain + ": no OpenGL context (" + gl.error() +
                        ")");
    }
    scene->makeGround();
    scene->drawPicture(options.width, options.height);
    if (glGetError() != GL_NO_ERROR) {
        throw ToolError("cannot render " + options.terrain + ": OpenGL refused to draw it");
    }
    std::vector<std::uint8_t> picture = readPicture(options.width, options.height);
    scene.reset();  // its ground goes while the context is still current
    return picture;
}

}  // namespace

std::vector<std::uint8_t> renderFrame(const RenderOptions& options,
                                      std::vector<std::string>& viewerMessages) {
    return renderFrame(options, openWorld(options.terrain, options.view.band), viewerMessages);
}

std::vector<std::uint8_t> renderFrame(const RenderOptions& options, OpenedWorld opened,
                                      std::vector<std::string>& viewerMessages) {
    if (opened.raster) {
        return renderElevationFrame(options, std::move(opened.raster));
    }
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
    const ViewerLoad load = loadAsViewer(terrain, std::move(*opened.classic));
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
        const std::string where = "texture " + printable(load.report.textureName) + " in " +
                                  printable(world::folderOf(options.terrain));
        if (terrain.bitmap().width() > 0 && terrain.bitmap().height() > 0) {
            viewerMessages.push_back(
                "unusable " + where + "; the viewer " +
                groundWithoutPixels(terrain.bitmap().width(), terrain.bitmap().height()));
        } else {
            viewerMessages.push_back("no usable " + where + (sayWhy ? " (" + failure + ")" : "") +
                                     "; the ground is untextured, as in the viewer");
        }
    }

    // The first frame draws with OpenGL's default fog; from the second on, each frame uses the
    // fog the one before set. Keep the second, what the viewer shows from then on.
    const Camera camera =
        app::cameraAt(options.eyeX, options.eyeZ, options.view.start.headingDegrees);
    for (int frame = 0; frame < 2; ++frame) {
        app::drawFrame(camera, terrain, options.heightScale);
        const std::vector<LoadMessage> errors = frameErrorCheck();
        if (!errors.empty()) {
            throw ToolError("cannot render " + options.terrain +
                            ": the viewer would end after drawing it (" + joined(errors) + ")");
        }
    }
    return readPicture(options.width, options.height);
}

void runRender(const RenderOptions& options, std::ostream& out, std::ostream& warnings) {
    runRender(options, openWorld(options.terrain, options.view.band), out, warnings);
}

void runRender(const RenderOptions& options, OpenedWorld opened, std::ostream& out,
               std::ostream& warnings) {
    const bool raster = opened.raster != nullptr;
    const std::string output =
        options.output.empty() ? defaultRenderOutput(options.terrain) : options.output;
    StagedOutput staged(options.force);
    staged.checkTarget(output);

    std::vector<std::string> viewerMessages;
    const std::vector<std::uint8_t> pixels =
        renderFrame(options, std::move(opened), viewerMessages);
    for (const std::string& message : viewerMessages) {
        warnings << "groundtool: " << message << "\n";
    }
    staged.stage(output, encodePng(options.width, options.height, pixels));
    staged.commit();
    if (raster) {
        out << "wrote " << output << " (" << options.width << " x " << options.height
            << ", an elevation raster as the viewer shows it)\n";
        return;
    }
    out << "wrote " << output << " (" << options.width << " x " << options.height << ", eye at x "
        << options.eyeX << " z " << options.eyeZ << ", heading "
        << options.view.start.headingDegrees << " degrees)\n";
}

Command addRenderCommand(CLI::App& app) {
    auto options = std::make_shared<RenderOptions>();
    CLI::App* command = app.add_subcommand(
        "render",
        "Draw what the viewer shows of a .3dt (texture from the file's folder) or of an "
        "elevation raster, with the viewer's frame code and no X server, and save it as PNG. "
        "For a raster, --heading turns from north.");
    auto files = std::make_shared<std::vector<std::string>>();
    command
        ->add_option("file", *files,
                     "the terrain file or elevation raster; several rasters, or a folder of them, "
                     "are joined into one")
        ->required();
    command->add_option("--out", options->output,
                        "the PNG to write (default: the terrain's or first raster's name with "
                        ".png, in the working folder)");
    command->add_option("--width", options->width, "picture width in pixels")
        ->transform(decimal(false))
        ->check(CLI::Range(1, kMaxRenderSide))
        ->capture_default_str();
    command->add_option("--height", options->height, "picture height in pixels")
        ->transform(decimal(false))
        ->check(CLI::Range(1, kMaxRenderSide))
        ->capture_default_str();
    command
        ->add_option_function<std::string>(
            "--eye",
            [options](const std::string& text) {
                const std::optional<EyePosition> eye = parseEye(text);
                options->eyeX = eye->x;
                options->eyeZ = eye->z;
            },
            "camera position X,Z in world units (the viewer starts at 0,0, 2 units above the "
            "ground)")
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                return parseEye(text) ? "" : "expected X,Z, two numbers such as 0,-5";
            },
            "X,Z"));
    command
        ->add_option("--height-scale", options->heightScale,
                     "world units for height 127, as groundview --height-scale")
        ->check(kHeightScale)
        ->capture_default_str();
    raster::addViewOptions(*command, options->view, raster::ViewCommand::render);
    command->add_flag("--force", options->force, "replace an existing PNG");
    return {command, [options, files, command] {
                if (options->output.empty()) {
                    options->output = defaultRenderOutput(files->front());
                }
                // Made before any input is read, and removed again if nothing lands in it.
                const OutputFolder folder(world::folderOf(options->output));
                OpenedWorld opened = openWorld(*files, options->view.band);
                options->terrain = opened.raster ? opened.raster->shown() : files->front();
                refuseMisplaced(*command, raster::ViewCommand::render, opened.raster != nullptr);
                runRender(*options, std::move(opened), std::cout, std::cerr);
                return kExitSuccess;
            }};
}

}  // namespace groundtool
