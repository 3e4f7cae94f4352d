#include "image.h"

#include <algorithm>
#include <iostream>
#include <utility>

#include "byte_source.h"
#include "diag.h"

namespace {

// The fixed header: signature at 0, width at 18, height at 22, bits per pixel at 28 and
// compression at 30, all little-endian. The reader uses the low 16 bits of width and height and
// the low byte of the other two, and takes pixels from directly after the header.
constexpr std::size_t kHeaderBytes = 54;
constexpr std::size_t kWidthOffset = 18;
constexpr std::size_t kHeightOffset = 22;
constexpr std::size_t kBitsPerPixelOffset = 28;
constexpr std::size_t kCompressionOffset = 30;
constexpr int kSupportedBitsPerPixel = 24;

// Blue, green, red in the file; red, green, blue for OpenGL. Padding bytes stay as they are.
void exchangeRedAndBlue(std::uint8_t* rows, std::int64_t arrivedBytes, std::int64_t width,
                        std::int64_t rowBytes) {
    const std::int64_t pixelBytes = width * 3;
    for (std::int64_t rowStart = 0; rowStart < arrivedBytes; rowStart += rowBytes) {
        std::uint8_t* pixel = rows + rowStart;
        const std::int64_t end = std::min(pixelBytes, arrivedBytes - rowStart) / 3 * 3;
        for (std::uint8_t* last = pixel + end; pixel != last; pixel += 3) {
            std::swap(pixel[0], pixel[2]);
        }
    }
}

}  // namespace

Bitmap::Bitmap() {
    trace("obj init'ed");
}

const std::uint8_t* Bitmap::pixels() const {
    trace("ptr fx");
    trace(static_cast<const void*>(pixelData_.get()));
    return pixelData_.get();
}

void Bitmap::load(const std::string& fileName) {
    trace("load function");
    std::unique_ptr<FileSource> file = FileSource::open(fileName);
    if (!file) {
        trace("Unable to find file", fileName);
    } else {
        loadFrom(*file, fileName);
    }
    trace("done w/ load function");
}

void Bitmap::loadFrom(ByteSource& source, const std::string& fileName) {
    trace("opening file", fileName);
    std::uint8_t header[kHeaderBytes] = {};  // a short file leaves the rest 0
    const std::size_t headerArrived = source.read(header, kHeaderBytes);

    if (headerArrived < 2 || header[0] != 'B' || header[1] != 'M') {
        pixelData_.reset();
        std::cerr << "File is not a bitmap: " << fileName << std::endl;
        return;
    }
    const std::uint8_t compression = header[kCompressionOffset];
    if (compression != 0) {
        pixelData_.reset();
        std::cerr << "Compressed bitmaps not supported. " << static_cast<char>(compression)
                  << std::endl;
        return;
    }

    imageWidth_ = static_cast<int>(littleEndian16(header + kWidthOffset));
    imageHeight_ = static_cast<int>(littleEndian16(header + kHeightOffset));
    pixelCount_ = static_cast<std::int64_t>(imageWidth_) * imageHeight_;
    trace("file width", imageWidth_);
    trace("file height", imageHeight_);

    const int bitsPerPixel = header[kBitsPerPixelOffset];
    trace("-bit color", bitsPerPixel);
    pixelData_.reset();
    if (bitsPerPixel != kSupportedBitsPerPixel) {
        std::cerr << bitsPerPixel << "-bit color bitmaps are not currently supported." << std::endl;
        return;
    }

    const std::int64_t bytes = byteCount();
    if (bytes > kMaxPixelBytes) {
        std::cerr << "Bitmap too large: " << imageWidth_ << " x " << imageHeight_ << " pixels need "
                  << bytes << " bytes, more than " << kMaxPixelBytes << ": " << fileName
                  << std::endl;
        // No size either: a texture of that size can't exist, and the viewer draws on without.
        imageWidth_ = 0;
        imageHeight_ = 0;
        pixelCount_ = 0;
        return;
    }
    // Zeroed memory: whatever a short file does not supply reads as black, and pages the file
    // never reaches are not touched here.
    auto* buffer = static_cast<std::uint8_t*>(std::calloc(bytes > 0 ? bytes : 1, 1));
    if (buffer == nullptr) {
        trace("texture mem alloc failed");
        return;
    }
    pixelData_.reset(buffer);

    const auto arrived = static_cast<std::int64_t>(source.read(buffer, bytes));
    trace("reading file. size*3", arrived);
    exchangeRedAndBlue(buffer, arrived, imageWidth_, rowBytes());
    trace("switched rgb");
}
