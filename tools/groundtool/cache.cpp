// groundtool cache: lists the pyramids kept in the user's cache, or removes them.

#include <ctime>
#include <iostream>
#include <memory>
#include <ostream>

#include "command.h"
#include "printable.h"
#include "pyramid_cache.h"
#include "tool_error.h"

namespace groundtool {

namespace {

std::string pyramidCount(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " pyramid" : " pyramids");
}

// "2026-12-08 18:31", local time.
std::string dayAndTime(const timespec& time) {
    std::tm local{};
    localtime_r(&time.tv_sec, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
    return text;
}

// One line a pyramid, least recently used first: size, last use, source; then the total.
int listCache(std::ostream& out) {
    const std::vector<raster::CachedPyramid> pyramids = raster::cachedPyramids();
    long long total = 0;
    for (const raster::CachedPyramid& pyramid : pyramids) {
        const std::string size = raster::byteText(pyramid.bytes);
        out << std::string(size.size() < 10 ? 10 - size.size() : 0, ' ') << size << "  "
            << dayAndTime(pyramid.lastUse) << "  " << pyramid.source << "\n";
        total += pyramid.bytes;
    }
    out << pyramidCount(pyramids.size()) << ", " << raster::byteText(total) << " of at most "
        << raster::byteText(raster::cacheLimit()) << " in "
        << printable(raster::pyramidCacheFolder()) << "\n";
    return kExitSuccess;
}

// Removes every pyramid, or those of source, even one since removed.
int cleanCache(const std::string& source, std::ostream& out) {
    std::size_t removed = 0;
    long long bytes = 0;
    for (const raster::CachedPyramid& pyramid : raster::cachedPyramids()) {
        if (source.empty() || raster::isPyramidOf(pyramid, source)) {
            raster::removeCachedPyramid(pyramid);
            ++removed;
            bytes += pyramid.bytes;
        }
    }
    if (removed == 0 && !source.empty()) {
        out << "no pyramid of " << printable(source) << " in the cache\n";
        return kExitSuccess;
    }
    out << "removed " << pyramidCount(removed) << ", " << raster::byteText(bytes) << "\n";
    return kExitSuccess;
}

}  // namespace

Command addCacheCommand(CLI::App& app) {
    CLI::App* command = app.add_subcommand(
        "cache",
        "List the pyramids groundview keeps in $XDG_CACHE_HOME/groundview (~/.cache/groundview): "
        "size, last use and source, least recently used first, the first to go when a new one "
        "needs room. The cache holds at most GROUNDVIEW_CACHE_LIMIT bytes (K, M or G "
        "accepted), else what $XDG_CONFIG_HOME/groundview/cache-limit (~/.config) holds, else the "
        "smaller of 10 % of its disk and 20 GB; a source whose pyramid would not fit is shown "
        "without one.");
    command->require_subcommand(0, 1);
    command->add_subcommand("list", "List the pyramids (the same as groundtool cache alone).");
    CLI::App* clean = command->add_subcommand(
        "clean", "Remove every pyramid, or those of SOURCE; they are built again when needed.");
    auto source = std::make_shared<std::string>();
    clean->add_option("SOURCE", *source, "the raster, folder or VRT whose pyramids go");
    return {command, [clean, source] {
                return *clean ? cleanCache(*source, std::cout) : listCache(std::cout);
            }};
}

}  // namespace groundtool
