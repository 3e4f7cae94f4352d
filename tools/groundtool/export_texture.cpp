#include "export_texture.h"

#include <algorithm>
#include <cmath>

#include "image.h"

namespace groundtool {

namespace {

constexpr int kMaxTexelsPerCell = 16;  // beyond this a bitmap's detail adds only file size
constexpr std::uint8_t kUntexturedGrey = 160;
constexpr int kGreySide = 2;

// The viewer's texture step per grid line; a tile of 0 would divide by zero, and the viewer
// repeats once per cell then.
double stepFor(int tile) {
    return tile != 0 ? 1.0 / tile : 1.0;
}

int wrapped(long long index, int size) {
    const long long remainder = index % size;
    return static_cast<int>(remainder < 0 ? remainder + size : remainder);
}

int imageSide(int cells, double texelsPerCell) {
    const double wanted = cells * std::clamp(texelsPerCell, 1.0, double{kMaxTexelsPerCell});
    return static_cast<int>(std::clamp(std::lround(wanted), 1L, long{kMaxTextureSide}));
}

}  // namespace

GroundImage plainGround() {
    GroundImage image;
    image.width = image.height = kGreySide;
    image.rgb.assign(kGreySide * kGreySide * 3, kUntexturedGrey);
    return image;
}

GroundImage unrolledTexture(const Bitmap& bitmap, TextureRepeat repeat, const HeightField& field) {
    const std::uint8_t* pixels = bitmap.pixels();
    if (pixels == nullptr || bitmap.width() <= 0 || bitmap.height() <= 0) {
        return plainGround();
    }
    GroundImage image;
    const double sStep = stepFor(repeat.tileX);  // per world unit along z
    const double tStep = stepFor(repeat.tileY);  // per world unit along x
    image.width = imageSide(field.columns - 1, bitmap.height() * std::abs(tStep));
    image.height = imageSide(field.rows - 1, bitmap.width() * std::abs(sStep));
    image.rgb.resize(static_cast<std::size_t>(image.width) * image.height * 3);

    const std::int64_t rowBytes = bitmap.rowBytes();
    const auto texel = [&](long long column, long long row, int channel) {
        return pixels[wrapped(row, bitmap.height()) * rowBytes +
                      wrapped(column, bitmap.width()) * 3 + channel];
    };
    std::uint8_t* out = image.rgb.data();
    for (int v = 0; v < image.height; ++v) {
        const double z = (v + 0.5) / image.height * field.depth();
        const double column = z * sStep * bitmap.width() - 0.5;
        const double left = std::floor(column);
        const double across = column - left;
        for (int u = 0; u < image.width; ++u) {
            const double x = (u + 0.5) / image.width * field.width();
            const double row = (x - 1.0) * tStep * bitmap.height() - 0.5;
            const double bottom = std::floor(row);
            const double up = row - bottom;
            const auto c = static_cast<long long>(left);
            const auto r = static_cast<long long>(bottom);
            for (int channel = 0; channel < 3; ++channel) {
                const double value = (1 - up) * ((1 - across) * texel(c, r, channel) +
                                                 across * texel(c + 1, r, channel)) +
                                     up * ((1 - across) * texel(c, r + 1, channel) +
                                           across * texel(c + 1, r + 1, channel));
                *out++ = static_cast<std::uint8_t>(std::lround(value));
            }
        }
    }
    return image;
}

GroundImage tileImage(const GroundImage& image, const HeightField& field, const TileSpan& span,
                      SolidMesh& mesh) {
    const auto texels = [](int first, int last, int samples, int side) {
        const double from = static_cast<double>(first) / (samples - 1) * side;
        const double to = static_cast<double>(last) / (samples - 1) * side;
        const int low = std::clamp(static_cast<int>(std::floor(from - 0.5)), 0, side - 1);
        const int high = std::clamp(static_cast<int>(std::ceil(to + 0.5)), low + 1, side);
        return std::pair<int, int>(low, high);
    };
    const auto [left, right] =
        texels(span.firstColumn, span.lastColumn, field.columns, image.width);
    const auto [top, bottom] = texels(span.firstRow, span.lastRow, field.rows, image.height);
    GroundImage part;
    part.width = right - left;
    part.height = bottom - top;
    part.rgb.reserve(static_cast<std::size_t>(part.width) * part.height * 3);
    for (int row = top; row < bottom; ++row) {
        const auto start =
            image.rgb.begin() + (static_cast<std::ptrdiff_t>(row) * image.width + left) * 3;
        part.rgb.insert(part.rgb.end(), start, start + static_cast<std::ptrdiff_t>(part.width) * 3);
    }
    for (std::size_t v = 0; v < mesh.vertexCount(); ++v) {
        float& s = mesh.textureCoordinates[v * 2];
        float& t = mesh.textureCoordinates[v * 2 + 1];
        s = static_cast<float>((s * image.width - left) / part.width);
        t = static_cast<float>((t * image.height - top) / part.height);
    }
    return part;
}

}  // namespace groundtool
