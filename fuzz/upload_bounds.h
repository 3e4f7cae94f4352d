#pragma once
// Mesa is not instrumented, so a pixel buffer shorter than what glTexImage2D reads from it would
// go unseen inside the upload. This asks the sanitizer's allocator how large the buffer really is
// and aborts when the upload of the bitmap's width and height would read past it.

#include <sanitizer/allocator_interface.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "image.h"

// What glTexImage2D(GL_RGB, GL_UNSIGNED_BYTE) reads with the default unpack alignment of 4: every
// row but the last padded to 4 bytes, the last one only to its pixels.
inline std::int64_t uploadReadBytes(std::int64_t width, std::int64_t height) {
    if (width <= 0 || height <= 0) {
        return 0;
    }
    return (width * 3 + 3) / 4 * 4 * (height - 1) + width * 3;
}

inline void requireUploadInsideBuffer(const Bitmap& bitmap) {
    const std::uint8_t* pixels = bitmap.pixels();
    if (pixels == nullptr) {
        return;
    }
    const std::int64_t needed = uploadReadBytes(bitmap.width(), bitmap.height());
    const auto held = static_cast<std::int64_t>(__sanitizer_get_allocated_size(pixels));
    if (needed > held) {
        std::fprintf(stderr,
                     "upload of %d x %d RGB pixels reads %lld bytes from a buffer of %lld bytes\n",
                     bitmap.width(), bitmap.height(), static_cast<long long>(needed),
                     static_cast<long long>(held));
        std::abort();
    }
}
