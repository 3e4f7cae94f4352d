// groundtool pyramid: builds ahead of time the smaller copies of a large elevation raster that
// the viewer otherwise builds the first time it opens the raster.

#include <unistd.h>

#include <iostream>
#include <memory>
#include <ostream>

#include "command.h"
#include "elevation_source.h"
#include "printable.h"
#include "progress_line.h"
#include "pyramid_cache.h"
#include "tool_error.h"
#include "view_settings_cli.h"

namespace groundtool {

namespace {

int runPyramid(const std::string& path, int band, std::ostream& out, std::ostream& err) {
    const raster::ElevationSource source({path}, {}, band);
    raster::CachedPyramidOf cached;
    {
        ProgressLine line(err, isatty(STDERR_FILENO) == 1,
                          "building the pyramid of " + source.shown() + ": ");
        cached = raster::cachedPyramidOf(source, [&line](double share) { line.show(share); });
    }
    if (cached.path.empty()) {
        throw ToolError(cached.withoutPyramid);
    }
    if (!cached.built) {
        err << "groundtool: the pyramid of " << source.shown() << " is up to date" << std::endl;
    }
    out << printable(cached.path) << "\n";
    return kExitSuccess;
}

}  // namespace

Command addPyramidCommand(CLI::App& app) {
    auto source = std::make_shared<std::string>();
    CLI::App* command = app.add_subcommand(
        "pyramid",
        "Build ahead of time the smaller copies through which groundview shows an elevation "
        "raster too large to read whole (one without overviews of its own): halves of it down "
        "to 64 samples a side, kept in $XDG_CACHE_HOME/groundview (~/.cache/groundview) for as "
        "long as the raster and every file it reads stay as they are, within the cache's limit "
        "(see groundtool cache). Prints the pyramid's path; does nothing when it is up to date.");
    command->add_option("source", *source, "the height raster")->required();
    auto band = std::make_shared<int>(0);
    raster::addBandOption(*command, *band);
    return {command, [source, band] { return runPyramid(*source, *band, std::cout, std::cerr); }};
}

}  // namespace groundtool
