#include "image_files.h"

#include <stb/stb_image.h>
#include <stb/stb_image_write.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <stdexcept>

#include "tool_error.h"

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

GreyImage readGreyImage(const std::string& path) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                         &std::fclose);
    if (!file) {
        throw ToolError(fileError("cannot read", path, errno));
    }
    int width = 0;
    int height = 0;
    int channels = 0;
    std::unique_ptr<stbi_uc, void (*)(void*)> pixels(
        stbi_load_from_file(file.get(), &width, &height, &channels, 1), &stbi_image_free);
    if (!pixels) {
        throw ToolError("cannot read " + path + ": not an image groundtool reads (" +
                        stbi_failure_reason() + ")");
    }
    GreyImage image;
    image.width = width;
    image.height = height;
    image.grey.assign(pixels.get(), pixels.get() + static_cast<std::size_t>(width) * height);
    return image;
}

Bytes encodeBmp(int width, int height, const std::vector<std::uint8_t>& rgb) {
    checkPixels(width, height, rgb);
    Bytes bytes;
    if (stbi_write_bmp_to_func(appendBytes, &bytes, width, height, 3, rgb.data()) == 0) {
        throw std::runtime_error("BMP encoding failed");
    }
    return bytes;
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
