// The jailed reader against reading in process, each in a fresh process as small as the viewer's
// is when it starts its reader: what the jail costs (a child started and walled, every sample
// copied out of shared memory) on a 3601 x 3601 Int16 tile read cell for cell.

#include <benchmark/benchmark.h>
#include <gdal.h>
#include <ogr_srs_api.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_files.h"
#include "bench_main.h"
#include "elevation_source.h"
#include "gdal_source.h"
#include "raster_error.h"
#include "raster_open.h"

namespace {

constexpr int kTileSide = 3601;
constexpr const char* kReadOnce = "--read-once";
std::string tilePath() {
    return bench::runFolder() + "/tile.tif";
}

void writeTile() {
    raster::useGdal();
    GDALDatasetH tile = GDALCreate(GDALGetDriverByName("GTiff"), tilePath().c_str(), kTileSide,
                                   kTileSide, 1, GDT_Int16, nullptr);
    double transform[6] = {7.0, 1.0 / 3600, 0.0, 47.0, 0.0, -1.0 / 3600};
    GDALSetGeoTransform(tile, transform);
    OGRSpatialReferenceH wgs84 = OSRNewSpatialReference(nullptr);
    OSRImportFromEPSG(wgs84, 4326);
    GDALSetSpatialRef(tile, wgs84);
    OSRDestroySpatialReference(wgs84);
    std::vector<std::int16_t> row(kTileSide);
    for (int y = 0; y < kTileSide; ++y) {
        for (int x = 0; x < kTileSide; ++x) {
            row[x] =
                static_cast<std::int16_t>(1000 + 300 * std::sin(x / 97.0) * std::cos(y / 61.0));
        }
        if (GDALRasterIO(GDALGetRasterBand(tile, 1), GF_Write, 0, y, kTileSide, 1, row.data(),
                         kTileSide, 1, GDT_Int16, 0, 0) != CE_None) {
            break;  // the read then fails and says so
        }
    }
    GDALClose(tile);
}

// Opens the tile and reads it whole into float heights, the way the viewer's grid is made, in
// the jail or in this process; the seconds it took.
double readOnce(const std::string& path, bool jailed) {
    using Clock = std::chrono::steady_clock;
    constexpr std::size_t kCells = static_cast<std::size_t>(kTileSide) * kTileSide;
    const raster::SourceWindow whole{0.0, 0.0, kTileSide, kTileSide};
    raster::useGdal();
    const Clock::time_point begin = Clock::now();
    std::vector<float> heights;
    if (jailed) {
        const raster::ElevationSource source(path);
        const raster::SharedSamples samples = source.readShared(whole, kTileSide, kTileSide);
        heights.assign(samples.data(), samples.data() + kCells);
    } else {
        const raster::GdalSource source(path);
        heights.resize(kCells);
        source.read(whole, kTileSide, kTileSide, heights.data(), kTileSide);
    }
    benchmark::DoNotOptimize(heights.data());
    return std::chrono::duration<double>(Clock::now() - begin).count();
}

// Each read in a fresh process of its own, as small as the viewer is when it opens a raster:
// a process that has run for a while would make the reader's fork copy pages the viewer's never
// does. The process reports its own time, so starting it counts for neither way.
double readInFreshProcess(bool jailed) {
    int out[2];
    if (pipe(out) != 0) {
        return -1.0;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const std::string path = tilePath();
    const char* argv[] = {"jail_bench", kReadOnce, jailed ? "jailed" : "in-process", path.c_str(),
                          nullptr};
    pid_t child = 0;
    const int spawned = posix_spawn(&child, "/proc/self/exe", &actions, nullptr,
                                    const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    char text[64] = {};
    const ssize_t got = spawned == 0 ? read(out[0], text, sizeof text - 1) : -1;
    close(out[0]);
    int status = 0;
    if (spawned == 0) {
        waitpid(child, &status, 0);
    }
    return got > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? std::atof(text) : -1.0;
}

void JailAgainstInProcess(benchmark::State& state) {
    double jailed = 0, inProcess = 0;
    bool jailFirst = true;
    for (auto _ : state) {
        double iteration = 0;
        for (int k = 0; k < 2; ++k) {
            const bool jail = (k == 0) == jailFirst;
            const double seconds = readInFreshProcess(jail);
            if (seconds < 0) {
                state.SkipWithError("a read of the tile failed");
                return;
            }
            (jail ? jailed : inProcess) += seconds;
            iteration += seconds;
        }
        jailFirst = !jailFirst;
        state.SetIterationTime(iteration);
    }
    const double runs = static_cast<double>(state.iterations());
    state.counters["jailed_ms"] = jailed * 1e3 / runs;
    state.counters["in_process_ms"] = inProcess * 1e3 / runs;
    state.counters["jail_cost_ms"] = (jailed - inProcess) * 1e3 / runs;
}

BENCHMARK(JailAgainstInProcess)
    ->Name("reader/jail_against_in_process")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void prepare(const std::string& /*folder*/) {
    writeTile();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], kReadOnce) == 0) {
        try {
            std::printf("%.9f\n", readOnce(argv[3], std::strcmp(argv[2], "jailed") == 0));
            return 0;
        } catch (const std::exception&) {
            return 1;
        }
    }
    return bench::runBenchmarks(argc, argv, prepare);
}
