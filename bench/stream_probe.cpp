// stream_probe: elevation mode's ground from an elevation raster, drawn headlessly by the viewer's
// own code (the world, the ground, the walker, the frame with automatic detail), timed the way a
// user sees it: from the open to the first frame with ground, and to the frame where every chunk
// in view is within 2 pixels, then the frames of a walk. Prints one JSON object; bench/stream_bench
// runs it on a held and a streamed source and holds the figures to their budgets.
//
// stream_probe WORLD [--frames N] [--width W] [--height H]

#include <GL/gl.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "elevation_frame.h"
#include "elevation_world.h"
#include "headless_gl.h"
#include "streamed_terrain.h"
#include "walker.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kSettledPixels = 2.0;
constexpr double kSettleTimeoutSeconds = 120.0;
constexpr int kTurnEvery = 25;  // frames of the walk between turns
constexpr double kStepsPerFrame = 0.25;
constexpr int kReadoutPoints = 20;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: stream_probe WORLD [--frames N] [--width W] [--height H]\n";
        return 64;
    }
    const std::string path = argv[1];
    int frames = 200, width = 1280, height = 720;
    for (int i = 2; i + 1 < argc; i += 2) {
        const int value = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--frames") == 0) {
            frames = value;
        } else if (std::strcmp(argv[i], "--width") == 0) {
            width = value;
        } else if (std::strcmp(argv[i], "--height") == 0) {
            height = value;
        }
    }
    try {
        const Clock::time_point start = Clock::now();
        const raster::ElevationSource source(path);
        raster::ElevationWorld world = raster::loadElevationWorld(source, 1.0);
        const double openMs = msSince(start);
        HeadlessGL gl(width, height, true);
        if (!gl.ok()) {
            throw std::runtime_error(gl.error());
        }
        std::unique_ptr<DrawnGround> ground = raster::groundOf(world);
        Walker walker(world.grid.field);
        ElevationFrameOptions options;
        options.width = width;
        options.height = height;
        AutoDetail governor;

        // The first frame with ground on it.
        double firstGroundMs = -1;
        while (firstGroundMs < 0) {
            const ElevationFrame frame = drawElevationFrame(*ground, walker, options, &governor);
            glFinish();
            if (frame.stats.chunksDrawn > 0) {
                firstGroundMs = msSince(start);
            }
        }
        // Every chunk in view within 2 pixels.
        ElevationFrameOptions settling = options;
        settling.detail = {false, kSettledPixels};
        double settledMs = -1;
        while (settledMs < 0 && msSince(start) < kSettleTimeoutSeconds * 1000) {
            drawElevationFrame(*ground, walker, settling);
            glFinish();
            if (ground->settled()) {
                settledMs = msSince(start);
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
        // A walk at the default, automatic detail.
        std::vector<double> frameMs;
        long long mostTriangles = 0;
        for (int i = 0; i < frames; ++i) {
            const Clock::time_point frameStart = Clock::now();
            const ElevationFrame frame = drawElevationFrame(*ground, walker, options, &governor);
            glFinish();
            frameMs.push_back(msSince(frameStart));
            mostTriangles = std::max(mostTriangles, frame.stats.triangles);
            walker.walk(kStepsPerFrame);
            if ((i + 1) % kTurnEvery == 0) {
                walker.turn(1);
            }
        }
        // The readout's ground at sample centres, for gdallocationinfo to confirm.
        std::vector<std::string> readout;
        if (world.stream) {
            const ChunkRecipe& recipe = world.stream->recipe;
            std::mt19937 random(22);
            for (int i = 0; i < kReadoutPoints; ++i) {
                const int column = static_cast<int>(random() % source.width());
                const int row = static_cast<int>(random() % source.height());
                const std::optional<double> ground =
                    sourceHeightAt(recipe, recipe.layout.worldX(column), recipe.layout.worldZ(row));
                std::ostringstream point;
                point.precision(17);
                point << "[" << column << ", " << row << ", ";
                if (ground) {
                    point << *ground;
                } else {
                    point << "null";
                }
                point << "]";
                readout.push_back(point.str());
            }
        }
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        std::cout << "{\"columns\": " << source.width() << ", \"rows\": " << source.height()
                  << ", \"streamed\": " << (world.stream ? "true" : "false")
                  << ", \"open_ms\": " << openMs << ", \"first_ground_ms\": " << firstGroundMs
                  << ", \"settled_ms\": " << settledMs
                  << ", \"peak_mb\": " << usage.ru_maxrss / 1024.0
                  << ", \"most_triangles\": " << mostTriangles << ", \"frame_ms\": [";
        for (std::size_t i = 0; i < frameMs.size(); ++i) {
            std::cout << (i ? ", " : "") << frameMs[i];
        }
        std::cout << "], \"readout\": [";
        for (std::size_t i = 0; i < readout.size(); ++i) {
            std::cout << (i ? ", " : "") << readout[i];
        }
        std::cout << "]}\n";
    } catch (const std::exception& error) {
        // The message as a JSON string: no quote or backslash of its own.
        std::string message = error.what();
        for (char& c : message) {
            c = c == '"' || c == '\\' ? '\'' : c;
        }
        std::cout << "{\"error\": \"" << message << "\"}\n";
        return 1;
    }
    return 0;
}
