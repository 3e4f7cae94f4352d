// reliefImage: the field's own heights shaded and tinted, at any size.

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

#include "elevation_grid.h"
#include "relief_colours.h"

namespace raster {

namespace {

// An image side beyond this is no texture any OpenGL holds.
constexpr int kMaxImageSide = 16384;

// One [1 2 1] / 4 pass along each axis, the edges kept.
void smooth(std::vector<double>& values, int width, int height) {
    const auto w = static_cast<std::size_t>(width);
    std::vector<double> line;
    for (int row = 0; row < height; ++row) {
        double* at = &values[static_cast<std::size_t>(row) * w];
        line.assign(at, at + w);
        for (std::size_t x = 1; x + 1 < w; ++x) {
            at[x] = 0.25 * line[x - 1] + 0.5 * line[x] + 0.25 * line[x + 1];
        }
    }
    std::vector<double> above(w), here(w);
    if (height < 3) {
        return;
    }
    std::copy_n(values.begin(), w, above.begin());
    for (int row = 1; row + 1 < height; ++row) {
        double* at = &values[static_cast<std::size_t>(row) * w];
        std::copy_n(at, w, here.begin());
        const double* below = at + w;
        for (std::size_t x = 0; x < w; ++x) {
            at[x] = 0.25 * above[x] + 0.5 * here[x] + 0.25 * below[x];
        }
        std::swap(above, here);
    }
}

}  // namespace

std::pair<int, int> reliefImageSize(const HeightField& field, int longerSide) {
    const bool wide = field.width() >= field.depth();
    const double shorter = wide ? field.depth() / field.width() : field.width() / field.depth();
    const int shortSide = std::max(1, static_cast<int>(std::lround(longerSide * shorter)));
    return wide ? std::make_pair(longerSide, shortSide) : std::make_pair(shortSide, longerSide);
}

GroundImage reliefImage(const HeightField& field, int longerSide) {
    const auto [width, height] = reliefImageSize(field, longerSide);
    return reliefImage(field, width, height);
}

GroundImage reliefImage(const HeightField& field, int imageWidth, int imageHeight) {
    // The tint spans the heights the ground really has, in true metres.
    const HeightBounds drawn = field.drawnRange();
    return reliefImage(field, imageWidth, imageHeight, {drawn.low, drawn.high});
}

GroundImage reliefImage(const HeightField& field, int imageWidth, int imageHeight,
                        HeightRange range) {
    if (imageWidth < 1 || imageWidth > kMaxImageSide || imageHeight < 1 ||
        imageHeight > kMaxImageSide || field.columns < kMinGridSide || field.rows < kMinGridSide) {
        throw std::logic_error("reliefImage needs a field and 1 to 16384 texels");
    }
    GroundImage image;
    image.width = imageWidth;
    image.height = imageHeight;

    // Texel centres from the first sample to the last, interpolated between the field's own
    // float heights: whole-metre sources show no terraces.
    const auto width = static_cast<std::size_t>(image.width);
    std::vector<double> heights(width * static_cast<std::size_t>(image.height));
    std::vector<int> left(width);
    std::vector<double> across(width);
    for (std::size_t column = 0; column < width; ++column) {
        const double at = (column + 0.5) / image.width * (field.columns - 1);
        left[column] = std::clamp(static_cast<int>(std::floor(at)), 0, field.columns - 2);
        across[column] = std::clamp(at - left[column], 0.0, 1.0);
    }
    for (int row = 0; row < image.height; ++row) {
        const double at = (row + 0.5) / image.height * (field.rows - 1);
        const int top = std::clamp(static_cast<int>(std::floor(at)), 0, field.rows - 2);
        const double down = std::clamp(at - top, 0.0, 1.0);
        const float* upper = &field.heights[field.index(0, top)];
        const float* lower = upper + field.columns;
        double* out = &heights[static_cast<std::size_t>(row) * width];
        for (std::size_t column = 0; column < width; ++column) {
            const int c = left[column];
            const double a = across[column];
            const double north = upper[c] + (upper[c + 1] - upper[c]) * a;
            const double south = lower[c] + (lower[c + 1] - lower[c]) * a;
            out[column] = north + (south - north) * down;
        }
    }
    // Heights stored in whole metres tilt each cell by up to a metre over its length; one
    // binomial pass over the texels, finer than the cells, keeps that jitter out of the shading.
    smooth(heights, image.width, image.height);
    const std::vector<double> placement = {0.0, field.width() / image.width,  0.0, 0.0,
                                           0.0, -field.depth() / image.height};
    image.rgb =
        reliefColours(heights, image.width, image.height, placement, TextureKind::relief, range);
    return image;
}

}  // namespace raster
