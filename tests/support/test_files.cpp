#include "test_files.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>

namespace fs = std::filesystem;

Bytes terrainBytes(int rows, int columns, int textureNumber, int tileX, int tileY,
                   const Bytes& heights) {
    Bytes bytes = {'3',
                   'D',
                   1,
                   static_cast<std::uint8_t>(rows),
                   static_cast<std::uint8_t>(columns),
                   static_cast<std::uint8_t>(textureNumber),
                   static_cast<std::uint8_t>(tileX),
                   static_cast<std::uint8_t>(tileY)};
    bytes.resize(bytes.size() + heights.size());
    std::copy(heights.begin(), heights.end(), bytes.end() - heights.size());
    return bytes;
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

namespace {

void put16(Bytes& bytes, std::size_t offset, unsigned value) {
    bytes[offset] = value & 0xFF;
    bytes[offset + 1] = (value >> 8) & 0xFF;
}

void put32(Bytes& bytes, std::size_t offset, std::uint32_t value) {
    put16(bytes, offset, value & 0xFFFF);
    put16(bytes, offset + 2, value >> 16);
}

}  // namespace

Bytes bitmapBytes(int width, int height, const std::function<Rgb(int, int)>& colour,
                  int bitsPerPixel, int compression) {
    const std::size_t rowBytes = (static_cast<std::size_t>(width) * bitsPerPixel / 8 + 3) / 4 * 4;
    const std::size_t pixelBytes = rowBytes * height;
    Bytes bytes(54 + pixelBytes, 0);
    bytes[0] = 'B';
    bytes[1] = 'M';
    put32(bytes, 2, static_cast<std::uint32_t>(bytes.size()));
    put32(bytes, 10, 54);
    put32(bytes, 14, 40);
    put32(bytes, 18, static_cast<std::uint32_t>(width));
    put32(bytes, 22, static_cast<std::uint32_t>(height));
    put16(bytes, 26, 1);
    put16(bytes, 28, static_cast<unsigned>(bitsPerPixel));
    put32(bytes, 30, static_cast<std::uint32_t>(compression));
    put32(bytes, 34, static_cast<std::uint32_t>(pixelBytes));
    if (bitsPerPixel == 24) {
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const Rgb c = colour(x, y);
                const std::size_t at = 54 + rowBytes * y + 3 * static_cast<std::size_t>(x);
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

ScopedWorkingFolder::ScopedWorkingFolder() : previous_(fs::current_path().string()) {
    std::string pattern = (fs::temp_directory_path() / "groundview-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot make a temporary folder");
    }
    path_ = pattern;
    fs::current_path(path_);
}

ScopedWorkingFolder::~ScopedWorkingFolder() {
    std::error_code ignored;
    fs::current_path(previous_, ignored);
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
}

CapturedStderr::CapturedStderr() : previous_(std::cerr.rdbuf(captured_.rdbuf())) {}

CapturedStderr::~CapturedStderr() {
    std::cerr.rdbuf(previous_);
}

std::vector<std::string> CapturedStderr::lines() const {
    std::istringstream in(captured_.str());
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}
