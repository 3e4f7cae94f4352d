#include "terrain_file.h"

#include <stdexcept>

namespace groundtool {

Bytes encodeTerrain(const TerrainHeader& header, const std::vector<std::int8_t>& heights) {
    if (heights.size() != static_cast<std::size_t>(header.rows) * header.columns) {
        throw std::logic_error("height count does not match the grid");
    }
    return terrain_format::encode(header, heights);
}

}  // namespace groundtool
