#include "pyramid_cache.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <limits>
#include <sstream>

#include "local_file.h"
#include "mosaic.h"
#include "printable.h"
#include "pyramid.h"
#include "raster_error.h"
#include "world.h"

namespace raster {

namespace {

constexpr long long kMaxDefaultLimit = 20LL << 30;  // bytes
constexpr int kDefaultLimitPercent = 10;            // of the disk holding the cache
constexpr int kHashDigits = 16;
constexpr const char* kPyramidSuffix = ".tif";
constexpr const char* kSourceSuffix = ".source";
// A VRT is hashed whole up to this size; a larger one is no VRT the reader accepts anyway, and
// its size, times and inode still stand for it.
constexpr std::size_t kMaxHashedVrtBytes = 64U << 20;

// FNV-1a over everything that names a source or its contents.
class Fingerprint {
  public:
    void add(const char* bytes, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            hash_ = (hash_ ^ static_cast<unsigned char>(bytes[i])) * 0x100000001b3ULL;
        }
    }
    void add(const std::string& text) {
        add(text.data(), text.size());
        hash_ = (hash_ ^ 0xffU) * 0x100000001b3ULL;  // ends each field: "ab","c" is not "a","bc"
    }
    void add(long long number) { add(std::to_string(number)); }
    std::string hex() const {
        char text[kHashDigits + 1];
        std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash_));
        return text;
    }

  private:
    std::uint64_t hash_ = 0xcbf29ce484222325ULL;
};

long long nanoseconds(const timespec& time) {
    return static_cast<long long>(time.tv_sec) * 1000000000LL + time.tv_nsec;
}

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Adds a VRT's bytes, read through a descriptor that follows no link at its last step.
void addContents(Fingerprint& fingerprint, const std::string& path) {
    const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (descriptor < 0) {
        throw RasterError("cannot read " + printable(path) + ": " + std::strerror(errno));
    }
    char buffer[1 << 16];
    std::size_t total = 0;
    for (ssize_t count; (count = read(descriptor, buffer, sizeof buffer)) > 0;) {
        fingerprint.add(buffer, static_cast<std::size_t>(count));
        total += static_cast<std::size_t>(count);
        if (total > kMaxHashedVrtBytes) {
            break;
        }
    }
    close(descriptor);
}

// "<source>" and "<contents>" of a pyramid's name; the files are those the reader reads.
struct Key {
    std::string source;
    std::string contents;
    std::vector<std::string> realPaths;
    long long sourceBytes = 0;
};

Key keyOf(const std::vector<std::string>& sourcePaths, int band) {
    Key key;
    Fingerprint source;
    for (const std::string& path : sourcePaths) {
        std::string real = world::realPathOf(path);
        if (real.empty()) {
            throw RasterError("cannot read " + printable(path) + ": " + std::strerror(errno));
        }
        source.add(real);
        key.realPaths.push_back(std::move(real));
    }
    source.add(band);
    key.source = source.hex();

    Fingerprint contents;
    contents.add(kPyramidVersion);
    contents.add(band);
    for (const std::string& file : readRightsOf(nameSources(sourcePaths)).files) {
        struct stat status {};
        if (stat(file.c_str(), &status) != 0) {
            throw RasterError("cannot read " + printable(file) + ": " + std::strerror(errno));
        }
        contents.add(file);
        for (const long long number :
             {static_cast<long long>(status.st_dev), static_cast<long long>(status.st_ino),
              static_cast<long long>(status.st_size), nanoseconds(status.st_mtim),
              nanoseconds(status.st_ctim)}) {
            contents.add(number);
        }
        if (S_ISREG(status.st_mode) && looksLikeVrt(file)) {
            addContents(contents, file);
        }
        key.sourceBytes += static_cast<long long>(status.st_size);
    }
    key.contents = contents.hex();
    return key;
}

bool isHex(const std::string& text, std::size_t from, std::size_t count) {
    return text.size() >= from + count &&
           std::all_of(text.begin() + static_cast<std::ptrdiff_t>(from),
                       text.begin() + static_cast<std::ptrdiff_t>(from + count), [](char c) {
                           return std::isdigit(static_cast<unsigned char>(c)) ||
                                  (c >= 'a' && c <= 'f');
                       });
}

// "<source>-<contents>" when name is one of our files with suffix, "" otherwise.
std::string stemOf(const std::string& name, const std::string& suffix) {
    const std::size_t stem = 2 * kHashDigits + 1;
    if (name.size() != stem + suffix.size() || !endsWith(name, suffix) ||
        !isHex(name, 0, kHashDigits) || name[kHashDigits] != '-' ||
        !isHex(name, kHashDigits + 1, kHashDigits)) {
        return "";
    }
    return name.substr(0, stem);
}

// The names of our own files in the cache folder: regular, not links.
std::vector<std::string> ourFiles(const std::string& folder) {
    std::vector<std::string> names;
    DIR* listing = opendir(folder.c_str());
    if (listing == nullptr) {
        return names;
    }
    while (const dirent* entry = readdir(listing)) {
        const std::string name = entry->d_name;
        struct stat status {};
        if ((!stemOf(name, kPyramidSuffix).empty() || !stemOf(name, kSourceSuffix).empty()) &&
            lstat(world::inFolder(folder, name).c_str(), &status) == 0 && S_ISREG(status.st_mode)) {
            names.push_back(name);
        }
    }
    closedir(listing);
    return names;
}

// Removes the files of the source part source whose contents are not contents.
void removeStale(const std::string& folder, const std::string& source,
                 const std::string& contents) {
    for (const std::string& name : ourFiles(folder)) {
        if (name.compare(0, kHashDigits, source) == 0 &&
            name.compare(kHashDigits + 1, kHashDigits, contents) != 0) {
            unlink(world::inFolder(folder, name).c_str());
        }
    }
}

// The pyramid of key when it has been built, its last use recorded; the same source's stale
// pyramids are removed meanwhile.
std::optional<std::string> existingPyramid(const Key& key, const std::string& folder) {
    removeStale(folder, key.source, key.contents);
    std::string path = world::inFolder(folder, key.source + "-" + key.contents + kPyramidSuffix);
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return std::nullopt;
    }
    // The last use, for the cache's eviction; a read-only cache keeps the time it has.
    const timespec now[2] = {{0, UTIME_OMIT}, {0, UTIME_NOW}};
    utimensat(AT_FDCWD, path.c_str(), now, AT_SYMLINK_NOFOLLOW);
    return path;
}

// Tells once on standard error that a limit setting is refused.
void refuseSetting(const std::string& where, const std::string& text) {
    std::cerr << "note: " << where << " holds " << printable(text)
              << ", no byte count (like 500M or 20G); the cache's default limit is used"
              << std::endl;
}

// $variable/groundview when variable names an absolute path, else $HOME/underHome/groundview;
// "" when neither does. Relative paths are invalid there and ignored.
std::string userFolder(const char* variable, const char* underHome) {
    const char* named = std::getenv(variable);
    if (named != nullptr && named[0] == '/') {
        return world::inFolder(named, "groundview");
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        return world::inFolder(world::inFolder(home, underHome), "groundview");
    }
    return "";
}

long long defaultLimit() {
    // The disk of the cache, or of its nearest folder already there.
    std::string folder;
    try {
        folder = pyramidCacheFolder();
    } catch (const RasterError&) {
        return kMaxDefaultLimit;
    }
    struct statvfs disk {};
    while (statvfs(folder.c_str(), &disk) != 0) {
        const std::string parent = world::folderOf(folder);
        if (parent == folder) {
            return kMaxDefaultLimit;
        }
        folder = parent;
    }
    const long double bytes =
        static_cast<long double>(disk.f_blocks) * static_cast<long double>(disk.f_frsize);
    return static_cast<long long>(
        std::min<long double>(bytes * kDefaultLimitPercent / 100, kMaxDefaultLimit));
}

// What a pyramid of source is expected to take: Float32 level 1 and its overviews (a third more),
// or the source's own bytes when fewer, as a compressed or sparse source makes a pyramid as small;
// halved, as the lossless compression of heights at least halves them. The pyramid once built is
// held to the limit again.
long long estimatedBytes(const SourceFacts& facts, long long sourceBytes) {
    const long double samples = static_cast<long double>((facts.width + 1) / 2) *
                                static_cast<long double>((facts.height + 1) / 2);
    const long double bound = samples * sizeof(float) * 4 / 3;
    return static_cast<long long>(std::min<long double>(bound, sourceBytes) / 2);
}

// Why the pyramid of source, keyed as key, is not built: its estimate is over limit; "" when it
// is not.
std::string overLimit(const ElevationSource& source, const Key& key, long long limit) {
    const long long estimate = estimatedBytes(source.facts(), key.sourceBytes);
    if (estimate <= limit) {
        return "";
    }
    return "the pyramid of " + source.shown() + " would take about " + byteText(estimate) +
           ", more than the cache's limit of " + byteText(limit);
}

// Removes the least recently used pyramids, never keep, until the cache holds at most limit
// bytes; the bytes it holds then.
long long evict(long long limit, const std::string& keep) {
    std::vector<CachedPyramid> pyramids = cachedPyramids();
    long long total = 0;
    for (const CachedPyramid& pyramid : pyramids) {
        total += pyramid.bytes;
    }
    for (const CachedPyramid& pyramid : pyramids) {
        if (total <= limit) {
            break;
        }
        if (pyramid.path != keep) {
            removeCachedPyramid(pyramid);
            total -= pyramid.bytes;
        }
    }
    return total;
}

// path against the working folder, its links as they are.
std::string absolutePath(const std::string& path) {
    char here[4096];
    return path.empty() || path[0] == '/' || getcwd(here, sizeof here) == nullptr
               ? path
               : world::inFolder(here, path);
}

// Writes what the user named beside the pyramid, whole or not at all: the first line as the
// user named the source, then each real path.
void recordSource(const std::string& path, const std::vector<std::string>& named,
                  const std::vector<std::string>& realPaths) {
    std::vector<std::string> absolute;
    for (const std::string& name : named) {
        absolute.push_back(absolutePath(name));
    }
    std::string text = shownName(absolute) + "\n";
    for (const std::string& real : realPaths) {
        text += printable(real) + "\n";
    }
    const std::string temporary = path + ".new";
    const int descriptor = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (descriptor < 0) {
        throw CacheUnwritable("cannot write " + printable(path) + ": " + std::strerror(errno));
    }
    const bool written =
        write(descriptor, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    const int error = errno;
    close(descriptor);
    if (!written || rename(temporary.c_str(), path.c_str()) != 0) {
        unlink(temporary.c_str());
        throw CacheUnwritable("cannot write " + printable(path) + ": " +
                              std::strerror(written ? errno : error));
    }
}

}  // namespace

std::string pyramidCacheFolder() {
    if (std::string folder = userFolder("XDG_CACHE_HOME", ".cache"); !folder.empty()) {
        return folder;
    }
    throw RasterError(
        "cannot find a cache folder for the pyramid: neither XDG_CACHE_HOME nor HOME names one");
}

std::optional<std::string> existingPyramid(const std::vector<std::string>& sourcePaths, int band) {
    return existingPyramid(keyOf(sourcePaths, band), pyramidCacheFolder());
}

std::optional<long long> byteCount(const std::string& text) {
    std::size_t at = text.find_first_not_of(" \t\n");
    std::size_t end = text.find_last_not_of(" \t\n");
    if (at == std::string::npos || !std::isdigit(static_cast<unsigned char>(text[at]))) {
        return std::nullopt;
    }
    constexpr long long kMax = 1LL << 62;
    long long value = 0;
    for (; at <= end && std::isdigit(static_cast<unsigned char>(text[at])); ++at) {
        value = value * 10 + (text[at] - '0');
        if (value > kMax) {
            return std::nullopt;
        }
    }
    if (at <= end) {
        const std::string units = "KMG";
        const std::size_t unit = units.find(static_cast<char>(std::toupper(text[at])));
        if (at != end || unit == std::string::npos) {
            return std::nullopt;
        }
        for (std::size_t step = 0; step <= unit; ++step) {
            value *= 1024;
            if (value > kMax) {
                return std::nullopt;
            }
        }
    }
    return value;
}

long long cacheLimit() {
    static bool told = false;  // each refused setting is told once a run
    const char* setting = std::getenv("GROUNDVIEW_CACHE_LIMIT");
    if (setting != nullptr && *setting != '\0') {
        if (const auto bytes = byteCount(setting)) {
            return *bytes;
        }
        if (!told) {
            refuseSetting("GROUNDVIEW_CACHE_LIMIT", setting);
        }
        told = true;
        return defaultLimit();
    }
    const std::string folder = userFolder("XDG_CONFIG_HOME", ".config");
    if (!folder.empty()) {
        const std::string file = world::inFolder(folder, "cache-limit");
        std::ifstream in(file);
        std::string text;
        if (in && std::getline(in, text)) {
            if (const auto bytes = byteCount(text)) {
                return *bytes;
            }
            if (!told) {
                refuseSetting(file, text);
            }
            told = true;
        }
    }
    return defaultLimit();
}

std::string byteText(long long bytes) {
    if (bytes < 1024) {
        return std::to_string(bytes) + " bytes";
    }
    const char* units[] = {"KB", "MB", "GB", "TB"};
    double value = static_cast<double>(bytes) / 1024;
    int unit = 0;
    for (; value >= 1024 && unit < 3; ++unit) {
        value /= 1024;
    }
    char text[32];
    std::snprintf(text, sizeof text, value < 10 ? "%.1f %s" : "%.0f %s", value, units[unit]);
    return text;
}

std::vector<CachedPyramid> cachedPyramids() {
    const std::string folder = pyramidCacheFolder();
    std::vector<CachedPyramid> pyramids;
    for (const std::string& name : ourFiles(folder)) {
        const std::string stem = stemOf(name, kPyramidSuffix);
        struct stat status {};
        CachedPyramid pyramid;
        pyramid.path = world::inFolder(folder, name);
        if (stem.empty() || lstat(pyramid.path.c_str(), &status) != 0) {
            continue;
        }
        pyramid.bytes = static_cast<long long>(status.st_size);
        pyramid.lastUse = status.st_mtim;
        pyramid.source = "?";
        const std::string record = world::inFolder(folder, stem + kSourceSuffix);
        std::ifstream in(record);
        struct stat recordStatus {};
        std::string line;
        if (lstat(record.c_str(), &recordStatus) == 0 && S_ISREG(recordStatus.st_mode) && in &&
            std::getline(in, line)) {
            pyramid.source = printable(line);
            while (std::getline(in, line)) {
                pyramid.realPaths.push_back(line);
            }
        }
        pyramids.push_back(std::move(pyramid));
    }
    std::sort(pyramids.begin(), pyramids.end(), [](const CachedPyramid& a, const CachedPyramid& b) {
        const long long aUse = nanoseconds(a.lastUse);
        const long long bUse = nanoseconds(b.lastUse);
        return aUse != bUse ? aUse < bUse : a.path < b.path;
    });
    return pyramids;
}

bool isPyramidOf(const CachedPyramid& pyramid, const std::string& source) {
    std::string real = world::realPathOf(source);
    real = printable(real.empty() ? absolutePath(source) : real);
    return std::find(pyramid.realPaths.begin(), pyramid.realPaths.end(), real) !=
           pyramid.realPaths.end();
}

void removeCachedPyramid(const CachedPyramid& pyramid) {
    const std::string stem = pyramid.path.substr(0, pyramid.path.size() - 4);
    unlink(pyramid.path.c_str());
    unlink((stem + kSourceSuffix).c_str());
}

CachedPyramidOf cachedPyramidOf(const ElevationSource& source,
                                const std::function<void(double share)>& progress) {
    const Key key = keyOf(source.paths(), source.facts().band);
    std::string folder;
    try {
        folder = pyramidCacheFolder();
    } catch (const RasterError& error) {
        return {"", error.what()};
    }
    const long long limit = cacheLimit();
    if (auto existing = existingPyramid(key, folder)) {
        evict(limit, *existing);  // a limit lowered since holds from the next open
        return {*existing, "", false};
    }
    const std::string stem = world::inFolder(folder, key.source + "-" + key.contents);
    const std::string out = stem + kPyramidSuffix;
    if (std::string over = overLimit(source, key, limit); !over.empty()) {
        return {"", std::move(over)};
    }
    try {
        // Built, then its source recorded: a pyramid without a record is shown as "?"; a record
        // without its pyramid is stale and goes with the source's next build.
        buildPyramid(source, out, progress);
        recordSource(stem + kSourceSuffix, source.paths(), key.realPaths);
    } catch (const CacheUnwritable& error) {
        unlink(out.c_str());
        return {"", error.what()};
    }
    removeStale(folder, key.source, key.contents);
    struct stat status {};
    const long long bytes =
        lstat(out.c_str(), &status) == 0 ? static_cast<long long>(status.st_size) : 0;
    if (bytes > limit) {
        unlink(out.c_str());
        unlink((stem + kSourceSuffix).c_str());
        return {"", "the pyramid of " + source.shown() + " takes " + byteText(bytes) +
                        ", more than the cache's limit of " + byteText(limit)};
    }
    evict(limit, out);
    return {out, "", true};
}

std::string pyramidOverLimit(const ElevationSource& source) {
    return overLimit(source, keyOf(source.paths(), source.facts().band), cacheLimit());
}

}  // namespace raster
