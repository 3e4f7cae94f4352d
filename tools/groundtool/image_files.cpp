#include "image_files.h"

#include <stb/stb_image_write.h>

#include <stdexcept>

#include "bmp_format.h"

namespace groundtool {

namespace {

void appendBytes(void* context, void* data, int size) {
    auto* bytes = static_cast<Bytes*>(context);
    const auto* begin = static_cast<const std::uint8_t*>(data);
    bytes->insert(bytes->end(), begin, begin + size);
}

void checkPixels(int width, int height, const std::vector<std::uint8_t>& rgb) {
    if (width <= 0 || height <= 0 ||
        rgb.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3) {
        throw std::logic_error("pixel buffer does not match the image size");
    }
}

}  // namespace

Bytes encodeBmp(int width, int height, const std::vector<std::uint8_t>& rgb) {
    checkPixels(width, height, rgb);
    return bmp::encode24(width, height, rgb);
}

Bytes encodePng(int width, int height, const std::vector<std::uint8_t>& rgb) {
    checkPixels(width, height, rgb);
    Bytes bytes;
    if (stbi_write_png_to_func(appendBytes, &bytes, width, height, 3, rgb.data(), width * 3) == 0) {
        throw std::runtime_error("PNG encoding failed");
    }
    return bytes;
}

}  // namespace groundtool
