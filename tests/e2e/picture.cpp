#include "picture.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

std::string describe(Pixel pixel) {
    std::ostringstream text;
    text << int{pixel.r} << ',' << int{pixel.g} << ',' << int{pixel.b};
    return text.str();
}

std::int64_t Picture::count(int x0, int y0, int x1, int y1,
                            const std::function<bool(Pixel)>& predicate) const {
    std::int64_t matching = 0;
    for (int y = std::max(y0, 0); y < std::min(y1, height_); ++y) {
        for (int x = std::max(x0, 0); x < std::min(x1, width_); ++x) {
            matching += predicate(at(x, y)) ? 1 : 0;
        }
    }
    return matching;
}

bool Picture::writePng(const std::string& path) const {
    static_assert(sizeof(Pixel) == 3, "pixels must pack as RGB bytes");
    return stbi_write_png(path.c_str(), width_, height_, 3, pixels_.data(), width_ * 3) != 0;
}

PictureDifference compare(const Picture& actual, const Picture& expected) {
    PictureDifference difference;
    difference.sameSize =
        actual.width() == expected.width() && actual.height() == expected.height();
    if (!difference.sameSize) {
        return difference;
    }
    for (int y = 0; y < actual.height(); ++y) {
        for (int x = 0; x < actual.width(); ++x) {
            const Pixel a = actual.at(x, y);
            const Pixel e = expected.at(x, y);
            if (a == e) {
                continue;
            }
            if (difference.differingPixels++ == 0) {
                difference.firstX = x;
                difference.firstY = y;
            }
            difference.largestChannelDifference =
                std::max({difference.largestChannelDifference, std::abs(a.r - e.r),
                          std::abs(a.g - e.g), std::abs(a.b - e.b)});
        }
    }
    return difference;
}

namespace {

bool near(Pixel a, Pixel b, int tolerance) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.b - b.b) <= tolerance;
}

std::int64_t unexplainedIn(const Picture& from, const Picture& other, int radius, int tolerance) {
    std::int64_t unexplained = 0;
    for (int y = 0; y < from.height(); ++y) {
        for (int x = 0; x < from.width(); ++x) {
            const Pixel pixel = from.at(x, y);
            if (pixel == other.at(x, y)) {
                continue;
            }
            // Near the border the counterpart may have moved out of the picture.
            bool found = x < radius || y < radius || x >= from.width() - radius ||
                         y >= from.height() - radius;
            for (int ny = std::max(y - radius, 0); !found && ny <= y + radius && ny < from.height();
                 ++ny) {
                for (int nx = std::max(x - radius, 0);
                     !found && nx <= x + radius && nx < from.width(); ++nx) {
                    found = near(pixel, other.at(nx, ny), tolerance);
                }
            }
            unexplained += found ? 0 : 1;
        }
    }
    return unexplained;
}

}  // namespace

std::int64_t unexplainedPixels(const Picture& a, const Picture& b, int radius,
                               int channelTolerance) {
    if (a.width() != b.width() || a.height() != b.height()) {
        return std::int64_t{a.width()} * a.height() + std::int64_t{b.width()} * b.height();
    }
    return unexplainedIn(a, b, radius, channelTolerance) +
           unexplainedIn(b, a, radius, channelTolerance);
}

std::string PictureDifference::describe() const {
    if (!sameSize) {
        return "the pictures differ in size";
    }
    std::ostringstream text;
    text << differingPixels << " pixels differ, by up to " << largestChannelDifference
         << " in a channel";
    if (differingPixels > 0) {
        text << "; the first at (" << firstX << ", " << firstY << ")";
    }
    return text.str();
}
