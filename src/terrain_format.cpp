#include "terrain_format.h"

#include <algorithm>
#include <cmath>

namespace terrain_format {

std::vector<std::uint8_t> encode(const Header& header, const std::vector<std::uint8_t>& heights) {
    std::vector<std::uint8_t> bytes(kHeaderBytes + heights.size());
    bytes[0] = kMagic0;
    bytes[1] = kMagic1;
    bytes[kTypeOffset] = static_cast<std::uint8_t>(header.type);
    bytes[kRowsOffset] = static_cast<std::uint8_t>(header.rows);
    bytes[kColumnsOffset] = static_cast<std::uint8_t>(header.columns);
    bytes[kTextureNumberOffset] = static_cast<std::uint8_t>(header.textureNumber);
    bytes[kTileXOffset] = static_cast<std::uint8_t>(header.tileX);
    bytes[kTileYOffset] = static_cast<std::uint8_t>(header.tileY);
    std::copy(heights.begin(), heights.end(), bytes.begin() + kHeaderBytes);
    return bytes;
}

std::vector<std::uint8_t> encode(const Header& header, const std::vector<std::int8_t>& heights) {
    return encode(header, std::vector<std::uint8_t>(heights.begin(), heights.end()));
}

std::int8_t levelOf(double share) {
    const double clamped = share > 0.0 ? std::min(share, 1.0) : 0.0;
    return static_cast<std::int8_t>(std::lround(clamped * kLevelSteps) + kLowestLevel);
}

}  // namespace terrain_format
