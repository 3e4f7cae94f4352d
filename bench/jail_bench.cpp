// The jailed reader against reading in process, in a process of its own as small as the viewer's
// is when it starts its reader: what the jail costs (a child started and walled, every sample
// copied out of shared memory) on a 3601 x 3601 Int16 tile read cell for cell.

#include <benchmark/benchmark.h>
#include <gdal.h>
#include <ogr_srs_api.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
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

void JailAgainstInProcess(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    constexpr std::size_t kCells = static_cast<std::size_t>(kTileSide) * kTileSide;
    const raster::SourceWindow whole{0.0, 0.0, kTileSide, kTileSide};
    double jailed = 0, inProcess = 0, opened = 0, openedInProcess = 0;
    bool jailFirst = true;
    try {
        const raster::ElevationSource check(tilePath());
    } catch (const raster::RasterError& error) {
        state.SkipWithError(error.what());
        return;
    }
    for (auto _ : state) {
        double iteration = 0;
        for (int k = 0; k < 2; ++k) {
            const bool jail = (k == 0) == jailFirst;
            const Clock::time_point begin = Clock::now();
            // Each way ends as the viewer's grid does, in heights of its own.
            std::vector<float> heights(kCells);
            if (jail) {
                const raster::ElevationSource source(tilePath());
                opened += std::chrono::duration<double>(Clock::now() - begin).count();
                const raster::SharedSamples samples =
                    source.readShared(whole, kTileSide, kTileSide);
                std::copy(samples.data(), samples.data() + kCells, heights.begin());
            } else {
                const raster::GdalSource source(tilePath());
                openedInProcess += std::chrono::duration<double>(Clock::now() - begin).count();
                source.read(whole, kTileSide, kTileSide, heights.data(), kTileSide);
            }
            benchmark::DoNotOptimize(heights.data());
            const double elapsed = std::chrono::duration<double>(Clock::now() - begin).count();
            (jail ? jailed : inProcess) += elapsed;
            iteration += elapsed;
        }
        jailFirst = !jailFirst;
        state.SetIterationTime(iteration);
    }
    const double runs = static_cast<double>(state.iterations());
    state.counters["jailed_ms"] = jailed * 1e3 / runs;
    state.counters["in_process_ms"] = inProcess * 1e3 / runs;
    state.counters["jail_cost_ms"] = (jailed - inProcess) * 1e3 / runs;
    state.counters["jailed_open_ms"] = opened * 1e3 / runs;
    state.counters["in_process_open_ms"] = openedInProcess * 1e3 / runs;
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
    return bench::runBenchmarks(argc, argv, prepare);
}
