#pragma once
// The parts of the Windows BMP layout this system reads and writes: a 14-byte file header and a
// 40-byte information header, little-endian, then the pixel rows bottom row first, each padded to
// a multiple of 4 bytes. The viewer's reader takes pixels from directly after the 54 bytes.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace bmp {

constexpr std::size_t kHeaderBytes = 54;
constexpr std::size_t kFileSizeOffset = 2;
constexpr std::size_t kDataOffsetOffset = 10;
constexpr std::size_t kInfoSizeOffset = 14;
constexpr std::size_t kWidthOffset = 18;
constexpr std::size_t kHeightOffset = 22;
constexpr std::size_t kPlanesOffset = 26;
constexpr std::size_t kBitsPerPixelOffset = 28;
constexpr std::size_t kCompressionOffset = 30;
constexpr std::size_t kImageSizeOffset = 34;
constexpr std::uint32_t kInfoHeaderBytes = 40;

// Bytes from one row's start to the next: width * 3 (24 bits) rounded up to a multiple of 4.
constexpr std::int64_t paddedRowBytes(std::int64_t width) {
    return (width * 3 + 3) / 4 * 4;
}

// Fills header (kHeaderBytes long) for a picture whose pixel rows take imageBytes after it.
void writeHeader(std::uint8_t* header, int width, int height, int bitsPerPixel, int compression,
                 std::uint32_t imageBytes);

// An uncompressed 24-bit BMP of width x height pixels from RGB triples, rows top to bottom and
// tightly packed, as the viewer's reader takes it.
std::vector<std::uint8_t> encode24(int width, int height, const std::vector<std::uint8_t>& rgb);

}  // namespace bmp
