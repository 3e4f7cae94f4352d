// Terrain::loadFrom on arbitrary bytes in a headless OpenGL context, texture upload included. The
// input is loaded over a terrain that already holds a grid, so short headers that keep earlier
// values and grids that shrink or grow in place are reached. Its texture comes from a few files
// held in memory, for the texture number in byte 5 to name.
#include <GL/gl.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>

#include "byte_source.h"
#include "headless_gl.h"
#include "report_counts.h"
#include "sample_files.h"
#include "terrain.h"
#include "upload_bounds.h"

namespace {

// Modest sizes only: every input uploads one of these, and the exec rate is what finds faults.
const std::map<std::string, sample::Bytes>& textureFiles() {
    static const std::map<std::string, sample::Bytes> files = {
        {"1.bmp", sample::bitmap(8, 8)},
        {"2.bmp", sample::bitmap(5, 3)},                         // rows padded to 4 bytes
        {"-1.bmp", sample::bitmap(8, 8, 8)},                     // no pixels, width and height set
        {"3.bmp", sample::prefix(sample::bitmap(64, 64), 100)},  // mostly missing
        {"4.bmp", sample::bitmap(4, 4, 24, 1)},                  // compressed
        {"5.bmp", {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}},
        {"6.bmp", sample::bitmap(0, 0)},
        {"8.bmp", {}},
        {"-10.bmp", sample::bitmap(3, 7)},
    };
    return files;
}

// "7.bmp" stands for a file that exists but can't be read, every other name for a missing one.
std::unique_ptr<ByteSource> openTexture(const std::string& name, std::string& failure) {
    const auto found = textureFiles().find(name);
    if (found == textureFiles().end()) {
        failure = name == "7.bmp" ? "a folder, not a regular file" : "No such file or directory";
        return nullptr;
    }
    return std::make_unique<MemorySource>(found->second);
}

[[noreturn]] void fail(const char* what, int rows, int columns) {
    std::fprintf(stderr, "%s (rows %d, columns %d)\n", what, rows, columns);
    std::abort();
}

// draw() walks rows x columns of the grid, so the grid must have exactly that shape.
void requireGridMatchesHeader(const Terrain& terrain) {
    const auto& heights = terrain.heights();
    if (terrain.rows() < 0 || terrain.columns() < 0 ||
        heights.size() != static_cast<std::size_t>(terrain.rows())) {
        fail("height grid rows differ from the header", terrain.rows(), terrain.columns());
    }
    for (const auto& row : heights) {
        if (row.size() != static_cast<std::size_t>(terrain.columns())) {
            fail("height grid columns differ from the header", terrain.rows(), terrain.columns());
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static HeadlessGL gl(16, 16);
    if (!gl.ok()) {
        std::fprintf(stderr, "fuzz_terrain: %s\n", gl.error().c_str());
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const sample::Bytes previous = sample::terrain(3, 5, 2, 2, 3);
    Terrain terrain;
    MemorySource first(previous);
    terrain.loadFrom(first, openTexture);

    MemorySource source(data, size);
    const TerrainReport report = terrain.loadFrom(source, openTexture);
    requireCountsWithinFile(report, static_cast<std::int64_t>(size), "input.3dt");
    const auto texture = textureFiles().find(report.textureName);
    if (texture != textureFiles().end()) {
        requireCountsWithinFile(report.texture, static_cast<std::int64_t>(texture->second.size()),
                                report.textureName.c_str());
    }
    requireUploadInsideBuffer(terrain.bitmap());
    requireGridMatchesHeader(terrain);
    drawScene(terrain);

    // Each Terrain makes its own texture object and never deletes it; this one is done.
    const GLuint textureId = terrain.textureId();
    glDeleteTextures(1, &textureId);
    // A refused upload is the frame check's business in the viewer; here it is just cleared.
    while (glGetError() != GL_NO_ERROR) {
    }
    return 0;
}
