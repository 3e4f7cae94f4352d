#pragma once
// Output files appear whole or not at all. Each file is first written under a temporary name in
// its own folder; only when every file of a command is complete are they renamed into place, so a
// failure (a full disk, a missing folder) leaves behind neither half a file nor half a world.
// Ended by SIGINT, SIGTERM or SIGHUP, the process removes its temporaries, and the output folder
// it made if that is still empty, and exits with 130, 143 or 129. A signal the process was
// started ignoring (nohup, a background job) stays ignored.

#include <cstdint>
#include <string>
#include <vector>

namespace groundtool {

using Bytes = std::vector<std::uint8_t>;

struct Leftover;  // a path a signal handler removes, see file_output.cpp

// The folder a command writes into, made ready before any input is read: made when missing (its
// parent must exist), refused at once when it is no folder or can't be written into. A folder made
// here is removed again when it is left empty, as by a failed or interrupted command; a folder
// that was there before is never removed.
class OutputFolder {
  public:
    explicit OutputFolder(const std::string& folder);
    ~OutputFolder();
    OutputFolder(const OutputFolder&) = delete;
    OutputFolder& operator=(const OutputFolder&) = delete;

  private:
    Leftover* made_ = nullptr;  // null when the folder was there before
};

class StagedOutput {
  public:
    // Without overwrite, a path that already exists is refused before anything is written.
    explicit StagedOutput(bool overwrite) : overwrite_(overwrite) {}
    ~StagedOutput();  // removes the temporaries of a batch that was never committed
    StagedOutput(const StagedOutput&) = delete;
    StagedOutput& operator=(const StagedOutput&) = delete;

    // Refuses an existing path unless overwriting, always one that is not a regular file, and a
    // name longer than the file system takes; call it for every output before the expensive work
    // so the user hears about a clash at once.
    void checkTarget(const std::string& path) const;
    // Writes bytes to a temporary file next to path. Throws ToolError naming path.
    void stage(const std::string& path, const Bytes& bytes);
    // Renames every staged file into place, with SIGINT, SIGTERM and SIGHUP held back until the
    // last rename, so a world's terrain and texture are replaced together. If one rename fails,
    // the files this batch created are removed again (files it replaced cannot be brought back).
    void commit();

  private:
    struct Staged {
        std::string path;
        Leftover* temporary;  // where an interruption finds it
        bool existed;
    };
    bool overwrite_;
    std::vector<Staged> staged_;
};

}  // namespace groundtool
