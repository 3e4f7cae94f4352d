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
