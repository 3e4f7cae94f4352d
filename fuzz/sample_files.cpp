#include "sample_files.h"

#include <algorithm>

#include "terrain_format.h"
#include "test_files.h"

namespace sample {

Bytes bitmap(int width, int height, int bitsPerPixel, int compression) {
    const auto pattern = [](int x, int y) {
        return Rgb{static_cast<std::uint8_t>(0xFF - x - y), static_cast<std::uint8_t>(y * 16),
                   static_cast<std::uint8_t>(x * 16)};
    };
    return bitmapBytes(width, height, pattern, bitsPerPixel, compression);
}

Bytes terrain(int type, int rows, int columns, int textureNumber, int tileX, int tileY,
              const Bytes& heights) {
    Bytes bytes = terrainBytes(rows, columns, textureNumber, tileX, tileY, heights);
    bytes[terrain_format::kTypeOffset] = static_cast<std::uint8_t>(type);
    return bytes;
}

Bytes terrain(int rows, int columns, int textureNumber, int tileX, int tileY) {
    return terrainBytes(rows, columns, textureNumber, tileX, tileY,
                        [](int r, int c) { return r * 7 + c * 3; });
}

Bytes prefix(const Bytes& bytes, std::size_t length) {
    return Bytes(bytes.begin(),
                 bytes.begin() + static_cast<std::ptrdiff_t>(std::min(length, bytes.size())));
}

void write(const std::string& path, const Bytes& bytes) {
    writeFile(path, bytes);
}

}  // namespace sample
