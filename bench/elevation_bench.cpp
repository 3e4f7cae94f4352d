// elevation_bench: elevation mode's frame over a 3601 x 3601 field (an SRTM tile's size) with a
// 4096 x 4096 texture, from five fixed places, against the classic frame of the largest ".3dt"
// world drawn in the same context and the same run. Both need a depth buffer the shared
// benchmark context lacks, hence a program of its own. Also reports how far detail 1 strays
// from full detail, the triangles each frame draws and the memory the levels take.

#include <GL/gl.h>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app.h"
#include "bench_files.h"
#include "bench_gl.h"
#include "bench_main.h"
#include "camera.h"
#include "elevation_frame.h"
#include "headless_gl.h"
#include "lod_terrain.h"
#include "terrain.h"
#include "walker.h"

namespace {

constexpr int kFieldSide = 3601;          // samples, one arc-second SRTM tile
constexpr double kSpacingMetres = 30.0;   // about one arc-second
constexpr int kDiamondSquareSide = 4097;  // 2^12 + 1, cropped to the field
constexpr double kRoughness = 0.8;        // Hurst exponent; real mountains are near it
constexpr double kReliefMetres = 2400.0;  // lowest to highest
constexpr int kViewpoints = 5;
constexpr int kChannelTolerance = 24;  // a pixel differs when a channel moves more

// Fractal relief by midpoint displacement, its range scaled to kReliefMetres.
HeightField fractalField() {
    const int n = kDiamondSquareSide;
    std::vector<float> grid(static_cast<std::size_t>(n) * n, 0.0f);
    const auto at = [&](int c, int r) -> float& {
        return grid[static_cast<std::size_t>(r) * n + c];
    };
    std::mt19937 random(20240611);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    float amplitude = 1.0f;
    for (int half = (n - 1) / 2; half >= 1; half /= 2, amplitude *= std::pow(0.5f, kRoughness)) {
        for (int r = half; r < n; r += 2 * half) {
            for (int c = half; c < n; c += 2 * half) {
                at(c, r) = (at(c - half, r - half) + at(c + half, r - half) +
                            at(c - half, r + half) + at(c + half, r + half)) /
                               4 +
                           amplitude * unit(random);
            }
        }
        for (int r = 0; r < n; r += half) {
            for (int c = (r / half % 2 == 0) ? half : 0; c < n; c += 2 * half) {
                float sum = 0;
                int count = 0;
                const int neighbours[4][2] = {{-half, 0}, {half, 0}, {0, -half}, {0, half}};
                for (const auto& offset : neighbours) {
                    const int nc = c + offset[0], nr = r + offset[1];
                    if (nc >= 0 && nc < n && nr >= 0 && nr < n) {
                        sum += at(nc, nr);
                        ++count;
                    }
                }
                at(c, r) = sum / count + amplitude * unit(random);
            }
        }
    }
    HeightField field{kFieldSide, kFieldSide, kSpacingMetres, kSpacingMetres, {}, {}};
    field.heights.reserve(static_cast<std::size_t>(kFieldSide) * kFieldSide);
    for (int r = 0; r < kFieldSide; ++r) {
        for (int c = 0; c < kFieldSide; ++c) {
            field.heights.push_back(at(c, r));
        }
    }
    const auto [low, high] = std::minmax_element(field.heights.begin(), field.heights.end());
    const float lowest = *low, scale = static_cast<float>(kReliefMetres) / (*high - *low);
    for (float& h : field.heights) {
        h = (h - lowest) * scale;
    }
    return field;
}

// Hypsometric colours, lit from the north-west, as a relief texture is.
GroundImage reliefImage(const HeightField& field) {
    GroundImage image{kMaxTextureSide, kMaxTextureSide, {}};
    image.rgb.resize(static_cast<std::size_t>(kMaxTextureSide) * kMaxTextureSide * 3);
    const double samplesPerTexel = (field.columns - 1.0) / kMaxTextureSide;
    for (int y = 0; y < kMaxTextureSide; ++y) {
        const int r = std::min(field.rows - 2, static_cast<int>((y + 0.5) * samplesPerTexel));
        for (int x = 0; x < kMaxTextureSide; ++x) {
            const int c =
                std::min(field.columns - 2, static_cast<int>((x + 0.5) * samplesPerTexel));
            const double h = field.at(c, r) / kReliefMetres;
            const double east = field.at(c + 1, r) - field.at(c, r);
            const double south = field.at(c, r + 1) - field.at(c, r);
            const double light =
                std::clamp(0.75 - (east + south) / (2 * kSpacingMetres), 0.35, 1.0);
            const double rgb[3] = {70 + 150 * h, 120 + 80 * h - 40 * h * h, 60 + 120 * h * h};
            unsigned char* texel =
                &image.rgb[(static_cast<std::size_t>(y) * kMaxTextureSide + x) * 3];
            for (int k = 0; k < 3; ++k) {
                texel[k] = static_cast<unsigned char>(std::clamp(rgb[k] * light, 0.0, 255.0));
            }
        }
    }
    return image;
}

// (x share, z share, heading degrees, eye height factor): the start, over the middle, low in a
// corner, across the field and low looking along it.
constexpr double kViews[kViewpoints][4] = {{0.5, 0.95, 0, 1},
                                           {0.5, 0.5, 45, 1},
                                           {0.15, 0.85, 60, 0.25},
                                           {0.8, 0.2, 200, 1},
                                           {0.5, 0.7, 300, 0.1}};

struct Elevation {
    std::unique_ptr<HeadlessGL> gl;
    HeightField field;
    std::unique_ptr<LodTerrain> terrain;
    std::vector<Walker> walkers;
    Terrain classic;
    Camera classicCamera = app::startCamera();
    double buildSeconds = 0;
    double worstDifferingShare = 0;
    std::vector<long long> triangles;  // per viewpoint, detail 1
    std::string error;
};

ElevationFrameOptions options(double detail) {
    ElevationFrameOptions o;
    o.width = bench::kScreenWidth;
    o.height = bench::kScreenHeight;
    o.detail = {false, detail};
    return o;
}

std::vector<unsigned char> picture() {
    return bench::readPicture(bench::kScreenWidth, bench::kScreenHeight);
}

// The classic frame as the viewer draws it, its fixed state first since the elevation frame
// leaves its own.
void classicFrame(Elevation& e) {
    app::setFixedState();
    app::enableFixedFeatures();
    glViewport(0, 0, bench::kScreenWidth, bench::kScreenHeight);
    app::drawFrame(e.classicCamera, e.classic);
    glFinish();
}

long long elevationFrame(Elevation& e, int viewpoint, double detail = 1) {
    const long long drawn =
        drawElevationFrame(*e.terrain, e.walkers[viewpoint], options(detail)).stats.triangles;
    glFinish();
    return drawn;
}

void setUp(Elevation& e) {
    e.gl = std::make_unique<HeadlessGL>(bench::kScreenWidth, bench::kScreenHeight, true);
    if (!e.gl->ok()) {
        e.error = e.gl->error();
        return;
    }
    e.classic.load(bench::runFolder() + "/" + bench::kTerrainFile);
    if (e.classic.rows() != bench::kGridSize) {
        e.error = "the classic world did not load";
        return;
    }
    e.field = fractalField();
    const GroundImage image = reliefImage(e.field);
    const auto start = std::chrono::steady_clock::now();
    e.terrain = std::make_unique<LodTerrain>(e.field, image);
    e.buildSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (const auto& view : kViews) {
        Walker walker(e.field);
        walker.setEyeHeight(walker.eyeHeight() * view[3]);
        walker.placeAt(view[0] * e.field.width(), view[1] * e.field.depth(),
                       view[2] * kRadiansPerDegree);
        e.walkers.push_back(walker);
    }
    for (int v = 0; v < kViewpoints; ++v) {
        elevationFrame(e, v, 0);
        const std::vector<unsigned char> full = picture();
        e.triangles.push_back(elevationFrame(e, v));
        e.worstDifferingShare = std::max(e.worstDifferingShare,
                                         bench::differingShare(full, picture(), kChannelTolerance));
    }
    classicFrame(e);  // the classic fog, set after its first frame, for every later one
    if (glGetError() != GL_NO_ERROR) {
        e.error = "OpenGL error while setting up";
    }
}

Elevation& shared() {
    static Elevation e;
    static const bool ready = (setUp(e), true);
    static_cast<void>(ready);
    return e;
}

// The classic frame and the five elevation frames, one after another in a rotating order and
// each timed on its own, so a busy spell of the machine falls on both alike.
void ElevationAgainstClassic(benchmark::State& state) {
    Elevation& e = shared();
    if (!e.error.empty()) {
        state.SkipWithError(e.error.c_str());
        return;
    }
    using Clock = std::chrono::steady_clock;
    double classicSeconds = 0, elevationSeconds = 0;
    int first = 0;
    for (auto _ : state) {
        double iteration = 0;
        for (int k = 0; k <= kViewpoints; ++k) {
            const int frame = (first + k) % (kViewpoints + 1);
            const Clock::time_point begin = Clock::now();
            if (frame == kViewpoints) {
                classicFrame(e);
            } else {
                elevationFrame(e, frame);
            }
            const double elapsed = std::chrono::duration<double>(Clock::now() - begin).count();
            (frame == kViewpoints ? classicSeconds : elevationSeconds) += elapsed;
            iteration += elapsed;
        }
        first = (first + 1) % (kViewpoints + 1);
        state.SetIterationTime(iteration);
    }
    if (glGetError() != GL_NO_ERROR) {
        state.SkipWithError("OpenGL error while drawing");
    }
    const double frames = static_cast<double>(state.iterations());
    const double elevationMs = elevationSeconds * 1e3 / (frames * kViewpoints);
    const double classicMs = classicSeconds * 1e3 / frames;
    long long most = 0, all = 0;
    for (long long t : e.triangles) {
        most = std::max(most, t);
        all += t;
    }
    constexpr double kMiB = 1024.0 * 1024.0;
    state.counters["elevation_ms"] = elevationMs;
    state.counters["drawScene_ms"] = classicMs;
    state.counters["ratio"] = elevationMs / classicMs;
    state.counters["differing_share"] = e.worstDifferingShare;
    state.counters["triangles_mean"] = static_cast<double>(all) / kViewpoints;
    state.counters["triangles_max"] = static_cast<double>(most);
    state.counters["geometry_built_mib"] = e.terrain->geometryBytes() / kMiB;
    state.counters["geometry_complete_mib"] = e.terrain->completeGeometryBytes() / kMiB;
    state.counters["build_s"] = e.buildSeconds;
}

BENCHMARK(ElevationAgainstClassic)
    ->Name("elevation/interleaved")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void prepare(const std::string& folder) {
    bench::writeWorld(folder);
    Elevation& e = shared();
    const auto* renderer = e.error.empty() ? glGetString(GL_RENDERER) : nullptr;
    benchmark::AddCustomContext(
        "gl_renderer", renderer ? reinterpret_cast<const char*>(renderer) : "none: " + e.error);
}

}  // namespace

int main(int argc, char** argv) {
    return bench::runBenchmarks(argc, argv, prepare);
}
