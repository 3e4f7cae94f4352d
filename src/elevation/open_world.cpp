#include "open_world.h"

#include <cstdint>

#include "byte_source.h"
#include "terrain_format.h"
#include "world.h"

WorldKind worldKind(const std::string& path) {
    const std::string name = world::nameOf(path);
    const std::string extension = ".3dt";
    if (name.size() > extension.size() &&
        name.compare(name.size() - extension.size(), extension.size(), extension) == 0) {
        return WorldKind::classic;
    }
    std::unique_ptr<FileSource> file = FileSource::open(path);
    std::uint8_t magic[2] = {};
    const bool classic = file && file->read(magic, sizeof magic) == sizeof magic &&
                         magic[0] == terrain_format::kMagic0 && magic[1] == terrain_format::kMagic1;
    return classic ? WorldKind::classic : WorldKind::raster;
}

OpenedWorld openWorld(const std::string& path) {
    OpenedWorld opened;
    if (worldKind(path) == WorldKind::classic) {
        opened.classic.emplace();
        opened.classic->report = parseTerrainFile(path, opened.classic->grid);
    } else {
        opened.raster = std::make_unique<raster::ElevationSource>(path);
    }
    return opened;
}
