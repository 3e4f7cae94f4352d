#pragma once
// The one way the readers take bytes in: from a file or from memory, so tests and fuzzers can hand
// them crafted content. A read never goes past the end; it says how many bytes arrived.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

class ByteSource {
  public:
    virtual ~ByteSource() = default;
    // Copies up to count bytes into destination; returns how many arrived (fewer at the end).
    virtual std::size_t read(std::uint8_t* destination, std::size_t count) = 0;
};

class FileSource : public ByteSource {
  public:
    // An empty pointer when path is not a regular file that can be opened for reading (missing,
    // unreadable, a folder, a FIFO or a device).
    static std::unique_ptr<FileSource> open(const std::string& path);
    ~FileSource() override;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    std::size_t read(std::uint8_t* destination, std::size_t count) override;

  private:
    explicit FileSource(std::FILE* file) : file_(file) {}
    std::FILE* file_;
};

class MemorySource : public ByteSource {
  public:
    MemorySource(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    explicit MemorySource(const std::vector<std::uint8_t>& bytes)
        : MemorySource(bytes.data(), bytes.size()) {}

    std::size_t read(std::uint8_t* destination, std::size_t count) override;

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

// Little-endian fields, byte by byte.
inline unsigned littleEndian16(const std::uint8_t* bytes) {
    return static_cast<unsigned>(bytes[0]) | static_cast<unsigned>(bytes[1]) << 8;
}
