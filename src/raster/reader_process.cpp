#include "reader_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <type_traits>
#include <utility>

#include "crs_policy.h"
#include "gdal_source.h"
#include "no_data.h"
#include "printable.h"
#include "raster_error.h"
#include "raster_open.h"

namespace raster {

namespace {

// Messages between the two sides: a kind byte, then fixed-size fields and length-led strings.
enum Kind : char {
    kFacts = 'F',       // reader: the source is open, its facts follow
    kRead = 'R',        // owner: read a window into the shared memory
    kReadHalved = 'H',  // owner: read whole rows halved into the shared memory
    kDone = 'D',        // reader: the samples are in place
    kProgress = 'P',    // reader: still reading
    kNote = 'O',        // reader: a note for the user follows
    kNotARaster = 'N',  // reader: no allowed driver reads it; a line follows
    kFailed = 'E',      // reader: it can't be read; a line follows
    kNoRaster = 'U',    // reader: none of the tiles is a raster; a line follows
};

// Larger than any message either side sends: the facts are a few hundred bytes and a
// coordinate system's WKT a few kilobytes. A socket buffer holds it whole.
constexpr std::size_t kMaxMessage = 128 * 1024;
// The reader says it is still reading at most this often.
constexpr auto kProgressInterval = std::chrono::milliseconds(200);
// The shared memory is kept between reads up to this size, so that a run of reads (a pyramid's
// strips, streamed chunks) reuses its pages; beyond it, it is emptied once the samples are taken.
constexpr long long kKeptSharedBytes = 64LL << 20;

long long halvedBytes(int width, int rowCount) {
    return (static_cast<long long>(width) + 1) / 2 * ((static_cast<long long>(rowCount) + 1) / 2) *
           static_cast<long long>(sizeof(float));
}

class Packet {
  public:
    explicit Packet(Kind kind) : bytes_(1, kind) {}
    template <typename T>
    Packet& put(T value) {
        static_assert(std::is_arithmetic_v<T>);
        bytes_.append(reinterpret_cast<const char*>(&value), sizeof(value));
        return *this;
    }
    Packet& put(const std::string& text) {
        put(static_cast<std::uint32_t>(text.size()));
        bytes_ += text;
        return *this;
    }
    const std::string& bytes() const { return bytes_; }

  private:
    std::string bytes_;
};

// Reads a message's fields in order; any field beyond its end is a broken message.
class Unpacker {
  public:
    explicit Unpacker(const std::string& bytes) : bytes_(bytes) {}
    template <typename T>
    T get() {
        static_assert(std::is_arithmetic_v<T>);
        T value{};
        need(sizeof(value));
        std::memcpy(&value, bytes_.data() + at_, sizeof(value));
        at_ += sizeof(value);
        return value;
    }
    std::string text() {
        const auto size = get<std::uint32_t>();
        need(size);
        std::string value = bytes_.substr(at_, size);
        at_ += size;
        return value;
    }
    bool finished() const { return at_ == bytes_.size(); }

  private:
    void need(std::size_t size) const {
        if (size > bytes_.size() - at_) {
            throw RasterError("the raster reader sent a broken message");
        }
    }
    const std::string& bytes_;
    std::size_t at_ = 1;  // past the kind
};

bool send(int channel, const std::string& bytes) {
    ssize_t sent;
    do {
        sent = ::send(channel, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent == static_cast<ssize_t>(bytes.size());
}

Packet factsPacket(const SourceFacts& facts) {
    Packet packet(kFacts);
    packet.put(facts.width).put(facts.height).put(static_cast<std::uint8_t>(facts.eightBit));
    packet.put(facts.ground.cellEast).put(facts.ground.cellNorth);
    packet.put(static_cast<std::uint8_t>(facts.ground.inMetres)).put(facts.ground.description);
    packet.put(static_cast<std::uint8_t>(facts.placed));
    for (const double value : facts.transform) {
        packet.put(value);
    }
    packet.put(facts.crsWkt).put(facts.metresPerUnit).put(facts.heightUnit).put(facts.heightNote);
    packet.put(facts.kind);
    packet.put(facts.overviews).put(facts.band);
    return packet;
}

SourceFacts unpackFacts(const std::string& bytes) {
    Unpacker in(bytes);
    SourceFacts facts;
    facts.width = in.get<int>();
    facts.height = in.get<int>();
    facts.eightBit = in.get<std::uint8_t>() != 0;
    facts.ground.cellEast = in.get<double>();
    facts.ground.cellNorth = in.get<double>();
    facts.ground.inMetres = in.get<std::uint8_t>() != 0;
    facts.ground.description = in.text();
    facts.placed = in.get<std::uint8_t>() != 0;
    for (double& value : facts.transform) {
        value = in.get<double>();
    }
    facts.crsWkt = in.text();
    facts.metresPerUnit = in.get<double>();
    facts.heightUnit = in.text();
    facts.heightNote = printable(in.text());
    facts.kind = in.text();
    facts.overviews = in.get<int>();
    facts.band = in.get<int>();
    const bool sane = in.finished() && facts.width >= kMinGridSide &&
                      facts.height >= kMinGridSide &&
                      static_cast<double>(facts.width) * facts.height <= kMaxSourceCells &&
                      std::isfinite(facts.ground.cellEast) && facts.ground.cellEast > 0.0 &&
                      std::isfinite(facts.ground.cellNorth) && facts.ground.cellNorth > 0.0 &&
                      std::isfinite(facts.metresPerUnit) && facts.metresPerUnit > 0.0 &&
                      facts.overviews >= 0 && facts.overviews <= kMaxOverviews && facts.band >= 1;
    if (!sane) {
        throw RasterError("the raster reader sent facts that do not add up");
    }
    return facts;
}

// The watch: limits' seconds, or less when GROUNDVIEW_STALL_SECONDS names a shorter time in
// seconds ("0.5"), so that a test sees a stall sooner; it never lengthens the watch, nor shortens
// it below two of the reader's progress intervals.
std::chrono::milliseconds stallWatch(const JailLimits& limits) {
    const std::chrono::milliseconds watch = std::chrono::seconds(limits.stallSeconds);
    const char* text = std::getenv("GROUNDVIEW_STALL_SECONDS");
    if (text == nullptr || *text == '\0') {
        return watch;
    }
    char* end = nullptr;
    const double seconds = std::strtod(text, &end);
    if (*end != '\0' || !(seconds > 0.0) || !(seconds * 1000.0 < watch.count())) {
        return watch;
    }
    return std::max(2 * std::chrono::duration_cast<std::chrono::milliseconds>(kProgressInterval),
                    std::chrono::milliseconds(static_cast<long long>(seconds * 1000.0)));
}

// The owner's word to the user when a read is slow, and when.
std::function<void()> slowHook;
std::chrono::milliseconds slowAfter{0};

// ---- The reader's side ----

struct ProgressReport {
    int channel;
    std::chrono::steady_clock::time_point last;
};

int CPL_STDCALL reportProgress(double /*done*/, const char* /*message*/, void* data) {
    auto* report = static_cast<ProgressReport*>(data);
    const auto now = std::chrono::steady_clock::now();
    if (now - report->last >= kProgressInterval) {
        report->last = now;
        send(report->channel, Packet(kProgress).bytes());
    }
    return TRUE;
}

// Keeps the reader's descriptors to its two channels, standard error and what it inherited
// read-only (PROJ's database among them); everything writable, a window system connection
// included, is closed.
void closeWritableDescriptors(int channel, int shared) {
    const int devNull = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (devNull >= 0) {
        dup2(devNull, STDIN_FILENO);
        dup2(devNull, STDOUT_FILENO);
        close(devNull);
    }
    const long most = sysconf(_SC_OPEN_MAX);
    const int last = most > 0 && most < INT_MAX ? static_cast<int>(most) : 1024;
    for (int fd = STDERR_FILENO + 1; fd < last; ++fd) {
        if (fd == channel || fd == shared) {
            continue;
        }
        const int flags = fcntl(fd, F_GETFL);
        if (flags >= 0 && (flags & O_ACCMODE) != O_RDONLY) {
            close(fd);
        }
    }
}

// The shared memory's first bytes, mapped writable; a request for more than the owner made
// room for is broken.
class SharedMapping {
  public:
    SharedMapping(int shared, long long bytes) : bytes_(static_cast<std::size_t>(bytes)) {
        struct stat status {};
        if (bytes < 1 || fstat(shared, &status) != 0 || status.st_size < bytes) {
            throw RasterError("the raster reader was sent a broken request");
        }
        mapped_ =
            mmap(nullptr, bytes_, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, shared, 0);
        if (mapped_ == MAP_FAILED) {
            throw std::bad_alloc();
        }
    }
    ~SharedMapping() { munmap(mapped_, bytes_); }
    SharedMapping(const SharedMapping&) = delete;
    SharedMapping& operator=(const SharedMapping&) = delete;
    template <typename Sample>
    Sample* as() const {
        return static_cast<Sample*>(mapped_);
    }

  private:
    std::size_t bytes_;
    void* mapped_;
};

void answerRead(const GdalSource& source, int channel, int shared, const std::string& request) {
    Unpacker in(request);
    SourceWindow window;
    window.x = in.get<double>();
    window.y = in.get<double>();
    window.width = in.get<double>();
    window.height = in.get<double>();
    const int columns = in.get<int>();
    const int rows = in.get<int>();
    const bool single = in.get<std::uint8_t>() != 0;
    if (!in.finished() || columns < 1 || rows < 1) {
        throw RasterError("the raster reader was sent a broken request");
    }
    const long long bytes = static_cast<long long>(columns) * static_cast<long long>(rows) *
                            static_cast<long long>(single ? sizeof(float) : sizeof(double));
    const SharedMapping mapped(shared, bytes);
    ProgressReport report{channel, std::chrono::steady_clock::now()};
    if (single) {
        source.read(window, columns, rows, mapped.as<float>(), columns, reportProgress, &report);
    } else {
        source.read(window, columns, rows, mapped.as<double>(), columns, reportProgress, &report);
    }
    send(channel, Packet(kDone).bytes());
}

void answerHalved(const GdalSource& source, int channel, int shared, const std::string& request) {
    Unpacker in(request);
    const int firstRow = in.get<int>();
    const int rowCount = in.get<int>();
    if (!in.finished() || firstRow < 0 || rowCount < 1 ||
        static_cast<long long>(firstRow) + rowCount > source.height()) {
        throw RasterError("the raster reader was sent a broken request");
    }
    const SharedMapping mapped(shared, halvedBytes(source.width(), rowCount));
    ProgressReport report{channel, std::chrono::steady_clock::now()};
    source.readHalved(firstRow, rowCount, mapped.as<float>(), reportProgress, &report);
    send(channel, Packet(kDone).bytes());
}

void failWith(int channel, Kind kind, const std::string& line) {
    send(channel, Packet(kind).put(line.substr(0, kMaxMessage / 2)).bytes());
}

[[noreturn]] void serve(const SourceNames& names, int channel, int shared, pid_t owner,
                        const JailLimits& limits) {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        std::signal(signal, SIG_DFL);
    }
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    // The reader never outlives its owner, however the owner ends.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != owner) {
        _exit(1);
    }
    closeWritableDescriptors(channel, shared);
    const std::string& shown = names.shown;
    try {
        confineReader(foldersOf(names), limits);
        // Within the folders already: the files the source names are found, and all else shut.
        const ReadRights rights = readRightsOf(names);
        narrowReader(rights.files, rights.folders);
        ProgressReport joining{channel, std::chrono::steady_clock::now()};
        const auto note = [channel](const std::string& line) {
            send(channel, Packet(kNote).put(line.substr(0, kMaxMessage / 2)).bytes());
        };
        const GdalSource source(names, note, reportProgress, &joining);
        if (!send(channel, factsPacket(source.facts()).bytes())) {
            _exit(1);
        }
        std::string request(kMaxMessage, '\0');
        for (;;) {
            const ssize_t size = recv(channel, request.data(), request.size(), 0);
            if (size < 0 && errno == EINTR) {
                continue;
            }
            if (size <= 0) {
                _exit(0);  // the owner is done with the source
            }
            const std::string message = request.substr(0, static_cast<std::size_t>(size));
            if (message[0] != kRead && message[0] != kReadHalved) {
                _exit(1);
            }
            try {
                if (message[0] == kRead) {
                    answerRead(source, channel, shared, message);
                } else {
                    answerHalved(source, channel, shared, message);
                }
            } catch (const RasterError& error) {
                failWith(channel, kFailed, error.what());
            }
        }
    } catch (const NoRaster& error) {
        failWith(channel, kNoRaster, error.what());
    } catch (const NotARaster& error) {
        failWith(channel, kNotARaster, error.what());
    } catch (const RasterError& error) {
        failWith(channel, kFailed, error.what());
    } catch (const std::bad_alloc&) {
        failWith(channel, kFailed,
                 "cannot read " + shown + ": it needs more memory than a reader is given (" +
                     std::to_string(limits.memoryBytes >> 20) + " MB)");
    } catch (const std::exception& error) {
        failWith(channel, kFailed, "cannot read " + shown + ": " + printable(error.what()));
    }
    _exit(1);
}

std::string howItEnded(int status, const JailLimits& limits) {
    if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        if (signal == SIGXCPU) {
            return "its reader used up its " + std::to_string(limits.cpuSeconds) +
                   " s of processor time";
        }
        const char* name = strsignal(signal);
        return "its reader was stopped by signal " + std::to_string(signal) +
               (name != nullptr ? std::string(" (") + name + ")" : std::string());
    }
    return "its reader ended unexpectedly";
}

}  // namespace

void whenReadingIsSlow(std::function<void()> hook, std::chrono::milliseconds after) {
    slowHook = std::move(hook);
    slowAfter = after;
}

ReaderProcess::ReaderProcess(const SourceNames& names, const JailLimits& limits)
    : shown_(names.shown), limits_(limits), stallWatch_(stallWatch(limits)) {
    // GDAL set up once in the owner: each reader then starts with its drivers registered.
    useGdal();
    warnWithoutLandlock();
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
        throw RasterError("cannot start a raster reader: " + std::string(std::strerror(errno)));
    }
    shared_ = memfd_create("groundview-samples", MFD_CLOEXEC);
    if (shared_ < 0) {
        close(pair[0]);
        close(pair[1]);
        throw RasterError("cannot start a raster reader: " + std::string(std::strerror(errno)));
    }
    const pid_t owner = getpid();
    child_ = fork();
    if (child_ == 0) {
        close(pair[0]);
        serve(names, pair[1], shared_, owner, limits);
    }
    close(pair[1]);
    channel_ = pair[0];
    if (child_ < 0) {
        const int error = errno;
        close(channel_);
        close(shared_);
        throw RasterError("cannot start a raster reader: " + std::string(std::strerror(error)));
    }
    facts_ = unpackFacts(await());
    // The reader refused such a coordinate system already; one it let through is not taken.
    try {
        refuseGridsOutsideProjData(facts_.crsWkt, shown_);
    } catch (const RasterError& error) {
        stop(error.what());
    }
}

ReaderProcess::~ReaderProcess() {
    if (child_ > 0) {
        kill(child_, SIGKILL);
        while (waitpid(child_, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    if (channel_ >= 0) {
        close(channel_);
    }
    if (shared_ >= 0) {
        close(shared_);
    }
}

void ReaderProcess::stop(const std::string& message, char kind) {
    if (child_ > 0) {
        kill(child_, SIGKILL);
        while (waitpid(child_, nullptr, 0) < 0 && errno == EINTR) {
        }
        child_ = -1;
    }
    if (kind == kNoRaster) {
        throw NoRaster(message);
    }
    if (kind == kNotARaster) {
        throw NotARaster(message);
    }
    throw RasterError(message);
}

std::string ReaderProcess::await() {
    using Clock = std::chrono::steady_clock;
    std::string buffer(kMaxMessage, '\0');
    auto deadline = Clock::now() + stallWatch_;
    const auto slow = Clock::now() + slowAfter;
    for (;;) {
        const auto now = Clock::now();
        if (slowHook && now >= slow) {
            const std::function<void()> hook = std::move(slowHook);
            slowHook = nullptr;
            hook();
            continue;
        }
        const auto until = slowHook ? std::min(deadline, slow) : deadline;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - now);
        pollfd ready{channel_, POLLIN, 0};
        const int polled = left.count() > 0 ? poll(&ready, 1, static_cast<int>(left.count())) : 0;
        if (polled < 0 && errno == EINTR) {
            continue;
        }
        if (polled == 0 && slowHook && Clock::now() >= slow) {
            continue;
        }
        if (polled == 0) {
            stop("reading " + shown_ + " stalled (a FIFO or a device in its way?)");
        }
        const ssize_t size = polled > 0 ? recv(channel_, buffer.data(), buffer.size(), 0) : -1;
        if (size < 0 && errno == EINTR) {
            continue;
        }
        if (size <= 0) {
            int status = 0;
            while (waitpid(child_, &status, 0) < 0 && errno == EINTR) {
            }
            child_ = -1;
            throw RasterError("cannot read " + shown_ + ": " + howItEnded(status, limits_));
        }
        buffer.resize(static_cast<std::size_t>(size));
        switch (buffer[0]) {
            case kProgress:
                deadline = Clock::now() + stallWatch_;
                buffer.resize(kMaxMessage);
                continue;
            case kNote:
                tell({}, printable(Unpacker(buffer).text()));
                buffer.resize(kMaxMessage);
                continue;
            case kNoRaster:
            case kNotARaster:
            case kFailed: {
                const std::string line = printable(Unpacker(buffer).text());
                stop(line, buffer[0]);  // the reader is done either way
            }
            default:
                return buffer;
        }
    }
}

SharedSamples::~SharedSamples() {
    if (values_ != nullptr) {
        munmap(const_cast<float*>(values_), count_ * sizeof(float));
    }
    if (reader_ != nullptr) {
        reader_->giveBack();
    }
}

void ReaderProcess::giveBack() {
    lent_ = false;
    // A large read's pages go back rather than wait for the next read.
    if (sharedBytes_ > kKeptSharedBytes && ftruncate(shared_, 0) == 0) {
        sharedBytes_ = 0;
    }
}

const void* ReaderProcess::readMapped(const std::string& request, long long bytes) {
    if (child_ <= 0) {
        throw RasterError("cannot read " + shown_ + ": its reader has stopped");
    }
    if (lent_) {
        throw std::logic_error("the raster reader's samples are still held");
    }
    // Grown, never emptied, between reads: the pages already there are written over.
    if (bytes > sharedBytes_) {
        if (ftruncate(shared_, bytes) != 0) {
            throw RasterError("cannot read " + shown_ + ": no memory for " +
                              std::to_string(bytes >> 20) + " MB of samples");
        }
        sharedBytes_ = bytes;
    }
    if (!send(channel_, request)) {
        await();  // says how the reader ended
    }
    const std::string answer = await();
    if (answer[0] != kDone) {
        stop("the raster reader of " + shown_ + " sent a broken message");
    }
    void* mapped = mmap(nullptr, static_cast<std::size_t>(bytes), PROT_READ,
                        MAP_SHARED | MAP_POPULATE, shared_, 0);
    if (mapped == MAP_FAILED) {
        throw RasterError("cannot read " + shown_ + ": " + std::strerror(errno));
    }
    return mapped;
}

namespace {

// A read's request for columns x rows samples of sampleBytes each, and their bytes.
std::pair<std::string, long long> windowRequest(const SourceWindow& window, int columns, int rows,
                                                std::size_t sampleBytes) {
    const long long values = static_cast<long long>(columns) * static_cast<long long>(rows);
    if (columns < 1 || rows < 1 || values > kMaxSourceCells) {
        throw std::logic_error("a read of the raster reader needs a window of 1 x 1 or more");
    }
    Packet request(kRead);
    request.put(window.x).put(window.y).put(window.width).put(window.height).put(columns).put(rows);
    request.put(static_cast<std::uint8_t>(sampleBytes == sizeof(float)));
    return {request.bytes(), values * static_cast<long long>(sampleBytes)};
}

}  // namespace

SharedSamples ReaderProcess::readShared(const SourceWindow& window, int columns, int rows) {
    const auto [request, bytes] = windowRequest(window, columns, rows, sizeof(float));
    const void* mapped = readMapped(request, bytes);
    lent_ = true;
    return SharedSamples(static_cast<const float*>(mapped),
                         static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows), this);
}

SharedSamples ReaderProcess::readHalved(int firstRow, int rowCount) {
    if (firstRow < 0 || rowCount < 1 ||
        static_cast<long long>(firstRow) + rowCount > facts_.height) {
        throw std::logic_error("a halved read of the raster reader needs rows of the source");
    }
    Packet request(kReadHalved);
    request.put(firstRow).put(rowCount);
    const long long bytes = halvedBytes(facts_.width, rowCount);
    const void* mapped = readMapped(request.bytes(), bytes);
    lent_ = true;
    return SharedSamples(static_cast<const float*>(mapped),
                         static_cast<std::size_t>(bytes) / sizeof(float), this);
}

void ReaderProcess::read(const SourceWindow& window, int columns, int rows, double* out,
                         std::ptrdiff_t lineStride) {
    if (lineStride < columns) {
        throw std::logic_error("a read of the raster reader needs rows at least a row apart");
    }
    const auto [request, bytes] = windowRequest(window, columns, rows, sizeof(double));
    const auto* samples = static_cast<const double*>(readMapped(request, bytes));
    // The reader's numbers are taken as any file's would be.
    for (int row = 0; row < rows; ++row) {
        const double* from = samples + static_cast<std::ptrdiff_t>(row) * columns;
        double* to = out + row * lineStride;
        for (int column = 0; column < columns; ++column) {
            to[column] = missingHeight(from[column]) ? std::numeric_limits<double>::quiet_NaN()
                                                     : from[column];
        }
    }
    munmap(const_cast<double*>(samples), static_cast<std::size_t>(bytes));
    giveBack();
}

}  // namespace raster
