#pragma once
// Bitmap: an uncompressed 24-bit Windows BMP read into RGB bytes ready for
// glTexImage2D(..., GL_RGB, GL_UNSIGNED_BYTE, ...) with OpenGL's default unpack alignment of 4.
// Rows are in file order (bottom row first), each padded to a multiple of 4 bytes exactly as the
// file pads them, so a row's first pixel sits where the upload looks for it whatever the width.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "bmp_format.h"
#include "load_report.h"

class ByteSource;

// The reader's report: the header fields as the file gave them (0 where it ended first).
struct BitmapReport : LoadReport {
    int width = 0;  // the size the file declares, once signature and compression passed
    int height = 0;
    int bitsPerPixel = 0;          // the low byte the reader checks
    int compression = 0;           // the low byte the reader checks
    std::int64_t dataOffset = -1;  // where the file says its pixels start; -1 if it does not say
};

class Bitmap {
  public:
    Bitmap();
    Bitmap(const Bitmap&) = delete;
    Bitmap& operator=(const Bitmap&) = delete;
    Bitmap(Bitmap&&) noexcept = default;
    Bitmap& operator=(Bitmap&&) noexcept = default;

    // Reads path. A missing file is silent and changes nothing; every other problem is
    // reported for standard error and leaves no pixels, and a depth other than 24 bits
    // or a size over the limit leaves a size of 0 as well. Writes nothing itself.
    BitmapReport load(const std::string& path);
    // The same from any byte source; fileName is used in messages only.
    BitmapReport loadFrom(ByteSource& source, const std::string& fileName);

    // The RGB rows, or nullptr when the last load left no pixels.
    const std::uint8_t* pixels() const;
    int width() const { return imageWidth_; }
    int height() const { return imageHeight_; }
    std::int64_t pixelCount() const { return pixelCount_; }
    // Bytes from one row's start to the next: width * 3 rounded up to a multiple of 4.
    std::int64_t rowBytes() const { return bmp::paddedRowBytes(imageWidth_); }
    std::int64_t byteCount() const { return rowBytes() * imageHeight_; }

    // The largest pixel buffer the reader accepts, in bytes.
    static constexpr std::int64_t kMaxPixelBytes = 0x7FFFFFFF;

  private:
    struct FreeDeleter {
        void operator()(std::uint8_t* bytes) const { std::free(bytes); }
    };

    std::unique_ptr<std::uint8_t, FreeDeleter> pixelData_;
    int imageWidth_ = 0;   // 0 to 65535
    int imageHeight_ = 0;  // 0 to 65535
    std::int64_t pixelCount_ = 0;
};
