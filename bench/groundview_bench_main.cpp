// groundview_bench: the readers and the drawing of the viewer, each beside its reference.

#include <GL/gl.h>
#include <benchmark/benchmark.h>

#include "bench_files.h"
#include "bench_gl.h"
#include "bench_main.h"
#include "headless_gl.h"

namespace {

void prepare(const std::string& folder) {
    bench::writeBitmap(folder, bench::kTextureSide);
    bench::writeBitmap(folder, bench::kLargeBitmapSide);
    bench::writeWorld(folder);
    const HeadlessGL& gl = bench::sharedContext();
    const auto* renderer = gl.ok() ? glGetString(GL_RENDERER) : nullptr;
    benchmark::AddCustomContext(
        "gl_renderer", renderer ? reinterpret_cast<const char*>(renderer) : "none: " + gl.error());
}

}  // namespace

int main(int argc, char** argv) {
    return bench::runBenchmarks(argc, argv, prepare);
}
