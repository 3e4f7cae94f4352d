#pragma once
// Output files appear whole or not at all. Each file is first written under a temporary name in
// its own folder; only when every file of a command is complete are they renamed into place, so a
// failure (a full disk, a missing folder) leaves behind neither half a file nor half a world.
// Interrupted by SIGINT or SIGTERM, the process removes its temporaries and ends with 130 or 143.

#include <cstdint>
#include <string>
#include <vector>

namespace groundtool {

using Bytes = std::vector<std::uint8_t>;

// The folder a command writes into, made ready before any input is read: made when missing (its
// parent must exist), refused at once when it is no folder or can't be written into.
void prepareOutputFolder(const std::string& folder);

class StagedOutput {
  public:
    // Without overwrite, a path that already exists is refused before anything is written.
    explicit StagedOutput(bool overwrite) : overwrite_(overwrite) {}
    ~StagedOutput();  // removes the temporaries of a batch that was never committed
    StagedOutput(const StagedOutput&) = delete;
    StagedOutput& operator=(const StagedOutput&) = delete;

    // Refuses an existing path unless overwriting, and always one that is not a regular file;
    // call it for every output before the expensive work so the user hears about a clash at once.
    void checkTarget(const std::string& path) const;
    // Writes bytes to a temporary file next to path. Throws ToolError naming path.
    void stage(const std::string& path, const Bytes& bytes);
    // Renames every staged file into place. If one rename fails, the files this batch created
    // are removed again (files it replaced cannot be brought back).
    void commit();

  private:
    struct Staged {
        std::string path;
        std::string temporary;
        bool existed;
        std::size_t slot;  // where an interruption finds the temporary
    };
    bool overwrite_;
    std::vector<Staged> staged_;
};

}  // namespace groundtool
