// Bitmap::loadFrom on arbitrary bytes, into a Bitmap that already holds an image, so the reload
// path that releases the old buffer runs too.
#include <cstddef>
#include <cstdint>

#include "byte_source.h"
#include "image.h"
#include "report_counts.h"
#include "sample_files.h"
#include "upload_bounds.h"

namespace {

// The reader takes pixel buffers of up to 2 GiB, and about half of all random headers declare
// one. calloc leaves such a buffer untouched, but ASan poisons the whole shadow of a freed
// buffer: 0.6 s for 2 GiB, 20 ms for 64 MiB, against 20 us for a small file. Headers that
// declare a 24-bit buffer above kLargestBuffer but within the reader's limit are skipped: below
// the limit the reader's path does not depend on the size, and sizes above the limit, which the
// reader refuses before allocating, still run.
constexpr std::int64_t kLargestBuffer = std::int64_t{1} << 20;

bool declaresSkippedSize(const std::uint8_t* data, std::size_t size) {
    if (size <= bmp::kCompressionOffset || data[0] != 'B' || data[1] != 'M' ||
        data[bmp::kBitsPerPixelOffset] != 24 || data[bmp::kCompressionOffset] != 0) {
        return false;
    }
    const std::int64_t bytes = bmp::paddedRowBytes(littleEndian16(data + bmp::kWidthOffset)) *
                               littleEndian16(data + bmp::kHeightOffset);
    return bytes > kLargestBuffer && bytes <= Bitmap::kMaxPixelBytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (declaresSkippedSize(data, size)) {
        return -1;  // kept out of the corpus
    }
    static const sample::Bytes previous = sample::bitmap(4, 4);
    Bitmap bitmap;
    MemorySource first(previous);
    bitmap.loadFrom(first, "previous.bmp");

    MemorySource source(data, size);
    requireCountsWithinFile(bitmap.loadFrom(source, "input.bmp"), static_cast<std::int64_t>(size),
                            "input.bmp");
    requireUploadInsideBuffer(bitmap);
    return 0;
}
