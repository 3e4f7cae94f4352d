#include "image.h"

#include <algorithm>
#include <string>
#include <utility>

#include "byte_source.h"
#include "diag.h"
#include "printable.h"

namespace {

constexpr int kSupportedBitsPerPixel = 24;

std::uint32_t littleEndian32(const std::uint8_t* bytes) {
    return littleEndian16(bytes) | static_cast<std::uint32_t>(littleEndian16(bytes + 2)) << 16;
}

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

Bitmap::Bitmap() {}

const std::uint8_t* Bitmap::pixels() const {
    return pixelData_.get();
}

BitmapReport Bitmap::load(const std::string& path) {
    BitmapReport report;
    std::unique_ptr<FileSource> file = FileSource::open(path, &report.openFailure);
    if (!file) {
        return report;
    }
    report = loadFrom(*file, path);
    return report;
}

// The reader uses the low 16 bits of width and height and the low byte of the bit depth and
// compression, and takes pixels from directly after the header.
BitmapReport Bitmap::loadFrom(ByteSource& source, const std::string& fileName) {
    BitmapReport report;
    report.found = true;
    report.fileBytes = source.size();
    std::uint8_t header[bmp::kHeaderBytes] = {};  // a short file leaves the rest 0
    const std::size_t headerArrived = source.read(header, bmp::kHeaderBytes);
    report.bytesSupplied = static_cast<std::int64_t>(headerArrived);
    report.bytesNeeded = static_cast<std::int64_t>(bmp::kHeaderBytes);
    report.bitsPerPixel = header[bmp::kBitsPerPixelOffset];
    report.compression = header[bmp::kCompressionOffset];
    if (headerArrived >= bmp::kDataOffsetOffset + 4) {
        report.dataOffset = littleEndian32(header + bmp::kDataOffsetOffset);
    }

    if (headerArrived < 2 || header[0] != 'B' || header[1] != 'M') {
        pixelData_.reset();
        report.toStandardError("File is not a bitmap: " + printable(fileName));
        return report;
    }
    if (report.compression != 0) {
        pixelData_.reset();
        report.toStandardError("Compressed bitmaps not supported. " +
                               std::string(1, static_cast<char>(report.compression)));
        return report;
    }

    imageWidth_ = static_cast<int>(littleEndian16(header + bmp::kWidthOffset));
    imageHeight_ = static_cast<int>(littleEndian16(header + bmp::kHeightOffset));
    report.width = imageWidth_;
    report.height = imageHeight_;
    pixelCount_ = static_cast<std::int64_t>(imageWidth_) * imageHeight_;
    pixelData_.reset();
    const bool supported = report.bitsPerPixel == kSupportedBitsPerPixel;
    if (!supported) {
        report.toStandardError(std::to_string(report.bitsPerPixel) +
                               "-bit color bitmaps are not currently supported.");
    }

    // Checked for every depth, so a file wrong both ways says so both ways.
    const std::int64_t bytes = byteCount();
    const bool tooLarge = bytes > kMaxPixelBytes;
    if (tooLarge) {
        report.toStandardError("Bitmap too large: " + std::to_string(imageWidth_) + " x " +
                               std::to_string(imageHeight_) + " pixels need " +
                               std::to_string(bytes) + " bytes, more than " +
                               std::to_string(kMaxPixelBytes) + ": " + printable(fileName));
    }
    if (tooLarge || !supported) {
        // No size either: a texture of the declared size without pixels would cost all of it
        // (1 GiB at 16384 x 16384) to show undefined colours; without one the viewer draws the
        // ground untextured.
        imageWidth_ = 0;
        imageHeight_ = 0;
        pixelCount_ = 0;
        return report;
    }
    // Zeroed memory: whatever a short file does not supply reads as black, and pages the file
    // never reaches are not touched here.
    auto* buffer = static_cast<std::uint8_t*>(std::calloc(bytes > 0 ? bytes : 1, 1));
    if (buffer == nullptr) {
        return report;
    }
    pixelData_.reset(buffer);

    const auto arrived = static_cast<std::int64_t>(source.read(buffer, bytes));
    exchangeRedAndBlue(buffer, arrived, imageWidth_, rowBytes());
    report.accepted = true;
    report.bytesNeeded += bytes;
    report.bytesSupplied += arrived;
    return report;
}
