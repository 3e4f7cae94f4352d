#pragma once
// An RGB picture as the screen or an off-screen frame shows it, top row first, with the
// comparisons the end-to-end checks need and a PNG writer for looking at failures.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct Pixel {
    std::uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Pixel& other) const {
        return r == other.r && g == other.g && b == other.b;
    }
    bool operator!=(const Pixel& other) const { return !(*this == other); }
};

std::string describe(Pixel pixel);  // "120,182,233"

class Picture {
  public:
    Picture() = default;
    Picture(int width, int height) : width_(width), height_(height), pixels_(area(), Pixel{}) {}

    int width() const { return width_; }
    int height() const { return height_; }
    bool empty() const { return pixels_.empty(); }
    // x from the left, y from the top
    Pixel at(int x, int y) const { return pixels_[index(x, y)]; }
    Pixel& at(int x, int y) { return pixels_[index(x, y)]; }

    bool operator==(const Picture& other) const {
        return width_ == other.width_ && height_ == other.height_ && pixels_ == other.pixels_;
    }
    bool operator!=(const Picture& other) const { return !(*this == other); }

    // How many pixels of the rectangle [x0, x1) x [y0, y1) satisfy the predicate.
    std::int64_t count(int x0, int y0, int x1, int y1,
                       const std::function<bool(Pixel)>& predicate) const;

    // Writes an 8-bit RGB PNG; false when the file cannot be written.
    bool writePng(const std::string& path) const;

  private:
    std::size_t area() const {
        return static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_);
    }
    std::size_t index(int x, int y) const {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
               static_cast<std::size_t>(x);
    }

    int width_ = 0;
    int height_ = 0;
    std::vector<Pixel> pixels_;
};

struct PictureDifference {
    bool sameSize = false;
    std::int64_t differingPixels = 0;
    int largestChannelDifference = 0;
    int firstX = -1, firstY = -1;  // the first differing pixel in reading order
    std::string describe() const;
};

PictureDifference compare(const Picture& actual, const Picture& expected);
