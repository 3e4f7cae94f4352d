#include "bmp_format.h"

#include <algorithm>

namespace bmp {

namespace {

void put32(std::uint8_t* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

}  // namespace

void writeHeader(std::uint8_t* header, int width, int height, int bitsPerPixel, int compression,
                 std::uint32_t imageBytes) {
    std::fill(header, header + kHeaderBytes, std::uint8_t{0});
    header[0] = 'B';
    header[1] = 'M';
    put32(header + kFileSizeOffset, static_cast<std::uint32_t>(kHeaderBytes) + imageBytes);
    put32(header + kDataOffsetOffset, static_cast<std::uint32_t>(kHeaderBytes));
    put32(header + kInfoSizeOffset, kInfoHeaderBytes);
    put32(header + kWidthOffset, static_cast<std::uint32_t>(width));
    put32(header + kHeightOffset, static_cast<std::uint32_t>(height));
    header[kPlanesOffset] = 1;
    header[kBitsPerPixelOffset] = static_cast<std::uint8_t>(bitsPerPixel);
    put32(header + kCompressionOffset, static_cast<std::uint32_t>(compression));
    put32(header + kImageSizeOffset, imageBytes);
}

std::vector<std::uint8_t> encode24(int width, int height, const std::vector<std::uint8_t>& rgb) {
    const auto rowBytes = static_cast<std::size_t>(paddedRowBytes(width));
    const std::size_t imageBytes = rowBytes * static_cast<std::size_t>(height);
    std::vector<std::uint8_t> bytes(kHeaderBytes + imageBytes, 0);
    writeHeader(bytes.data(), width, height, 24, 0, static_cast<std::uint32_t>(imageBytes));
    // The file keeps the bottom row first, each pixel blue, green, red.
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* from =
            rgb.data() + static_cast<std::size_t>(height - 1 - y) * width * 3;
        std::uint8_t* to = bytes.data() + kHeaderBytes + rowBytes * static_cast<std::size_t>(y);
        for (int x = 0; x < width; ++x, from += 3, to += 3) {
            to[0] = from[2];
            to[1] = from[1];
            to[2] = from[0];
        }
    }
    return bytes;
}

}  // namespace bmp
