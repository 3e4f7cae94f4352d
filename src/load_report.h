#pragma once
// What a loader made of a file: whether it took it, how many bytes the file supplied against
// what its header asked for, and every message it has for the user with the channel the viewer
// sends it to, in order. The loaders only fill reports; Terrain::load writes them out, so tools
// and tests read the same facts without watching the streams.

#include <cstdint>
#include <string>
#include <vector>

struct LoadMessage {
    enum class Channel { StandardError, ErrorLog };
    Channel channel;
    std::string text;
    bool operator==(const LoadMessage& other) const {
        return channel == other.channel && text == other.text;
    }
};

struct LoadReport {
    bool found = false;              // the file could be opened as a regular file
    std::string openFailure;         // why not, when it could not: "No such file or directory"
    bool accepted = false;           // the loader took the file and kept what it read
    std::int64_t fileBytes = -1;     // the whole file's size, when the source knows it
    std::int64_t bytesNeeded = 0;    // what the header asks the file to hold, header included
    std::int64_t bytesSupplied = 0;  // how many of those the file held
    std::vector<LoadMessage> messages;

    void toStandardError(std::string text) {
        messages.push_back({LoadMessage::Channel::StandardError, std::move(text)});
    }
    void toErrorLog(std::string text) {
        messages.push_back({LoadMessage::Channel::ErrorLog, std::move(text)});
    }
    // Bytes after those the loader needs, which it never reads; 0 when the size is unknown.
    std::int64_t bytesAfter() const {
        return fileBytes > bytesNeeded ? fileBytes - bytesNeeded : 0;
    }
};

// Writes each message where the viewer writes it: the error log or standard error, in order.
void writeMessages(const std::vector<LoadMessage>& messages);
