// reliefImage: the field's own heights shaded and tinted, at any size.

#include "relief_image.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <thread>
#include <utility>
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

// A step is told from float rounding only when it is this many times the rounding of the
// largest height, and a difference is a whole number of steps within this share of one.
constexpr double kStepOverRounding = 8.0;
constexpr double kStepShareOff = 0.05;

// The largest step a and b are both whole multiples of, to within tolerance.
double commonStep(double a, double b, double tolerance) {
    while (b > tolerance) {
        double rest = std::fmod(a, b);
        if (b - rest <= tolerance) {
            rest = 0.0;
        }
        a = b;
        b = rest;
    }
    return a;
}

// Box windows, in samples either side, smoothing the step heights: the widest spans the steps of
// gentle ground (up to some ten cells apart), the narrower ones round off the kinks each clamp to
// half a step leaves.
constexpr int kSmoothingRadii[] = {8, 4, 2, 1};

// Each row's sums over the (2 radius + 1) samples around each of its samples, the window cut at
// the row's ends. The running sum is kept in double and each stored sum in float: the same float
// goes in and out of the sum, so the error does not build up along the row.
void rowSums(const std::vector<float>& from, std::vector<float>& to, int width,
             std::size_t firstRow, std::size_t endRow, int radius) {
    const auto w = static_cast<std::size_t>(width);
    for (std::size_t row = firstRow; row < endRow; ++row) {
        const float* in = &from[row * w];
        float* out = &to[row * w];
        double sum = 0.0;
        for (int x = 0; x <= std::min(radius, width - 1); ++x) {
            sum += in[x];
        }
        for (int x = 0; x < width; ++x) {
            out[x] = static_cast<float>(sum);
            if (x + radius + 1 < width) {
                sum += in[x + radius + 1];
            }
            if (x - radius >= 0) {
                sum -= in[x - radius];
            }
        }
    }
}

// work(first, end) over [0, count) in two halves at once, the second half on a thread of its own.
// work must not throw: everything it needs is made before.
template <typename Work>
void inTwoHalves(std::size_t count, const Work& work) {
    const std::size_t middle = count / 2;
    std::thread second([&work, middle, count] { work(middle, count); });
    work(0, middle);
    second.join();
}

// The samples a window of radius around each index along a line of count samples holds, as their
// reciprocal.
std::vector<double> inverseSpans(int count, int radius) {
    std::vector<double> inverse(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        inverse[static_cast<std::size_t>(i)] =
            1.0 / (std::min(i + radius, count - 1) - std::max(i - radius, 0) + 1);
    }
    return inverse;
}

}  // namespace

std::optional<double> heightStep(const HeightField& field) {
    double largest = 0.0;
    for (std::size_t i = 0; i < field.heights.size(); ++i) {
        if (field.kinds.empty() || field.kinds[i] == SampleKind::data) {
            largest = std::max(largest, static_cast<double>(std::abs(field.heights[i])));
        }
    }
    // Two float roundings a difference, and some to spare.
    const double rounding = 4.0 * FLT_EPSILON * std::max(largest, 1.0);
    const double smallest = kStepOverRounding * rounding;
    double step = 0.0;
    // The most steps one rise has spanned: the step is that rise divided by them, off by no more
    // than a rounding shared among them.
    double mostSteps = 1.0;
    bool first = true;
    double previous = 0.0;
    // Differences between data samples one after the other in reading order: a chain through
    // them all, so that each lies a whole number of steps from every other.
    for (std::size_t i = 0; i < field.heights.size(); ++i) {
        if (!field.kinds.empty() && field.kinds[i] != SampleKind::data) {
            continue;
        }
        const double height = field.heights[i];
        const double rise = std::abs(height - previous);
        previous = height;
        if (std::exchange(first, false) || rise <= rounding) {
            continue;
        }
        if (step > 0.0) {
            const double steps = std::round(rise / step);
            const double off = std::abs(rise - steps * step);
            if (steps >= 1 && off <= kStepShareOff * step + (steps / mostSteps + 1) * rounding) {
                if (steps > mostSteps) {
                    mostSteps = steps;
                    step = rise / steps;
                }
                continue;
            }
            step = commonStep(std::max(step, rise), std::min(step, rise), rounding);
            mostSteps = 1.0;
        } else {
            step = rise;
        }
        if (step < smallest) {
            return std::nullopt;
        }
    }
    return step > 0.0 ? std::optional<double>(step) : std::nullopt;
}

std::vector<float> shadingHeights(const HeightField& field, std::optional<double> step) {
    if (!step) {
        return field.heights;
    }
    const std::size_t count = field.heights.size();
    const auto w = static_cast<std::size_t>(field.columns);
    // Samples not drawn (sea, holes) neither take part nor change; drawn ones weigh 1.
    std::vector<float> drawn(count, 1.0f);
    bool everyDrawn = true;
    for (std::size_t i = 0; i < count && !field.kinds.empty(); ++i) {
        if (field.kinds[i] > SampleKind::filled) {
            drawn[i] = 0.0f;
            everyDrawn = false;
        }
    }
    // Each pass averages the drawn samples around each one, then holds it within half a step of
    // its own height: the surface stays one the steps could have been rounded from.
    const double half = 0.5 * *step;
    std::vector<float> surface = field.heights;
    std::vector<float> sums(count), weights(everyDrawn ? 0 : count);
    std::vector<double> column(w), columnWeight(everyDrawn ? 0 : w);
    for (const int radius : kSmoothingRadii) {
        if (!everyDrawn) {
            for (std::size_t i = 0; i < count; ++i) {
                surface[i] *= drawn[i];
            }
        }
        const auto rows = static_cast<std::size_t>(field.rows);
        inTwoHalves(rows, [&](std::size_t first, std::size_t end) {
            rowSums(surface, sums, field.columns, first, end, radius);
            if (!everyDrawn) {
                rowSums(drawn, weights, field.columns, first, end, radius);
            }
        });
        // Down the columns, each half of them on its own: the rows' sums within radius of each
        // row, added as the window comes and taken off as it passes.
        const std::vector<double> acrossInverse = inverseSpans(field.columns, radius);
        const std::vector<double> downInverse = inverseSpans(field.rows, radius);
        std::fill(column.begin(), column.end(), 0.0);
        std::fill(columnWeight.begin(), columnWeight.end(), 0.0);
        inTwoHalves(w, [&](std::size_t left, std::size_t right) {
            const auto slide = [&](std::size_t row, double sign) {
                for (std::size_t x = left; x < right; ++x) {
                    column[x] += sign * sums[row * w + x];
                }
                for (std::size_t x = left; !everyDrawn && x < right; ++x) {
                    columnWeight[x] += sign * weights[row * w + x];
                }
            };
            const auto reach = static_cast<std::size_t>(radius);
            for (std::size_t row = 0; row <= std::min(reach, rows - 1); ++row) {
                slide(row, 1.0);
            }
            for (std::size_t row = 0; row < rows; ++row) {
                const float* own = &field.heights[row * w];
                float* out = &surface[row * w];
                if (everyDrawn) {
                    const double down = downInverse[row];
                    for (std::size_t x = left; x < right; ++x) {
                        const double mean = column[x] * acrossInverse[x] * down;
                        out[x] = static_cast<float>(std::clamp(mean, own[x] - half, own[x] + half));
                    }
                } else {
                    const float* weight = &drawn[row * w];
                    for (std::size_t x = left; x < right; ++x) {
                        out[x] = weight[x] == 0.0f
                                     ? own[x]
                                     : static_cast<float>(std::clamp(column[x] / columnWeight[x],
                                                                     own[x] - half, own[x] + half));
                    }
                }
                if (row + reach + 1 < rows) {
                    slide(row + reach + 1, 1.0);
                }
                if (row >= reach) {
                    slide(row - reach, -1.0);
                }
            }
        });
    }
    return surface;
}

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

    // Texel centres from the first sample to the last, interpolated between the heights the
    // field is shaded from.
    const std::optional<double> step = heightStep(field);
    const std::vector<float> smoothed = step ? shadingHeights(field, step) : std::vector<float>();
    const std::vector<float>& shaded = step ? smoothed : field.heights;
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
        const float* upper = &shaded[field.index(0, top)];
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
    // One binomial pass over the texels, finer than the cells, keeps the kinks at the samples out
    // of the shading.
    smooth(heights, image.width, image.height);
    const std::vector<double> placement = {0.0, field.width() / image.width,  0.0, 0.0,
                                           0.0, -field.depth() / image.height};
    image.rgb =
        reliefColours(heights, image.width, image.height, placement, TextureKind::relief, range);
    return image;
}

}  // namespace raster
