// Terrain::loadFrom on arbitrary bytes in a headless OpenGL context, texture upload included. The
// input is loaded over a terrain that already holds a grid, so short headers that keep earlier
// values and grids that shrink or grow in place are reached. It runs in a private folder holding
// a few texture files for the texture number in byte 5 to name.
#include <GL/gl.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "byte_source.h"
#include "diag.h"
#include "headless_gl.h"
#include "private_folder.h"
#include "quiet_cerr.h"
#include "sample_files.h"
#include "terrain.h"
#include "upload_bounds.h"

namespace fs = std::filesystem;

namespace {

// Modest sizes only: every input uploads one of these, and the exec rate is what finds faults.
void writeTextureFiles() {
    sample::write("1.bmp", sample::bitmap(8, 8));
    sample::write("2.bmp", sample::bitmap(5, 3));      // rows padded to 4 bytes
    sample::write("-1.bmp", sample::bitmap(8, 8, 8));  // no pixels, width and height set
    sample::write("3.bmp", sample::prefix(sample::bitmap(64, 64), 100));  // mostly missing
    sample::write("4.bmp", sample::bitmap(4, 4, 24, 1));                  // compressed
    sample::write("5.bmp", {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'});
    sample::write("6.bmp", sample::bitmap(0, 0));
    fs::create_directory("7.bmp");  // a folder is no file
    sample::write("8.bmp", {});
    sample::write("-10.bmp", sample::bitmap(3, 7));
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

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    enterPrivateFolder(argc, argv, "fuzz_terrain");
    writeTextureFiles();

    static HeadlessGL gl(16, 16);
    if (!gl.ok()) {
        std::fprintf(stderr, "fuzz_terrain: %s\n", gl.error().c_str());
        std::abort();
    }
    redirectErrorLog([](const std::string&) {});
    quietStandardErrorStream();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const sample::Bytes previous = sample::terrain(3, 5, 2, 2, 3);
    Terrain terrain;
    MemorySource first(previous);
    terrain.loadFrom(first, "previous.3dt");

    MemorySource source(data, size);
    terrain.loadFrom(source, "input.3dt");
    requireUploadInsideBuffer(terrain.bitmap());
    requireGridMatchesHeader(terrain);
    drawScene(terrain);

    // Each Terrain makes its own texture object and never deletes it; this one is done.
    const GLuint texture = terrain.textureId();
    glDeleteTextures(1, &texture);
    // A refused upload is the frame check's business in the viewer; here it is just cleared.
    while (glGetError() != GL_NO_ERROR) {
    }
    return 0;
}
