// town_bench: elevation mode's frame over a "LiDAR town", a 6000 x 5000 Float32 GeoTIFF at 1 m
// (UTM 32N) of gently rolling ground and a few hundred box buildings with vertical walls, opened
// as the viewer opens it and drawn at 1280 x 720 with the default automatic detail from five
// places, against the classic frame of the largest ".3dt" world in the same context and run.
// Also reports how far the automatic detail strays from full detail and what it settles at.

#include <GL/gl.h>
#include <benchmark/benchmark.h>
#include <cpl_vsi.h>
#include <gdal.h>
#include <ogr_srs_api.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app.h"
#include "bench_files.h"
#include "bench_gl.h"
#include "bench_main.h"
#include "camera.h"
#include "elevation_frame.h"
#include "elevation_world.h"
#include "headless_gl.h"
#include "lod_terrain.h"
#include "open_world.h"
#include "raster_error.h"
#include "raster_open.h"
#include "terrain.h"
#include "walker.h"

namespace {

constexpr int kFullColumns = 6000, kFullRows = 5000;  // samples, 1 m apart
constexpr int kFullBuildings = 400;
// The smoke test's town: a quarter each way, streamed all the same.
constexpr int kSmokeShrink = 4;
constexpr const char* kSmokeStreamAbove = "1000";

// TOWN_BENCH_SMOKE set: the smoke test's small town.
bool smoke() {
    return std::getenv("TOWN_BENCH_SMOKE") != nullptr;
}
const int kTownColumns = smoke() ? kFullColumns / kSmokeShrink : kFullColumns;
const int kTownRows = smoke() ? kFullRows / kSmokeShrink : kFullRows;
const int kBuildings = smoke() ? kFullBuildings / kSmokeShrink : kFullBuildings;
constexpr double kLowestRoofMetres = 5.0, kHighestRoofMetres = 30.0;
constexpr double kNarrowestMetres = 8.0, kWidestMetres = 40.0;  // a building's side
constexpr int kUtm32North = 32632;
constexpr int kWidth = 1280, kHeight = 720;
constexpr int kViewpoints = 5;
constexpr int kChannelTolerance = 24;  // a pixel differs when a channel moves more
// Frames a place is held for its automatic detail to settle, as a user standing there sees it.
constexpr int kMostSettlingFrames = 120;
// Frames a viewpoint waits for streamed chunks, 5 ms apart.
constexpr int kMostArrivalFrames = 2000;

std::string townPath() {
    return bench::runFolder() + "/town.tif";
}

// Metres: rolling ground some 30 m from lowest to highest, then the buildings stamped on it,
// each roof flat at its height above the ground under its middle.
std::vector<float> townHeights() {
    std::vector<float> heights(static_cast<std::size_t>(kTownColumns) * kTownRows);
    for (int y = 0; y < kTownRows; ++y) {
        for (int x = 0; x < kTownColumns; ++x) {
            heights[static_cast<std::size_t>(y) * kTownColumns + x] =
                static_cast<float>(40 + 10 * std::sin(x / 410.0 + 0.3) * std::cos(y / 530.0) +
                                   4 * std::sin((x + y) / 190.0));
        }
    }
    std::mt19937 random(20260108);
    std::uniform_real_distribution<double> side(kNarrowestMetres, kWidestMetres);
    std::uniform_real_distribution<double> roof(kLowestRoofMetres, kHighestRoofMetres);
    std::uniform_int_distribution<int> column(0, kTownColumns - 1), row(0, kTownRows - 1);
    for (int b = 0; b < kBuildings; ++b) {
        const int cx = column(random), cy = row(random);
        const int halfWide = static_cast<int>(side(random) / 2);
        const int halfDeep = static_cast<int>(side(random) / 2);
        const float top = heights[static_cast<std::size_t>(cy) * kTownColumns + cx] +
                          static_cast<float>(roof(random));
        for (int y = std::max(0, cy - halfDeep); y <= std::min(kTownRows - 1, cy + halfDeep); ++y) {
            for (int x = std::max(0, cx - halfWide); x <= std::min(kTownColumns - 1, cx + halfWide);
                 ++x) {
                heights[static_cast<std::size_t>(y) * kTownColumns + x] = top;
            }
        }
    }
    return heights;
}

void writeTown() {
    raster::useGdal();
    std::vector<float> heights = townHeights();
    GDALDatasetH town = GDALCreate(GDALGetDriverByName("GTiff"), townPath().c_str(), kTownColumns,
                                   kTownRows, 1, GDT_Float32, nullptr);
    double transform[6] = {500000.0, 1.0, 0.0, 5200000.0, 0.0, -1.0};
    GDALSetGeoTransform(town, transform);
    OGRSpatialReferenceH utm = OSRNewSpatialReference(nullptr);
    OSRImportFromEPSG(utm, kUtm32North);
    GDALSetSpatialRef(town, utm);
    OSRDestroySpatialReference(utm);
    const bool written =
        GDALRasterIO(GDALGetRasterBand(town, 1), GF_Write, 0, 0, kTownColumns, kTownRows,
                     heights.data(), kTownColumns, kTownRows, GDT_Float32, 0, 0) == CE_None;
    GDALClose(town);
    if (!written) {
        VSIUnlink(townPath().c_str());  // the open then fails and says so
    }
}

// (x share, z share, heading degrees, eye height factor): the viewer's start, over the middle,
// low in a corner, across the town and low looking along it.
constexpr double kViews[kViewpoints][4] = {{-1, -1, 0, 1},
                                           {0.5, 0.5, 45, 1},
                                           {0.15, 0.85, 60, 0.25},
                                           {0.8, 0.2, 200, 1},
                                           {0.5, 0.7, 300, 0.1}};

struct Town {
    std::unique_ptr<HeadlessGL> gl;
    std::unique_ptr<raster::ElevationSource> source;  // read from while ground streams
    raster::ElevationWorld world;
    std::unique_ptr<DrawnGround> ground;
    std::vector<Walker> walkers;
    std::vector<AutoDetail> governors;  // one a place, settled there
    Terrain classic;
    Camera classicCamera = app::startCamera();
    double openSeconds = 0;
    double worstDifferingShare = 0;
    std::vector<ElevationFrame> settled;  // per viewpoint
    std::string error;
};

ElevationFrame townFrame(Town& t, int viewpoint, bool full = false) {
    ElevationFrameOptions options;
    options.width = kWidth;
    options.height = kHeight;
    if (full) {
        options.detail = {false, 0.0};
    }
    const ElevationFrame frame =
        drawElevationFrame(*t.ground, t.walkers[viewpoint], options, &t.governors[viewpoint]);
    glFinish();
    return frame;
}

// Frames at viewpoint until streamed ground has every chunk the view asks for.
ElevationFrame arrivedFrame(Town& t, int viewpoint, bool full = false) {
    ElevationFrame frame = townFrame(t, viewpoint, full);
    for (int k = 0; !t.ground->settled() && k < kMostArrivalFrames; ++k) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        frame = townFrame(t, viewpoint, full);
    }
    return frame;
}

void classicFrame(Town& t) {
    app::setFixedState();
    app::enableFixedFeatures();
    glViewport(0, 0, kWidth, kHeight);
    app::drawFrame(t.classicCamera, t.classic);
    glFinish();
}

void setUp(Town& t) {
    t.gl = std::make_unique<HeadlessGL>(kWidth, kHeight, true);
    if (!t.gl->ok()) {
        t.error = t.gl->error();
        return;
    }
    t.classic.load(bench::runFolder() + "/" + bench::kTerrainFile);
    if (t.classic.rows() != bench::kGridSize) {
        t.error = "the classic world did not load";
        return;
    }
    const auto start = std::chrono::steady_clock::now();
    try {
        // The pyramid a streamed town needs goes into the run's folder, not the user's cache.
        setenv("XDG_CACHE_HOME", (bench::runFolder() + "/cache").c_str(), 1);
        if (smoke()) {
            setenv("GROUNDVIEW_STREAM_ABOVE", kSmokeStreamAbove, 1);
        }
        t.source = std::move(openWorld(townPath()).raster);
        t.world = raster::loadElevationWorld(*t.source, 1.0);
    } catch (const raster::RasterError& error) {
        t.error = error.what();
        return;
    }
    t.ground = raster::groundOf(t.world);
    t.openSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const HeightField& field = t.world.grid.field;
    for (const auto& view : kViews) {
        Walker walker(field);
        walker.setEyeHeight(walker.eyeHeight() * view[3]);
        if (view[0] >= 0) {
            walker.placeAt(view[0] * field.width(), view[1] * field.depth(),
                           view[2] * kRadiansPerDegree);
        }
        t.walkers.push_back(walker);
        t.governors.emplace_back();
    }
    for (int v = 0; v < kViewpoints; ++v) {
        ElevationFrame frame = arrivedFrame(t, v);
        for (int k = 1; k < kMostSettlingFrames; ++k) {
            const double before = frame.detailPixels;
            frame = arrivedFrame(t, v);
            if (frame.detailPixels == before) {
                break;
            }
        }
        t.settled.push_back(frame);
        const std::vector<unsigned char> automatic = bench::readPicture(kWidth, kHeight);
        arrivedFrame(t, v, true);
        t.worstDifferingShare = std::max(t.worstDifferingShare,
                                         bench::differingShare(bench::readPicture(kWidth, kHeight),
                                                               automatic, kChannelTolerance));
    }
    classicFrame(t);  // the classic fog, set after its first frame, for every later one
    if (glGetError() != GL_NO_ERROR) {
        t.error = "OpenGL error while setting up";
    }
}

Town& shared() {
    static Town t;
    static const bool ready = (setUp(t), true);
    static_cast<void>(ready);
    return t;
}

// The classic frame and the five town frames, one after another in a rotating order and each
// timed on its own, so a busy spell of the machine falls on both alike.
void TownAgainstClassic(benchmark::State& state) {
    Town& t = shared();
    if (!t.error.empty()) {
        state.SkipWithError(t.error.c_str());
        return;
    }
    using Clock = std::chrono::steady_clock;
    std::vector<double> townMs, classicMs;
    int first = 0;
    for (auto _ : state) {
        double iteration = 0;
        for (int k = 0; k <= kViewpoints; ++k) {
            const int frame = (first + k) % (kViewpoints + 1);
            const Clock::time_point begin = Clock::now();
            if (frame == kViewpoints) {
                classicFrame(t);
            } else {
                townFrame(t, frame);
            }
            const double elapsed = std::chrono::duration<double>(Clock::now() - begin).count();
            (frame == kViewpoints ? classicMs : townMs).push_back(elapsed * 1e3);
            iteration += elapsed;
        }
        first = (first + 1) % (kViewpoints + 1);
        state.SetIterationTime(iteration);
    }
    if (glGetError() != GL_NO_ERROR) {
        state.SkipWithError("OpenGL error while drawing");
    }
    const auto median = [](std::vector<double>& values) {
        std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
        return values[values.size() / 2];
    };
    long long most = 0, all = 0;
    double finest = HUGE_VAL, coarsest = 0;
    for (const ElevationFrame& frame : t.settled) {
        most = std::max(most, frame.stats.triangles);
        all += frame.stats.triangles;
        finest = std::min(finest, frame.detailPixels);
        coarsest = std::max(coarsest, frame.detailPixels);
    }
    const double town = median(townMs), classic = median(classicMs);
    state.counters["town_ms"] = town;
    state.counters["drawScene_ms"] = classic;
    state.counters["ratio"] = town / classic;
    state.counters["differing_share"] = t.worstDifferingShare;
    state.counters["triangles_mean"] = static_cast<double>(all) / kViewpoints;
    state.counters["triangles_max"] = static_cast<double>(most);
    state.counters["detail_finest_px"] = finest;
    state.counters["detail_coarsest_px"] = coarsest;
    state.counters["field_columns"] = t.world.grid.field.columns;
    state.counters["field_rows"] = t.world.grid.field.rows;
    state.counters["open_s"] = t.openSeconds;
}

BENCHMARK(TownAgainstClassic)
    ->Name("town/interleaved")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void prepare(const std::string& folder) {
    bench::writeWorld(folder);
    writeTown();
    Town& t = shared();
    const auto* renderer = t.error.empty() ? glGetString(GL_RENDERER) : nullptr;
    benchmark::AddCustomContext(
        "gl_renderer", renderer ? reinterpret_cast<const char*>(renderer) : "none: " + t.error);
}

}  // namespace

int main(int argc, char** argv) {
    return bench::runBenchmarks(argc, argv, prepare);
}
