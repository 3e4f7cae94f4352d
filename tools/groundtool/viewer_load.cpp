#include "viewer_load.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <streambuf>

#include "byte_source.h"
#include "diag.h"
#include "image.h"
#include "terrain.h"

namespace fs = std::filesystem;

namespace groundtool {

namespace {

// Counts what the loader takes, so a short file shows up although the loader is silent on it.
class CountingSource : public ByteSource {
  public:
    explicit CountingSource(ByteSource& inner) : inner_(inner) {}
    std::size_t read(std::uint8_t* destination, std::size_t count) override {
        const std::size_t arrived = inner_.read(destination, count);
        total_ += static_cast<std::int64_t>(arrived);
        return arrived;
    }
    std::int64_t total() const { return total_; }

  private:
    ByteSource& inner_;
    std::int64_t total_ = 0;
};

std::int64_t bytesRemaining(ByteSource& source) {
    std::int64_t total = 0;
    std::uint8_t chunk[4096];
    for (std::size_t arrived; (arrived = source.read(chunk, sizeof chunk)) > 0;) {
        total += static_cast<std::int64_t>(arrived);
    }
    return total;
}

// Turns every line std::cerr receives into a message, keeping its place among the log entries.
class LineCollector : public std::streambuf {
  public:
    explicit LineCollector(std::vector<ViewerMessage>& messages) : messages_(messages) {}
    ~LineCollector() override { finishLine(); }

  protected:
    int_type overflow(int_type character) override {
        if (traits_type::eq_int_type(character, traits_type::eof())) {
            return traits_type::not_eof(character);
        }
        if (traits_type::to_char_type(character) == '\n') {
            finishLine();
        } else {
            line_ += traits_type::to_char_type(character);
            pending_ = true;
        }
        return character;
    }

  private:
    void finishLine() {
        if (pending_ || !line_.empty()) {
            messages_.push_back({ViewerMessage::Channel::StandardError, line_});
        }
        line_.clear();
        pending_ = false;
    }

    std::vector<ViewerMessage>& messages_;
    std::string line_;
    bool pending_ = false;
};

// While it lives, std::cerr and the error log feed messages.
class MessageCapture {
  public:
    explicit MessageCapture(std::vector<ViewerMessage>& messages)
        : collector_(messages), previous_(std::cerr.rdbuf(&collector_)) {
        redirectErrorLog([&messages](const std::string& entry) {
            messages.push_back({ViewerMessage::Channel::ErrorLog, entry});
        });
    }
    ~MessageCapture() {
        redirectErrorLog(nullptr);
        std::cerr.rdbuf(previous_);
    }
    MessageCapture(const MessageCapture&) = delete;
    MessageCapture& operator=(const MessageCapture&) = delete;

  private:
    LineCollector collector_;
    std::streambuf* previous_;
};

std::size_t logEntries(const std::vector<ViewerMessage>& messages) {
    std::size_t count = 0;
    for (const ViewerMessage& message : messages) {
        count += message.channel == ViewerMessage::Channel::ErrorLog ? 1 : 0;
    }
    return count;
}

// Keeps a copy of the header bytes the reader takes and counts the rest.
class HeaderTap : public ByteSource {
  public:
    explicit HeaderTap(ByteSource& inner) : inner_(inner) {}
    std::size_t read(std::uint8_t* destination, std::size_t count) override {
        const std::size_t arrived = inner_.read(destination, count);
        for (std::size_t i = 0; i < arrived && header_.size() < kBitmapHeaderBytes; ++i) {
            header_.push_back(destination[i]);
        }
        total_ += static_cast<std::int64_t>(arrived);
        return arrived;
    }
    const std::vector<std::uint8_t>& header() const { return header_; }
    std::int64_t total() const { return total_; }

  private:
    ByteSource& inner_;
    std::vector<std::uint8_t> header_;
    std::int64_t total_ = 0;
};

int openError(const std::string& path) {
    const int descriptor = open(path.c_str(), O_RDONLY);
    if (descriptor < 0) {
        return errno;
    }
    close(descriptor);
    return EISDIR;  // FileSource refuses folders, the only other reason it fails
}

}  // namespace

std::string describe(const ViewerMessage& message) {
    const char* channel =
        message.channel == ViewerMessage::Channel::ErrorLog ? "errorlog.txt" : "standard error";
    return std::string(channel) + ": " + message.text;
}

std::string folderOf(const std::string& path) {
    const fs::path parent = fs::path(path).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

WorkingFolder::WorkingFolder(const std::string& folder) {
    std::error_code error;
    previous_ = fs::current_path(error).string();
    if (error) {
        return;
    }
    fs::current_path(folder, error);
    entered_ = !error;
}

WorkingFolder::~WorkingFolder() {
    if (entered_) {
        std::error_code ignored;
        fs::current_path(previous_, ignored);
    }
}

ViewerLoad loadAsViewer(Terrain& terrain, const std::string& path) {
    ViewerLoad result;
    MessageCapture capture(result.messages);
    const std::string name = fs::path(path).filename().string();
    WorkingFolder folder(folderOf(path));
    const std::string openedName = folder.entered() ? name : path;

    std::unique_ptr<FileSource> file = FileSource::open(openedName);
    if (file) {
        result.opened = true;
        CountingSource counted(*file);
        const std::size_t logEntriesBefore = logEntries(result.messages);
        terrain.loadFrom(counted, openedName);
        result.accepted = logEntries(result.messages) == logEntriesBefore;
        result.bytesRead = counted.total();
        result.bytesLeft = bytesRemaining(*file);
    } else {
        result.openError = openError(openedName);
        terrain.load(openedName);  // fails again, with the viewer's own entry
    }
    result.endsAtFirstFrame = checkGLError(false);
    return result;
}

std::vector<ViewerMessage> frameErrorCheck() {
    std::vector<ViewerMessage> messages;
    {
        MessageCapture capture(messages);
        checkGLError(false);
    }
    return messages;
}

TextureLook lookAtTexture(const std::string& path) {
    // BMP header fields the reader does not use but whose values change what it shows.
    constexpr std::size_t kDataOffsetField = 10;
    constexpr std::size_t kBitsPerPixelField = 28;
    constexpr std::size_t kCompressionField = 30;

    TextureLook look;
    std::unique_ptr<FileSource> file = FileSource::open(path);
    if (!file) {
        look.openError = openError(path);
        return look;
    }
    look.found = true;
    std::vector<ViewerMessage> dropped;
    MessageCapture capture(dropped);
    HeaderTap tap(*file);
    Bitmap bitmap;
    bitmap.loadFrom(tap, path);

    const std::vector<std::uint8_t>& header = tap.header();
    look.accepted = bitmap.pixels() != nullptr;
    look.width = bitmap.width();
    look.height = bitmap.height();
    look.bitsPerPixel = header.size() > kBitsPerPixelField ? header[kBitsPerPixelField] : 0;
    look.compression = header.size() > kCompressionField ? header[kCompressionField] : 0;
    if (header.size() >= kDataOffsetField + 4) {
        look.dataOffset = static_cast<std::int64_t>(littleEndian16(&header[kDataOffsetField])) |
                          static_cast<std::int64_t>(littleEndian16(&header[kDataOffsetField + 2]))
                              << 16;
    }
    if (look.accepted) {
        look.pixelBytesExpected = bitmap.byteCount();
        look.pixelBytesRead = tap.total() - static_cast<std::int64_t>(header.size());
    }
    return look;
}

}  // namespace groundtool
