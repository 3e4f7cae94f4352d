#include "world.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace world {

std::string textureFileName(int textureNumber) {
    return std::to_string(textureNumber) + ".bmp";
}

std::string inFolder(const std::string& folder, const std::string& name) {
    if (folder.empty()) {
        return name;
    }
    return folder + (folder.back() == '/' ? "" : "/") + name;
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string realPathOf(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : std::string();
}

std::string nameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string terrainPath(const std::string& folder) {
    return inFolder(folder, kTerrainFileName);
}

std::string texturePath(const std::string& folder, int textureNumber) {
    return inFolder(folder, textureFileName(textureNumber));
}

std::string errorLogPath(const std::string& folder) {
    return inFolder(folder, kErrorLogName);
}

std::string notRegularReason(mode_t mode) {
    if (S_ISREG(mode)) {
        return "";
    }
    return S_ISDIR(mode) ? "a folder, not a regular file" : "not a regular file";
}

std::string regularFileProblem(const std::string& path) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        return std::strerror(errno);
    }
    return notRegularReason(status.st_mode);
}

}  // namespace world
