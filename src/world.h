#pragma once
// Where a world's files are: the terrain, its numbered texture and the error log all live in the
// world's folder, which takes the working folder's part ("." when no world is named). Every path
// join and folder derivation of the system is here, and so is the rule that only regular files
// are read, with its wording.

#include <sys/types.h>

#include <string>

namespace world {

constexpr const char* kTerrainFileName = "ground.3dt";
constexpr const char* kErrorLogName = "errorlog.txt";

// "7.bmp", "-10.bmp": the texture a terrain names by its number.
std::string textureFileName(int textureNumber);

// name inside folder: "world/1.bmp", "./1.bmp"; an empty folder adds nothing.
std::string inFolder(const std::string& folder, const std::string& name);
// The folder a path's file is in ("." for a bare name, "/" at the root) and the file's name.
std::string folderOf(const std::string& path);
std::string nameOf(const std::string& path);
// The path with every link and "." or ".." resolved, absolute; "" when it does not exist.
std::string realPathOf(const std::string& path);

std::string terrainPath(const std::string& folder);
std::string texturePath(const std::string& folder, int textureNumber);
std::string errorLogPath(const std::string& folder);

// Why a file of this mode is not read: "" for a regular file, else "a folder, not a regular
// file" or "not a regular file" (a FIFO could stall a reader, a device may never end).
std::string notRegularReason(mode_t mode);
// The same for a path, following links; a failed stat gives its strerror text.
std::string regularFileProblem(const std::string& path);

}  // namespace world
