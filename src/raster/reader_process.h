#pragma once
// The jailed reader: a child process that opens one source with GDAL under the open policy, inside
// the walls of jail.h, and answers read requests. Samples come back through memory shared with
// it, and everything else as small messages whose every size is checked; it can neither write
// nor reach anything but the source's folder. It is started before any window or X connection
// exists, and ends with its owner.

#include <sys/types.h>

#include <cstddef>
#include <string>

#include "grid_layout.h"
#include "jail.h"
#include "source_facts.h"

namespace raster {

class ReaderProcess {
  public:
    // Starts the reader of path and waits for it to open the source. Throws NotARaster or
    // RasterError with the reader's own line, or when it stalls or dies.
    explicit ReaderProcess(const std::string& path, const JailLimits& limits = {});
    ~ReaderProcess();
    ReaderProcess(const ReaderProcess&) = delete;
    ReaderProcess& operator=(const ReaderProcess&) = delete;

    const SourceFacts& facts() const { return facts_; }

    // GdalSource::read, done by the reader: the window resampled to columns x rows samples at
    // out, rows lineStride values apart, missing heights NaN.
    void read(const SourceWindow& window, int columns, int rows, double* out,
              std::ptrdiff_t lineStride);

  private:
    // Waits for the reader's answer, resetting the stall clock at each progress report; returns
    // the answer's bytes, its first byte its kind. Throws when it stalls, dies or says it failed.
    std::string await();
    // Ends the reader and throws message, as NotARaster when it says so.
    [[noreturn]] void stop(const std::string& message, bool notARaster = false);

    std::string shown_;
    JailLimits limits_;
    pid_t child_ = -1;
    int channel_ = -1;  // a sequenced-packet socket to the reader
    int shared_ = -1;   // the samples' memory
    SourceFacts facts_;
};

}  // namespace raster
