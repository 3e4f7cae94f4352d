#pragma once
// Crafted terrain and bitmap files, made with the core's own encoders, and temporary folders, so a
// test can build the exact bytes it wants to feed the readers in a line or two.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "load_report.h"

using Bytes = std::vector<std::uint8_t>;

// A ".3dt" file of type 1: the header, then the given height bytes as they are (any number).
Bytes terrainBytes(int rows, int columns, int textureNumber, int tileX, int tileY,
                   const Bytes& heights);
// The same with rows * columns heights from a function of (row, column).
Bytes terrainBytes(int rows, int columns, int textureNumber, int tileX, int tileY,
                   const std::function<int(int, int)>& height);

struct Rgb {
    std::uint8_t r, g, b;
};

// A BMP file: the 54-byte header, then bottom-up rows padded to 4 bytes. For 24 bits the pixels
// come from colour(x, y) with y = 0 the bottom row; for other depths the pixel bytes are zeros.
Bytes bitmapBytes(int width, int height, const std::function<Rgb(int, int)>& colour,
                  int bitsPerPixel = 24, int compression = 0);
Bytes solidBitmapBytes(int width, int height, Rgb colour);

void writeFile(const std::string& path, const Bytes& bytes);
Bytes readFile(const std::string& path);
std::vector<std::string> readLines(const std::string& path);
bool fileExists(const std::string& path);

// The texts of the messages a loader sends to channel, in order.
std::vector<std::string> textsOn(const std::vector<LoadMessage>& messages,
                                 LoadMessage::Channel channel);

// A fresh temporary folder for the object's lifetime, then removed; the working folder stays.
class TemporaryFolder {
  public:
    TemporaryFolder();
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    const std::string& path() const { return path_; }
    // The absolute path of name inside the folder.
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// Sends the error log into folder for the object's lifetime, then back to the working folder.
class ScopedErrorLog {
  public:
    explicit ScopedErrorLog(const std::string& folder);
    ~ScopedErrorLog();
    ScopedErrorLog(const ScopedErrorLog&) = delete;
    ScopedErrorLog& operator=(const ScopedErrorLog&) = delete;
};
