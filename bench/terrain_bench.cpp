// The terrain loader as the viewer runs it at start-up: a fresh terrain reads "ground.3dt", its
// texture bitmap and uploads the texture. Beside it, the upload of the same pixels alone.

#include <GL/gl.h>
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "bench_files.h"
#include "bench_gl.h"
#include "bench_main.h"
#include "headless_gl.h"
#include "terrain.h"
#include "world.h"

namespace {

void TerrainLoad(benchmark::State& state) {
    if (!bench::sharedContext().ok()) {
        state.SkipWithError(bench::sharedContext().error().c_str());
        return;
    }
    const std::string path = world::inFolder(bench::runFolder(), bench::kTerrainFile);
    for (auto _ : state) {
        auto terrain = std::make_unique<Terrain>();
        terrain->load(path);
        glFinish();

        state.PauseTiming();
        const bool complete = terrain->rows() == bench::kGridSize &&
                              terrain->bitmap().width() == bench::kTextureSide &&
                              glGetError() == GL_NO_ERROR;
        // The viewer keeps its one texture; here each load's would pile up.
        const GLuint texture = terrain->textureId();
        glDeleteTextures(1, &texture);
        terrain.reset();
        state.ResumeTiming();
        if (!complete) {
            state.SkipWithError("the terrain did not load completely");
            break;
        }
    }
}

void TextureUpload(benchmark::State& state) {
    if (!bench::sharedContext().ok()) {
        state.SkipWithError(bench::sharedContext().error().c_str());
        return;
    }
    Bitmap bitmap;
    bitmap.load(world::texturePath(bench::runFolder(), bench::kTextureNumber));
    for (auto _ : state) {
        const GLuint texture = uploadTexture(bitmap, 0);
        glFinish();

        state.PauseTiming();
        const bool uploaded = glGetError() == GL_NO_ERROR;
        glDeleteTextures(1, &texture);
        state.ResumeTiming();
        if (!uploaded) {
            state.SkipWithError("OpenGL refused the texture");
            break;
        }
    }
}

// Reading and the upload run on the calling thread (Mesa converts and stores the texture there),
// so the process's CPU time is the figure: on an idle machine it equals the wall-clock time, and
// on a busy one it leaves out the time other programs hold the cores.
BENCHMARK(TerrainLoad)
    ->Name("load/terrain")
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(TextureUpload)
    ->Name("load/texture_upload")
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
