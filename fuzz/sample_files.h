#pragma once
// Small bitmap and terrain files for the seed corpora and for the textures the terrain fuzzer
// serves, made with the tests' file makers and so with the core's own encoders.

#include <cstdint>
#include <string>
#include <vector>

namespace sample {

using Bytes = std::vector<std::uint8_t>;

// A BMP with the 54-byte header and bottom-up rows padded to 4 bytes. 24-bit pixels get a
// pattern that differs in every channel, so a swap or shift shows; other depths are zeros.
Bytes bitmap(int width, int height, int bitsPerPixel = 24, int compression = 0);

// A ".3dt" file of any type: the header, then the given height bytes as they are.
Bytes terrain(int type, int rows, int columns, int textureNumber, int tileX, int tileY,
              const Bytes& heights);
// The same, type 1, with rows * columns heights in a ramp that covers every byte value.
Bytes terrain(int rows, int columns, int textureNumber, int tileX, int tileY);

// The first `length` bytes, or all of them when there are fewer.
Bytes prefix(const Bytes& bytes, std::size_t length);

void write(const std::string& path, const Bytes& bytes);

}  // namespace sample
