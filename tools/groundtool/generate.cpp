#include "generate.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <ostream>

#include "app.h"
#include "command.h"
#include "file_output.h"
#include "image_files.h"
#include "noise.h"
#include "option_checks.h"
#include "terrain.h"
#include "tool_error.h"
#include "world.h"

namespace groundtool {

namespace {

// Independent noise fields from one seed.
std::uint64_t fieldSeed(std::uint64_t seed, std::uint64_t field) {
    return mix64(seed ^ mix64(field));
}

// Heights are laid out over a fixed 128-sample domain, so a larger grid shows more land rather
// than larger hills.
constexpr double kHeightDomain = 128.0;

struct Colour {
    double r, g, b;
};

Colour mix(const Colour& a, const Colour& b, double t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

Colour scale(const Colour& c, double factor) {
    return {c.r * factor, c.g * factor, c.b * factor};
}

double clamp01(double value) {
    return std::min(1.0, std::max(0.0, value));
}

// 0 below edge0, 1 above edge1, smooth in between.
double smoothStep(double edge0, double edge1, double value) {
    const double t = clamp01((value - edge0) / (edge1 - edge0));
    return t * t * (3.0 - 2.0 * t);
}

std::uint8_t channel(double value) {
    return static_cast<std::uint8_t>(std::lround(std::min(255.0, std::max(0.0, value))));
}

// The value below which the given share of values lies.
double quantile(std::vector<double> values, double share) {
    const auto at = values.begin() + static_cast<std::ptrdiff_t>(share * (values.size() - 1));
    std::nth_element(values.begin(), at, values.end());
    return *at;
}

}  // namespace

std::vector<std::int8_t> generateHeights(int size, std::uint64_t seed, double roughness) {
    const FractalNoise noise(fieldSeed(seed, 1), 4, 5, roughness);
    std::vector<double> values(static_cast<std::size_t>(size) * size);
    for (int r = 0; r < size; ++r) {
        for (int c = 0; c < size; ++c) {
            values[static_cast<std::size_t>(r) * size + c] =
                noise.at(r / kHeightDomain, c / kHeightDomain);
        }
    }
    const auto [low, high] = std::minmax_element(values.begin(), values.end());
    const double range = *high - *low;
    std::vector<std::int8_t> heights;
    heights.reserve(values.size());
    for (const double value : values) {
        // A flat field sits at the middle level.
        heights.push_back(range > 0.0 ? terrain_format::levelOf((value - *low) / range) : 0);
    }
    return heights;
}

std::vector<std::uint8_t> generateTexture(std::uint64_t seed) {
    const FractalNoise coverNoise(fieldSeed(seed, 2), 2, 6, 0.55);
    const FractalNoise rockNoise(fieldSeed(seed, 3), 3, 5, 0.6);
    const FractalNoise tintNoise(fieldSeed(seed, 4), 4, 4, 0.5);
    const FractalNoise grainNoise(fieldSeed(seed, 5), 32, 3, 0.6);
    SplitMix64 speckle(fieldSeed(seed, 6));

    const std::size_t pixels = static_cast<std::size_t>(kTextureSide) * kTextureSide;
    std::vector<double> cover(pixels), rock(pixels), tint(pixels), grain(pixels);
    for (std::size_t i = 0; i < pixels; ++i) {
        const double u = static_cast<double>(i % kTextureSide) / kTextureSide;
        const double v = static_cast<double>(i / kTextureSide) / kTextureSide;
        cover[i] = coverNoise.at(u, v);
        rock[i] = rockNoise.at(u, v);
        tint[i] = tintNoise.at(u, v);
        grain[i] = grainNoise.at(u, v);
    }
    // Thresholds by rank, so every seed gets the same share of grass, soil and rock.
    const double soilEdge = quantile(cover, 0.68);
    const double rockEdge = quantile(rock, 0.88);
    const double dryEdge = quantile(tint, 0.6);

    const Colour grass{58, 102, 32};
    const Colour dryGrass{124, 126, 58};
    const Colour soil{110, 86, 60};
    const Colour darkSoil{80, 62, 44};
    const Colour stone{124, 119, 110};

    std::vector<std::uint8_t> rgb;
    rgb.reserve(pixels * 3);
    for (std::size_t i = 0; i < pixels; ++i) {
        const double g = grain[i];
        Colour ground = mix(grass, dryGrass, smoothStep(dryEdge - 0.15, dryEdge + 0.1, tint[i]));
        const Colour earth = mix(soil, darkSoil, smoothStep(-0.25, 0.25, g));
        ground = mix(ground, earth, smoothStep(soilEdge - 0.03, soilEdge + 0.03, cover[i]));
        // Boulders darken towards their cracks and brighten on their tops.
        const Colour boulder = scale(stone, 0.75 + 2.0 * (rock[i] - rockEdge) + 0.4 * g);
        ground = mix(ground, boulder, smoothStep(rockEdge - 0.01, rockEdge + 0.03, rock[i]));

        const double noise = static_cast<double>(speckle.next() >> 40) / 16777216.0;
        const Colour pixel = scale(ground, 0.85 + 0.35 * g + 0.2 * (noise - 0.5));
        rgb.push_back(channel(pixel.r));
        rgb.push_back(channel(pixel.g));
        rgb.push_back(channel(pixel.b));
    }
    return rgb;
}

void runGenerate(const GenerateOptions& options, std::ostream& out) {
    const OutputFolder folder(options.folder);
    const std::string terrainPath = world::terrainPath(options.folder);
    const std::string texturePath = world::texturePath(options.folder, options.textureNumber);
    StagedOutput output(options.force);
    output.checkTarget(terrainPath);
    output.checkTarget(texturePath);

    TerrainHeader header;
    header.rows = options.size;
    header.columns = options.size;
    header.textureNumber = options.textureNumber;
    header.tileX = options.tile;
    header.tileY = options.tile;
    const std::vector<std::int8_t> heights =
        generateHeights(options.size, options.seed, options.roughness);
    output.stage(terrainPath, encodeTerrain(header, heights));
    output.stage(texturePath, encodeBmp(kTextureSide, kTextureSide, generateTexture(options.seed)));
    output.commit();

    const auto [low, high] = std::minmax_element(heights.begin(), heights.end());
    out << "wrote " << terrainPath << " (" << options.size << " x " << options.size << ", heights "
        << static_cast<int>(*low) << " to " << static_cast<int>(*high) << ", texture repeats every "
        << options.tile << " cells) and " << texturePath << " (" << kTextureSide << " x "
        << kTextureSide << ", 24-bit)\n";
}

Command addGenerateCommand(CLI::App& app) {
    auto options = std::make_shared<GenerateOptions>();
    CLI::App* command = app.add_subcommand(
        "generate",
        "Make a new fractal terrain, DIR/ground.3dt, and its ground texture, DIR/K.bmp "
        "(256 x 256, 24-bit); the same seed gives the same files.");
    command->add_option("--size", options->size, "samples per side")
        ->transform(decimal(false))
        ->check(CLI::Range(kMinGridSize, kMaxGridSize))
        ->capture_default_str();
    command->add_option("--seed", options->seed, "seed of the terrain and texture, 0 to 2^64 - 1")
        ->transform(decimal(false))
        ->capture_default_str();
    command
        ->add_option("--roughness", options->roughness,
                     "share each finer level of detail adds, 0.05 (smooth) to 1 (rough)")
        ->check(kFinite)
        ->check(CLI::Range(0.05, 1.0))
        ->capture_default_str();
    addTextureNumberOption(*command, options->textureNumber);
    command
        ->add_option("--tile", options->tile,
                     "grid cells covered by one repeat of the texture, both ways")
        ->transform(decimal(false))
        ->check(CLI::Range(1, kMaxTile))
        ->capture_default_str();
    addOutFolderOption(*command, options->folder);
    command->add_flag("--force", options->force, "replace existing files");
    return {command, [options] {
                runGenerate(*options, std::cout);
                return kExitSuccess;
            }};
}

}  // namespace groundtool
