#include "test_files.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "bmp_format.h"
#include "diag.h"
#include "terrain_format.h"

namespace fs = std::filesystem;

Bytes terrainBytes(int rows, int columns, int textureNumber, int tileX, int tileY,
                   const Bytes& heights) {
    terrain_format::Header header;
    header.rows = rows;
    header.columns = columns;
    header.textureNumber = textureNumber;
    header.tileX = tileX;
    header.tileY = tileY;
    return terrain_format::encode(header, heights);
}

Bytes terrainBytes(int rows, int columns, int textureNumber, int tileX, int tileY,
                   const std::function<int(int, int)>& height) {
    Bytes heights;
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            heights.push_back(static_cast<std::uint8_t>(height(r, c)));
        }
    }
    return terrainBytes(rows, columns, textureNumber, tileX, tileY, heights);
}

Bytes bitmapBytes(int width, int height, const std::function<Rgb(int, int)>& colour,
                  int bitsPerPixel, int compression) {
    // Other depths get rows of their own size, so a file of that depth is as long as it should be.
    const std::size_t rowBytes = (static_cast<std::size_t>(width) * bitsPerPixel / 8 + 3) / 4 * 4;
    const std::size_t pixelBytes = rowBytes * height;
    Bytes bytes(bmp::kHeaderBytes + pixelBytes, 0);
    bmp::writeHeader(bytes.data(), width, height, bitsPerPixel, compression,
                     static_cast<std::uint32_t>(pixelBytes));
    if (bitsPerPixel == 24) {
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const Rgb c = colour(x, y);
                const std::size_t at =
                    bmp::kHeaderBytes + rowBytes * y + 3 * static_cast<std::size_t>(x);
                bytes[at] = c.b;
                bytes[at + 1] = c.g;
                bytes[at + 2] = c.r;
            }
        }
    }
    return bytes;
}

Bytes solidBitmapBytes(int width, int height, Rgb colour) {
    return bitmapBytes(width, height, [colour](int, int) { return colour; });
}

void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> readLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

bool fileExists(const std::string& path) {
    return fs::exists(path);
}

std::vector<std::string> textsOn(const std::vector<LoadMessage>& messages,
                                 LoadMessage::Channel channel) {
    std::vector<std::string> texts;
    for (const LoadMessage& message : messages) {
        if (message.channel == channel) {
            texts.push_back(message.text);
        }
    }
    return texts;
}

TemporaryFolder::TemporaryFolder() {
    std::string pattern = (fs::temp_directory_path() / "groundview-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot make a temporary folder");
    }
    path_ = pattern;
}

TemporaryFolder::~TemporaryFolder() {
    std::error_code ignored;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
}

ScopedErrorLog::ScopedErrorLog(const std::string& folder) {
    setErrorLogFolder(folder);
}

ScopedErrorLog::~ScopedErrorLog() {
    setErrorLogFolder(".");
}
