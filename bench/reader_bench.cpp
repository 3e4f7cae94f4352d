// The bitmap reader on a file, against stb_image on the same file and against the least any
// reader has to do: open, allocate, read the pixel bytes and exchange blue and red in one pass.

#include <benchmark/benchmark.h>
#include <stb/stb_image.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include "bench_files.h"
#include "bench_main.h"
#include "bmp_format.h"
#include "image.h"

namespace {

std::string bitmapPath(const benchmark::State& state) {
    return bench::bitmapPath(bench::runFolder(), static_cast<int>(state.range(0)));
}

void setBytes(benchmark::State& state) {
    state.SetBytesProcessed(state.iterations() * state.range(0) * state.range(0) * 3);
}

void BitmapLoad(benchmark::State& state) {
    const std::string path = bitmapPath(state);
    for (auto _ : state) {
        Bitmap bitmap;
        bitmap.load(path);
        benchmark::DoNotOptimize(bitmap.pixels());
        if (bitmap.pixels() == nullptr) {
            state.SkipWithError("the reader left no pixels");
            break;
        }
    }
    setBytes(state);
}

void StbLoad(benchmark::State& state) {
    const std::string path = bitmapPath(state);
    for (auto _ : state) {
        int width = 0, height = 0, channels = 0;
        stbi_uc* pixels = stbi_load(path.c_str(), &width, &height, &channels, 3);
        benchmark::DoNotOptimize(pixels);
        if (pixels == nullptr) {
            state.SkipWithError(stbi_failure_reason());
            break;
        }
        stbi_image_free(pixels);
    }
    setBytes(state);
}

void ReadFloor(benchmark::State& state) {
    const std::string path = bitmapPath(state);
    const std::size_t bytes = static_cast<std::size_t>(state.range(0)) * state.range(0) * 3;
    for (auto _ : state) {
        std::FILE* file = std::fopen(path.c_str(), "rb");
        auto* pixels = static_cast<std::uint8_t*>(std::malloc(bytes));
        const bool complete =
            file != nullptr && pixels != nullptr &&
            std::fseek(file, static_cast<long>(bmp::kHeaderBytes), SEEK_SET) == 0 &&
            std::fread(pixels, 1, bytes, file) == bytes;
        if (file != nullptr) {
            std::fclose(file);
        }
        if (!complete) {
            std::free(pixels);
            state.SkipWithError("cannot read the bitmap's pixels");
            break;
        }
        for (std::uint8_t *pixel = pixels, *end = pixels + bytes; pixel != end; pixel += 3) {
            std::swap(pixel[0], pixel[2]);
        }
        benchmark::DoNotOptimize(pixels);
        benchmark::ClobberMemory();
        std::free(pixels);
    }
    setBytes(state);
}

// The readers run single-threaded, so their own CPU time is the fair figure on a busy machine.
BENCHMARK(BitmapLoad)
    ->Name("reader/groundview")
    ->Arg(bench::kTextureSide)
    ->Arg(bench::kLargeBitmapSide)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(StbLoad)
    ->Name("reader/stb_image")
    ->Arg(bench::kTextureSide)
    ->Arg(bench::kLargeBitmapSide)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(ReadFloor)
    ->Name("reader/floor")
    ->Arg(bench::kTextureSide)
    ->Arg(bench::kLargeBitmapSide)
    ->Unit(benchmark::kMillisecond);

}  // namespace
