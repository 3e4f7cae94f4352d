#include "sample_files.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>

namespace sample {

namespace {

void put16(Bytes& bytes, std::size_t offset, std::uint32_t value) {
    bytes[offset] = value & 0xFF;
    bytes[offset + 1] = (value >> 8) & 0xFF;
}

void put32(Bytes& bytes, std::size_t offset, std::uint32_t value) {
    put16(bytes, offset, value & 0xFFFF);
    put16(bytes, offset + 2, value >> 16);
}

}  // namespace

Bytes bitmap(int width, int height, int bitsPerPixel, int compression) {
    const std::size_t rowBytes =
        (static_cast<std::size_t>(width) * static_cast<std::size_t>(bitsPerPixel) / 8 + 3) / 4 * 4;
    const std::size_t pixelBytes = rowBytes * static_cast<std::size_t>(height);
    Bytes bytes(54 + pixelBytes, 0);
    bytes[0] = 'B';
    bytes[1] = 'M';
    put32(bytes, 2, static_cast<std::uint32_t>(bytes.size()));
    put32(bytes, 10, 54);
    put32(bytes, 14, 40);
    put32(bytes, 18, static_cast<std::uint32_t>(width));
    put32(bytes, 22, static_cast<std::uint32_t>(height));
    put16(bytes, 26, 1);
    put16(bytes, 28, static_cast<std::uint32_t>(bitsPerPixel));
    put32(bytes, 30, static_cast<std::uint32_t>(compression));
    put32(bytes, 34, static_cast<std::uint32_t>(pixelBytes));
    if (bitsPerPixel == 24) {
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const std::size_t at =
                    54 + rowBytes * static_cast<std::size_t>(y) + 3 * static_cast<std::size_t>(x);
                bytes[at] = static_cast<std::uint8_t>(x * 16);
                bytes[at + 1] = static_cast<std::uint8_t>(y * 16);
                bytes[at + 2] = static_cast<std::uint8_t>(0xFF - x - y);
            }
        }
    }
    return bytes;
}

Bytes terrain(int type, int rows, int columns, int textureNumber, int tileX, int tileY,
              const Bytes& heights) {
    Bytes bytes = {'3',
                   'D',
                   static_cast<std::uint8_t>(type),
                   static_cast<std::uint8_t>(rows),
                   static_cast<std::uint8_t>(columns),
                   static_cast<std::uint8_t>(textureNumber),
                   static_cast<std::uint8_t>(tileX),
                   static_cast<std::uint8_t>(tileY)};
    bytes.insert(bytes.end(), heights.begin(), heights.end());
    return bytes;
}

Bytes terrain(int rows, int columns, int textureNumber, int tileX, int tileY) {
    Bytes heights;
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            heights.push_back(static_cast<std::uint8_t>(r * 7 + c * 3));
        }
    }
    return terrain(1, rows, columns, textureNumber, tileX, tileY, heights);
}

Bytes prefix(const Bytes& bytes, std::size_t length) {
    return Bytes(bytes.begin(),
                 bytes.begin() + static_cast<std::ptrdiff_t>(std::min(length, bytes.size())));
}

void write(const std::string& path, const Bytes& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    if (!file) {
        throw std::runtime_error("cannot write " + path);
    }
}

}  // namespace sample
