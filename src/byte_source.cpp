#include "byte_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

std::unique_ptr<FileSource> FileSource::open(const std::string& path) {
    // Non-blocking, so a FIFO under a terrain's name can't stall the viewer in open; only regular
    // files are read (a folder opens on Linux but can't be read, a device may never end).
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) {
        return nullptr;
    }
    struct stat status {};
    if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) ||
        fcntl(descriptor, F_SETFL, 0) != 0) {
        ::close(descriptor);
        return nullptr;
    }
    std::FILE* file = fdopen(descriptor, "rb");
    if (file == nullptr) {
        ::close(descriptor);
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
