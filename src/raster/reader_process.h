#pragma once
// The jailed reader: a child process that opens one source (or joins tiles into one) with GDAL
// under the open policy, inside the walls of jail.h, and answers read requests. Samples come back
// through memory shared with it, and everything else as small messages whose every size is checked;
// it can neither write nor reach anything but the source's folders. It is started before any window
// or X connection exists, and ends with its owner.

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

#include "grid_layout.h"
#include "jail.h"
#include "mosaic.h"
#include "source_facts.h"

namespace raster {

class ReaderProcess;

// Samples in memory shared with a reader, as floats, mapped read-only while the value lives; the
// reader reads nothing more until it is gone.
class SharedSamples {
  public:
    SharedSamples(const float* values, std::size_t count, ReaderProcess* reader)
        : values_(values), count_(count), reader_(reader) {}
    ~SharedSamples();
    SharedSamples(SharedSamples&& other) noexcept
        : values_(other.values_), count_(other.count_), reader_(other.reader_) {
        other.values_ = nullptr;
        other.reader_ = nullptr;
    }
    SharedSamples(const SharedSamples&) = delete;
    SharedSamples& operator=(const SharedSamples&) = delete;
    SharedSamples& operator=(SharedSamples&&) = delete;
    const float* data() const { return values_; }
    std::size_t size() const { return count_; }

  private:
    const float* values_;
    std::size_t count_;
    ReaderProcess* reader_;  // whose memory this is, told when it is given back
};

class ReaderProcess {
  public:
    // Starts the reader of names and waits for it to open the source. Throws NoRaster, NotARaster
    // or RasterError with the reader's own line, or when it stalls or dies.
    explicit ReaderProcess(const SourceNames& names, const JailLimits& limits = {});
    ~ReaderProcess();
    ReaderProcess(const ReaderProcess&) = delete;
    ReaderProcess& operator=(const ReaderProcess&) = delete;

    const SourceFacts& facts() const { return facts_; }

    // GdalSource::read, done by the reader: the window resampled to columns x rows samples at
    // out, rows lineStride values apart, missing heights NaN.
    void read(const SourceWindow& window, int columns, int rows, double* out,
              std::ptrdiff_t lineStride);
    // The same as floats, left where the reader put them, rows packed, for the caller to take as
    // it reads them: values straight from the reader, which the caller must check finite
    // itself. The reader reads nothing else while they are held.
    SharedSamples readShared(const SourceWindow& window, int columns, int rows);
    // GdalSource::readHalved, done by the reader, left where it put the samples as readShared
    // does: (width + 1) / 2 x (rowCount + 1) / 2 of them, values the caller must check finite.
    SharedSamples readHalved(int firstRow, int rowCount);

  private:
    friend class SharedSamples;
    // Waits for the reader's answer, resetting the stall clock at each progress report; returns
    // the answer's bytes, its first byte its kind. Throws when it stalls, dies or says it failed.
    std::string await();
    // Sends the reader request, which fills bytes of the shared memory, and maps them.
    const void* readMapped(const std::string& request, long long bytes);
    // The shared memory is back from the caller: kept for the next read unless it is large.
    void giveBack();
    // Ends the reader and throws message, as NoRaster or NotARaster when kind, the reader's
    // answer, says so.
    [[noreturn]] void stop(const std::string& message, char kind = 0);

    std::string shown_;
    JailLimits limits_;
    std::chrono::milliseconds stallWatch_;  // limits_.stallSeconds, or less for a test
    pid_t child_ = -1;
    int channel_ = -1;           // a sequenced-packet socket to the reader
    int shared_ = -1;            // the samples' memory
    long long sharedBytes_ = 0;  // its size
    bool lent_ = false;          // a SharedSamples maps it
    SourceFacts facts_;
};

// Calls hook once, from within whichever reader's open or read first goes on for longer than
// after: a chance to tell the user what is being read.
void whenReadingIsSlow(std::function<void()> hook, std::chrono::milliseconds after);

}  // namespace raster
