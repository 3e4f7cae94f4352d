#include "terrain_file.h"

#include <stdexcept>

namespace groundtool {

Bytes encodeTerrain(const TerrainHeader& header, const std::vector<std::int8_t>& heights) {
    if (heights.size() != static_cast<std::size_t>(header.rows) * header.columns) {
        throw std::logic_error("height count does not match the grid");
    }
    Bytes bytes = {'3',
                   'D',
                   1,
                   static_cast<std::uint8_t>(header.rows),
                   static_cast<std::uint8_t>(header.columns),
                   static_cast<std::uint8_t>(header.textureNumber),
                   static_cast<std::uint8_t>(header.tileX),
                   static_cast<std::uint8_t>(header.tileY)};
    for (const std::int8_t height : heights) {
        bytes.push_back(static_cast<std::uint8_t>(height));
    }
    return bytes;
}

}  // namespace groundtool
