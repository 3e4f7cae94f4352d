#include "local_file.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>

namespace raster {

namespace {

// GDAL identifies a VRT from the first kilobyte it reads of a file.
constexpr std::size_t kHeaderBytes = 1024;

}  // namespace

bool isVirtualPath(const std::string& path) {
    return path.rfind("/vsi", 0) == 0;
}

bool isConnectionString(const std::string& path) {
    std::size_t letters = 0;
    while (letters < path.size() && (std::isalnum(static_cast<unsigned char>(path[letters])) ||
                                     path[letters] == '_' || path[letters] == '-')) {
        ++letters;
    }
    // Two characters at least, so that no single drive letter counts.
    return letters >= 2 && letters < path.size() && path[letters] == ':';
}

bool looksLikeVrt(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::string header(kHeaderBytes, '\0');
    file.read(header.data(), static_cast<std::streamsize>(header.size()));
    header.resize(static_cast<std::size_t>(file.gcount()));
    return header.find("<VRTDataset") != std::string::npos;
}

}  // namespace raster
