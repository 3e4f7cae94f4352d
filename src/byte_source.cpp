#include "byte_source.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>

std::unique_ptr<FileSource> FileSource::open(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return nullptr;
    }
    // fopen accepts a folder on Linux; reading it then fails. Treat it as not found.
    struct stat status {};
    if (fstat(fileno(file), &status) != 0 || S_ISDIR(status.st_mode)) {
        std::fclose(file);
        return nullptr;
    }
    return std::unique_ptr<FileSource>(new FileSource(file));
}

FileSource::~FileSource() {
    std::fclose(file_);
}

std::size_t FileSource::read(std::uint8_t* destination, std::size_t count) {
    return count == 0 ? 0 : std::fread(destination, 1, count, file_);
}

std::size_t MemorySource::read(std::uint8_t* destination, std::size_t count) {
    const std::size_t available = std::min(count, size_ - position_);
    if (available > 0) {
        std::memcpy(destination, data_ + position_, available);
    }
    position_ += available;
    return available;
}
