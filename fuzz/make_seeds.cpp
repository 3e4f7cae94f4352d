// Writes the seed corpora: small valid and broken bitmaps into OUT/bitmap and terrains into
// OUT/terrain. Usage: make_seeds OUT
#include <filesystem>
#include <iostream>
#include <string>

#include "sample_files.h"
#include "world.h"

namespace fs = std::filesystem;
using sample::Bytes;

namespace {

void writeBitmaps(const std::string& folder) {
    auto put = [&](const std::string& name, const Bytes& bytes) {
        sample::write(world::inFolder(folder, name), bytes);
    };
    for (int width : {1, 2, 3, 4, 5, 7, 8, 16}) {
        put("valid-" + std::to_string(width) + "x3.bmp", sample::bitmap(width, 3));
    }
    put("valid-8x8.bmp", sample::bitmap(8, 8));
    put("valid-0x0.bmp", sample::bitmap(0, 0));
    put("empty.bmp", {});
    put("signature-only.bmp", {'B', 'M'});
    put("short-header.bmp", sample::prefix(sample::bitmap(8, 8), 30));
    put("header-only.bmp", sample::prefix(sample::bitmap(8, 8), 54));
    const Bytes odd = sample::bitmap(5, 3);
    put("short-pixels.bmp", sample::prefix(odd, odd.size() - 7));
    put("short-first-row.bmp", sample::prefix(odd, 54 + 4));
    for (int bits : {1, 8, 16, 32}) {
        put(std::to_string(bits) + "-bit.bmp", sample::bitmap(8, 4, bits));
    }
    put("compression-1.bmp", sample::bitmap(8, 4, 8, 1));
    put("compression-3.bmp", sample::bitmap(8, 4, 24, 3));
    put("png.bmp", {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'});
    // Declared sizes far beyond the bytes present: the largest the reader refuses, one just
    // inside its limit, and long thin images.
    const int declared[][2] = {{65535, 65535}, {40000, 17000}, {65535, 1}, {1, 65535}};
    for (const auto& [width, height] : declared) {
        Bytes header = sample::prefix(sample::bitmap(1, 1), 54 + 6);
        header[18] = width & 0xFF;
        header[19] = width >> 8;
        header[22] = height & 0xFF;
        header[23] = height >> 8;
        put("declared-" + std::to_string(width) + "x" + std::to_string(height) + ".bmp", header);
    }
    // Upper halves of the 32-bit width and height set: a negative (top-down) height, a width
    // above 65535.
    Bytes wide = sample::bitmap(4, 2);
    wide[20] = 0x01;
    wide[24] = 0xFF;
    wide[25] = 0xFF;
    put("upper-halves.bmp", wide);
}

void writeTerrains(const std::string& folder) {
    auto put = [&](const std::string& name, const Bytes& bytes) {
        sample::write(world::inFolder(folder, name), bytes);
    };
    const Bytes example = sample::terrain(1, 2, 3, 1, 4, 4, {0x00, 0x7F, 0x80, 0x01, 0xFF, 0x02});
    put("example-2x3.3dt", example);
    for (std::size_t length = 0; length <= 8; ++length) {
        put("truncated-" + std::to_string(length) + ".3dt", sample::prefix(example, length));
    }
    put("two-heights.3dt", sample::prefix(example, 10));
    put("lower-case-d.3dt", {'3', 'd', 1, 2, 3, 1, 4, 4, 0, 0, 0, 0, 0, 0});
    put("type-2.3dt", sample::terrain(2, 2, 3, 1, 4, 4, {}));
    put("type-negative.3dt", sample::terrain(0xFF, 2, 3, 1, 4, 4, {}));
    for (int size : {0x80, 0xFF}) {
        put("rows-" + std::to_string(size) + ".3dt", sample::terrain(size, 3, 1, 4, 4));
        put("columns-" + std::to_string(size) + ".3dt", sample::terrain(3, size, 1, 4, 4));
    }
    put("rows-0.3dt", sample::terrain(0, 5, 1, 4, 4));
    put("tile-0.3dt", sample::terrain(4, 4, 1, 0, 0));
    put("tile-negative.3dt", sample::terrain(4, 4, 1, 0, 0xFD));
    // Texture numbers the fuzzer answers with different bitmaps, with a file it can't read (7)
    // and with none at all (0).
    for (int texture : {0, 2, 3, 4, 5, 6, 7, 8, 0xF6, 0xFF}) {
        put("texture-" + std::to_string(texture) + ".3dt", sample::terrain(3, 4, texture, 2, 2));
    }
    put("full-127x127.3dt", sample::terrain(127, 127, 1, 4, 4));
    put("line-1x127.3dt", sample::terrain(1, 127, 1, 1, 1));
    put("line-127x1.3dt", sample::terrain(127, 1, 1, 1, 1));
    put("short-heights-127x127.3dt", sample::prefix(sample::terrain(127, 127, 2, 4, 4), 300));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: make_seeds OUT" << std::endl;
        return 2;
    }
    const std::string bitmaps = world::inFolder(argv[1], "bitmap");
    const std::string terrains = world::inFolder(argv[1], "terrain");
    fs::create_directories(bitmaps);
    fs::create_directories(terrains);
    writeBitmaps(bitmaps);
    writeTerrains(terrains);
    return 0;
}
