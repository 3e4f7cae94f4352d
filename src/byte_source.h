#pragma once
// The one way the readers take bytes in: from a file or from memory, so tests and fuzzers can hand
// them crafted content. A read never goes past the end; it says how many bytes arrived.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class ByteSource {
  public:
    virtual ~ByteSource() = default;
    // Copies up to count bytes into destination; returns how many arrived (fewer at the end).
    virtual std::size_t read(std::uint8_t* destination, std::size_t count) = 0;
    // The whole content's size in bytes, or -1 when the source cannot tell without reading it.
    virtual std::int64_t size() const { return -1; }
};

// Opens a named file for a loader, or says why it can't: a texture next to a terrain file, or
// one served from memory. Returns nullptr and sets failure when there is no such readable file.
using SourceOpener =
    std::function<std::unique_ptr<ByteSource>(const std::string& name, std::string& failure)>;

// Opens names inside folder ("." is the working folder).
SourceOpener openerInFolder(const std::string& folder);

class FileSource : public ByteSource {
  public:
    // An empty pointer when path is not a regular file that can be opened for reading (missing,
    // unreadable, a folder, a FIFO or a device); failure, when given, then says which.
    static std::unique_ptr<FileSource> open(const std::string& path,
                                            std::string* failure = nullptr);
    ~FileSource() override;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    std::size_t read(std::uint8_t* destination, std::size_t count) override;
    std::int64_t size() const override { return size_; }

  private:
    FileSource(std::FILE* file, std::int64_t size) : file_(file), size_(size) {}
    std::FILE* file_;
    std::int64_t size_;
};

class MemorySource : public ByteSource {
  public:
    MemorySource(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    explicit MemorySource(const std::vector<std::uint8_t>& bytes)
        : MemorySource(bytes.data(), bytes.size()) {}

    std::size_t read(std::uint8_t* destination, std::size_t count) override;
    std::int64_t size() const override { return static_cast<std::int64_t>(size_); }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

// Little-endian fields, byte by byte.
inline unsigned littleEndian16(const std::uint8_t* bytes) {
    return static_cast<unsigned>(bytes[0]) | static_cast<unsigned>(bytes[1]) << 8;
}
