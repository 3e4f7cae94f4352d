// groundtool_bench: groundtool's generate and render commands on the viewer's largest world,
// beside their own parts (the computation without the files, the frame without the PNG). A
// program of its own because render makes and drops its own OpenGL context.

#include <benchmark/benchmark.h>

#include <filesystem>
#include <ostream>

#include "bench_files.h"
#include "bench_main.h"
#include "generate.h"
#include "render.h"
#include "tool_error.h"
#include "world.h"

namespace {

void prepare(const std::string& folder) {
    bench::writeWorld(folder);
}

template <typename Command>
void runCommand(benchmark::State& state, Command command) {
    try {
        for (auto _ : state) {
            command();
        }
    } catch (const groundtool::ToolError& error) {
        state.SkipWithError(error.what());
    }
}

groundtool::GenerateOptions largestWorld() {
    groundtool::GenerateOptions options;
    options.size = bench::kGridSize;
    options.folder = world::inFolder(bench::runFolder(), "generated");
    options.force = true;
    return options;
}

void Generate(benchmark::State& state) {
    const groundtool::GenerateOptions options = largestWorld();
    std::filesystem::create_directories(options.folder);
    std::ostream quiet(nullptr);
    runCommand(state, [&] { groundtool::runGenerate(options, quiet); });
}

void GenerateComputation(benchmark::State& state) {
    const groundtool::GenerateOptions options = largestWorld();
    runCommand(state, [&] {
        benchmark::DoNotOptimize(
            groundtool::generateHeights(options.size, options.seed, options.roughness));
        benchmark::DoNotOptimize(groundtool::generateTexture(options.seed));
    });
}

groundtool::RenderOptions viewerScreen() {
    groundtool::RenderOptions options;
    options.terrain = world::inFolder(bench::runFolder(), bench::kTerrainFile);
    options.output = world::inFolder(bench::runFolder(), "render.png");
    options.force = true;
    return options;
}

void Render(benchmark::State& state) {
    const groundtool::RenderOptions options = viewerScreen();
    std::ostream quiet(nullptr);
    runCommand(state, [&] { groundtool::runRender(options, quiet, quiet); });
}

void RenderFrame(benchmark::State& state) {
    const groundtool::RenderOptions options = viewerScreen();
    runCommand(state, [&] {
        std::vector<std::string> messages;
        benchmark::DoNotOptimize(groundtool::renderFrame(options, messages));
    });
}

BENCHMARK(Generate)->Name("groundtool/generate")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(GenerateComputation)
    ->Name("groundtool/generate_computation")
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(Render)->Name("groundtool/render")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(RenderFrame)
    ->Name("groundtool/render_frame")
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    return bench::runBenchmarks(argc, argv, prepare);
}
