#include "byte_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "world.h"

std::unique_ptr<FileSource> FileSource::open(const std::string& path, std::string* failure) {
    auto fail = [failure](const char* why) {
        if (failure != nullptr) {
            *failure = why;
        }
        return nullptr;
    };
    // Non-blocking, so a FIFO under a terrain's name can't stall the viewer in open; only regular
    // files are read (a folder opens on Linux but can't be read, a device may never end).
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) {
        return fail(std::strerror(errno));
    }
    struct stat status {};
    if (fstat(descriptor, &status) != 0) {
        const int error = errno;
        ::close(descriptor);
        return fail(std::strerror(error));
    }
    if (const std::string reason = world::notRegularReason(status.st_mode); !reason.empty()) {
        ::close(descriptor);
        if (failure != nullptr) {
            *failure = reason;
        }
        return nullptr;
    }
    std::FILE* file = fcntl(descriptor, F_SETFL, 0) == 0 ? fdopen(descriptor, "rb") : nullptr;
    if (file == nullptr) {
        const int error = errno;
        ::close(descriptor);
        return fail(std::strerror(error));
    }
    return std::unique_ptr<FileSource>(new FileSource(file, status.st_size));
}

SourceOpener openerInFolder(const std::string& folder) {
    return [folder](const std::string& name, std::string& failure) -> std::unique_ptr<ByteSource> {
        return FileSource::open(world::inFolder(folder, name), &failure);
    };
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
