// The viewer's scene for the largest grid, drawn into a 1024 x 768 pbuffer with the viewer's
// frame state and start camera, against two floors over the same vertices: the leanest
// immediate-mode loop over a flat array (the least immediate mode can cost) and one glDrawArrays
// per strip from a client-side array (what the vertex-array path costs). Each frame is cleared,
// viewed, drawn in both passes and finished; all three must draw the same picture.

#include <GL/gl.h>
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <vector>

#include "app.h"
#include "bench_files.h"
#include "bench_gl.h"
#include "bench_main.h"
#include "camera.h"
#include "headless_gl.h"
#include "terrain.h"
#include "world.h"

namespace {

// drawScene's line width, which it keeps to itself.
constexpr float kLineWidth = 2.0f;
constexpr int kFloatsPerVertex = 5;  // s, t, x, y, z: GL_T2F_V3F

struct Scene {
    Terrain terrain;
    Camera camera = app::startCamera();
    std::vector<float> vertices;  // every strip's vertices in the order they are sent
    int strips = 0;
    int stripVertices = 0;
    std::string error;        // why nothing can be drawn
    std::string leanError;    // why the lean loop is no fair floor
    std::string arraysError;  // why the array path is no fair floor
};

// The vertices Terrain::draw sends, with its arithmetic: single-precision accumulators, s
// restarting every strip, t running on.
void buildVertices(Scene& scene) {
    const Terrain& terrain = scene.terrain;
    const float sStep = 1.0f / static_cast<float>(terrain.tileX());
    const float tStep = 1.0f / static_cast<float>(terrain.tileY());
    scene.strips = terrain.rows() - 1;
    scene.stripVertices = 2 * terrain.columns();
    float t = 0.0f;
    for (int i = 0; i < scene.strips; ++i) {
        const float upperX = scene::kOrigin + scene::kSpacing * static_cast<float>(i + 1);
        const float lowerX = scene::kOrigin + scene::kSpacing * static_cast<float>(i);
        float s = 0.0f;
        for (int j = 0; j < terrain.columns(); ++j) {
            const float z = scene::kOrigin + scene::kSpacing * static_cast<float>(j);
            const float upperY =
                terrain.heights()[i + 1][j] / scene::kHeightDivisor * scene::kDefaultHeightScale;
            const float lowerY =
                terrain.heights()[i][j] / scene::kHeightDivisor * scene::kDefaultHeightScale;
            scene.vertices.insert(scene.vertices.end(), {s, t, upperX, upperY, z});
            scene.vertices.insert(scene.vertices.end(), {s, t - tStep, lowerX, lowerY, z});
            s += sStep;
        }
        t += tStep;
    }
}

void leanPass(const Scene& scene) {
    glBindTexture(GL_TEXTURE_2D, scene.terrain.textureId());
    const float* vertex = scene.vertices.data();
    for (int strip = 0; strip < scene.strips; ++strip) {
        glBegin(GL_TRIANGLE_STRIP);
        for (int k = 0; k < scene.stripVertices; ++k, vertex += kFloatsPerVertex) {
            glTexCoord2fv(vertex);
            glVertex3fv(vertex + 2);
        }
        glEnd();
    }
}

void arraysPass(const Scene& scene) {
    glBindTexture(GL_TEXTURE_2D, scene.terrain.textureId());
    for (int strip = 0; strip < scene.strips; ++strip) {
        glDrawArrays(GL_TRIANGLE_STRIP, strip * scene.stripVertices, scene.stripVertices);
    }
}

// drawScene's two passes and state changes around a pass of the caller's.
template <typename Pass>
void twoPasses(const Scene& scene, Pass pass) {
    glColor3f(1.0f, 1.0f, 1.0f);
    glEnable(GL_TEXTURE_2D);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    pass(scene);
    glDisable(GL_TEXTURE_2D);
    glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
    glLineWidth(kLineWidth);
    glColor3f(0.0f, 0.0f, 0.0f);
    pass(scene);
    glFlush();
}

void viewerScene(const Scene& scene) {
    drawScene(scene.terrain);
}

void leanScene(const Scene& scene) {
    twoPasses(scene, leanPass);
}

void arraysScene(const Scene& scene) {
    glInterleavedArrays(GL_T2F_V3F, 0, scene.vertices.data());
    twoPasses(scene, arraysPass);
    glDisableClientState(GL_VERTEX_ARRAY);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
}

// One frame as the viewer draws it, up to the swap, and waited for.
void drawFrame(const Scene& scene, void (*draw)(const Scene&)) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();
    scene.camera.apply();
    draw(scene);
    glFinish();
}

std::vector<std::uint8_t> picture(const Scene& scene, void (*draw)(const Scene&)) {
    drawFrame(scene, draw);
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(bench::kScreenWidth) *
                                     bench::kScreenHeight * 4);
    glReadPixels(0, 0, bench::kScreenWidth, bench::kScreenHeight, GL_RGBA, GL_UNSIGNED_BYTE,
                 pixels.data());
    return pixels;
}

void setUp(Scene& scene) {
    HeadlessGL& gl = bench::sharedContext();
    if (!gl.ok()) {
        scene.error = gl.error();
        return;
    }
    app::setFixedState();
    app::enableFixedFeatures();
    glViewport(0, 0, bench::kScreenWidth, bench::kScreenHeight);  // the window's reshape
    scene.terrain.load(world::inFolder(bench::runFolder(), bench::kTerrainFile));
    if (scene.terrain.rows() != bench::kGridSize || scene.terrain.bitmap().pixels() == nullptr) {
        scene.error = "the terrain did not load";
        return;
    }
    buildVertices(scene);
    // A first frame leaves the viewer's fog set for every later one.
    app::drawFrame(scene.camera, scene.terrain);

    const std::vector<std::uint8_t> expected = picture(scene, viewerScene);
    if (picture(scene, leanScene) != expected) {
        scene.leanError = "the lean loop draws a different picture";
    }
    if (picture(scene, arraysScene) != expected) {
        scene.arraysError = "the array path draws a different picture";
    }
    if (glGetError() != GL_NO_ERROR) {
        scene.error = "OpenGL error while setting up the scene";
    }
}

const Scene& sharedScene() {
    static Scene scene;
    static const bool ready = (setUp(scene), true);
    static_cast<void>(ready);
    return scene;
}

bool ready(benchmark::State& state, const std::string& unfair) {
    const Scene& scene = sharedScene();
    if (!scene.error.empty() || !unfair.empty()) {
        state.SkipWithError((scene.error.empty() ? unfair : scene.error).c_str());
        return false;
    }
    return true;
}

void drawFrames(benchmark::State& state, void (*draw)(const Scene&), const std::string& unfair) {
    if (!ready(state, unfair)) {
        return;
    }
    const Scene& scene = sharedScene();
    for (auto _ : state) {
        drawFrame(scene, draw);
    }
    if (glGetError() != GL_NO_ERROR) {
        state.SkipWithError("OpenGL error while drawing");
    }
    // Both passes send every vertex.
    state.SetItemsProcessed(state.iterations() * 2 * scene.strips * scene.stripVertices);
}

void DrawScene(benchmark::State& state) {
    drawFrames(state, viewerScene, "");
}

void LeanImmediate(benchmark::State& state) {
    drawFrames(state, leanScene, sharedScene().leanError);
}

void DrawArrays(benchmark::State& state) {
    drawFrames(state, arraysScene, sharedScene().arraysError);
}

// The three one frame after another in a rotating order, each timed on its own, so a busy spell
// of the machine falls on all of them alike: the fairest ratios on a shared machine.
void DrawInterleaved(benchmark::State& state) {
    if (!ready(state, sharedScene().leanError + sharedScene().arraysError)) {
        return;
    }
    using Clock = std::chrono::steady_clock;
    void (*const draws[])(const Scene&) = {viewerScene, leanScene, arraysScene};
    constexpr int kDraws = 3;
    double seconds[kDraws] = {};
    int first = 0;
    for (auto _ : state) {
        double iteration = 0;
        for (int k = 0; k < kDraws; ++k) {
            const int draw = (first + k) % kDraws;
            const Clock::time_point start = Clock::now();
            drawFrame(sharedScene(), draws[draw]);
            const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
            seconds[draw] += elapsed;
            iteration += elapsed;
        }
        first = (first + 1) % kDraws;
        state.SetIterationTime(iteration);
    }
    if (glGetError() != GL_NO_ERROR) {
        state.SkipWithError("OpenGL error while drawing");
    }
    const auto perFrameMs = [&](double total) {
        return benchmark::Counter(total * 1e3 / static_cast<double>(state.iterations()));
    };
    state.counters["drawScene_ms"] = perFrameMs(seconds[0]);
    state.counters["lean_ms"] = perFrameMs(seconds[1]);
    state.counters["arrays_ms"] = perFrameMs(seconds[2]);
    state.counters["ratio_lean"] = seconds[0] / seconds[1];
    state.counters["ratio_arrays"] = seconds[0] / seconds[2];
}

// Mesa rasterises on its own threads, so wall-clock time is the figure.
BENCHMARK(DrawScene)->Name("draw/drawScene")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(LeanImmediate)->Name("draw/lean_immediate")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(DrawArrays)->Name("draw/draw_arrays")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(DrawInterleaved)
    ->Name("draw/interleaved")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
