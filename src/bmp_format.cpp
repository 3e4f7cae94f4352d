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

}  // namespace bmp
