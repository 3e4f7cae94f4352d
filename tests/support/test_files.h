#pragma once
// Crafted terrain and bitmap files, a private working folder, and captured standard error, so a
// test can build the exact bytes it wants to feed the readers in a line or two.

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <sstream>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// A ".3dt" file: "3D", type 1, the five header bytes, then the given height bytes as they are.
Bytes terrainBytes(int rows, int columns, int textureNumber, int tileX, int tileY,
                   const Bytes& heights);
// The same with rows * columns heights from a function of (row, column).
Bytes terrainBytes(int rows, int columns, int textureNumber, int tileX, int tileY,
                   const std::function<int(int, int)>& height);

struct Rgb {
    std::uint8_t r, g, b;
};

// A BMP file with a 54-byte header and bottom-up rows padded to 4 bytes. For 24 bits the pixels
// come from colour(x, y) with y = 0 the bottom row; for other depths the pixel bytes are zeros.
Bytes bitmapBytes(int width, int height, const std::function<Rgb(int, int)>& colour,
                  int bitsPerPixel = 24, int compression = 0);
Bytes solidBitmapBytes(int width, int height, Rgb colour);

void writeFile(const std::string& path, const Bytes& bytes);
Bytes readFile(const std::string& path);
std::vector<std::string> readLines(const std::string& path);
bool fileExists(const std::string& path);

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

// A fresh temporary folder made the working folder for the object's lifetime, then removed.
class ScopedWorkingFolder {
  public:
    ScopedWorkingFolder();
    ~ScopedWorkingFolder();
    ScopedWorkingFolder(const ScopedWorkingFolder&) = delete;
    ScopedWorkingFolder& operator=(const ScopedWorkingFolder&) = delete;
    const std::string& path() const { return path_; }

  private:
    std::string path_;
    std::string previous_;
};

// Collects what std::cerr receives while it lives.
class CapturedStderr {
  public:
    CapturedStderr();
    ~CapturedStderr();
    CapturedStderr(const CapturedStderr&) = delete;
    CapturedStderr& operator=(const CapturedStderr&) = delete;
    std::string text() const { return captured_.str(); }
    std::vector<std::string> lines() const;

  private:
    std::ostringstream captured_;
    std::streambuf* previous_;
};
