#include "open_world.h"

#include <sys/stat.h>

#include <cstdint>

#include "byte_source.h"
#include "printable.h"
#include "terrain_format.h"
#include "world.h"

namespace {

bool isFolder(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool exists(const std::string& path) {
    struct stat status {};
    return lstat(path.c_str(), &status) == 0;
}

}  // namespace

WorldKind worldKind(const std::string& path) {
    if (isFolder(path)) {
        return exists(world::terrainPath(path)) ? WorldKind::classic : WorldKind::raster;
    }
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

std::string worldsProblem(const std::vector<std::string>& paths) {
    if (paths.size() < 2) {
        return "";
    }
    for (const std::string& path : paths) {
        if (isFolder(path)) {
            return printable(path) + " is a folder; name a folder alone, or its tiles one by one";
        }
        if (worldKind(path) == WorldKind::classic) {
            return printable(path) +
                   " is a terrain file; it is opened alone, not joined with other files";
        }
    }
    return "";
}

OpenedWorld openWorld(const std::string& path, int band) {
    return openWorld(std::vector<std::string>{path}, band);
}

OpenedWorld openWorld(const std::vector<std::string>& paths, int band) {
    if (const std::string problem = worldsProblem(paths); !problem.empty()) {
        throw WorldsRefused(problem);
    }
    OpenedWorld opened;
    const std::string& first = paths.at(0);
    if (paths.size() == 1 && worldKind(first) == WorldKind::classic) {
        const std::string file = isFolder(first) ? world::terrainPath(first) : first;
        opened.classic.emplace();
        opened.classic->report = parseTerrainFile(file, opened.classic->grid);
    } else {
        opened.raster =
            std::make_unique<raster::ElevationSource>(paths, raster::JailLimits{}, band);
    }
    return opened;
}
