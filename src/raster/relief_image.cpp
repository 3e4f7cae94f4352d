// reliefImage: the source read again at the image's own resolution, so that an image finer than
// a field averaged down still shows the source's detail.

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

#include "elevation_grid.h"
#include "field_layout.h"
#include "printable.h"
#include "raster_error.h"
#include "relief_colours.h"

namespace raster {

namespace {

// Image rows read at a time, so that GDAL's own buffers for resampling stay small.
constexpr int kStripRows = 256;
// An image side beyond this is no texture any OpenGL holds.
constexpr int kMaxImageSide = 16384;

// The field's height at a point given in samples, interpolated between its four neighbours.
double fieldHeight(const HeightField& field, double column, double row) {
    const int left = std::clamp(static_cast<int>(std::floor(column)), 0, field.columns - 2);
    const int top = std::clamp(static_cast<int>(std::floor(row)), 0, field.rows - 2);
    const double across = std::clamp(column - left, 0.0, 1.0);
    const double down = std::clamp(row - top, 0.0, 1.0);
    const double upper = field.at(left, top) * (1 - across) + field.at(left + 1, top) * across;
    const double lower =
        field.at(left, top + 1) * (1 - across) + field.at(left + 1, top + 1) * across;
    return upper * (1 - down) + lower * down;
}

}  // namespace

std::pair<int, int> reliefImageSize(const HeightField& field, int longerSide) {
    const bool wide = field.width() >= field.depth();
    const double shorter = wide ? field.depth() / field.width() : field.width() / field.depth();
    const int shortSide = std::max(1, static_cast<int>(std::lround(longerSide * shorter)));
    return wide ? std::make_pair(longerSide, shortSide) : std::make_pair(shortSide, longerSide);
}

GroundImage reliefImage(const std::string& path, const HeightField& field, int longerSide) {
    return reliefImage(ElevationSource(path), field, longerSide);
}

GroundImage reliefImage(const ElevationSource& source, const HeightField& field, int longerSide) {
    const auto [width, height] = reliefImageSize(field, longerSide);
    return reliefImage(source, field, width, height);
}

GroundImage reliefImage(const ElevationSource& source, const HeightField& field, int imageWidth,
                        int imageHeight) {
    if (imageWidth < 1 || imageWidth > kMaxImageSide || imageHeight < 1 ||
        imageHeight > kMaxImageSide || field.columns < kMinGridSide || field.rows < kMinGridSide) {
        throw std::logic_error("reliefImage needs a field and 1 to 16384 texels");
    }
    const FieldLayout layout = layoutOf(source.facts(), field.columns, field.rows);
    GroundImage image;
    image.width = imageWidth;
    image.height = imageHeight;

    // The source pixels from the first sample to the last: texel centres fall half a texel in.
    const double pixelsEast = layout.window.width / layout.columns;
    const double pixelsSouth = layout.window.height / layout.rows;
    SourceWindow span;
    span.x = layout.window.x + 0.5 * pixelsEast;
    span.y = layout.window.y + 0.5 * pixelsSouth;
    span.width = (field.columns - 1) * pixelsEast;
    span.height = (field.rows - 1) * pixelsSouth;

    const auto width = static_cast<std::size_t>(image.width);
    std::vector<double> heights(width * static_cast<std::size_t>(image.height));
    const double perUnit = source.metresPerUnit();
    for (int first = 0; first < image.height; first += kStripRows) {
        const int rows = std::min(kStripRows, image.height - first);
        SourceWindow strip = span;
        strip.y = span.y + span.height * first / image.height;
        strip.height = span.height * rows / image.height;
        double* out = heights.data() + static_cast<std::size_t>(first) * width;
        source.read(strip, image.width, rows, out, image.width);
        for (int row = 0; row < rows; ++row) {
            for (std::size_t column = 0; column < width; ++column) {
                double& height = out[static_cast<std::size_t>(row) * width + column];
                // Where the source has no height the field's filled one shows.
                height =
                    std::isnan(height)
                        ? fieldHeight(field, (column + 0.5) / image.width * (field.columns - 1),
                                      (first + row + 0.5) / image.height * (field.rows - 1))
                        : height * perUnit;
            }
        }
    }
    // The tint spans the heights the ground really has, in true metres.
    double low = std::numeric_limits<double>::infinity(), high = -low;
    for (int row = 0; row < field.rows; ++row) {
        for (int column = 0; column < field.columns; ++column) {
            if (field.drawn(column, row)) {
                low = std::min<double>(low, field.at(column, row));
                high = std::max<double>(high, field.at(column, row));
            }
        }
    }
    const std::vector<double> placement = {0.0, field.width() / image.width,  0.0, 0.0,
                                           0.0, -field.depth() / image.height};
    image.rgb = reliefColours(heights, image.width, image.height, placement, TextureKind::relief,
                              {low, high});
    return image;
}

}  // namespace raster
