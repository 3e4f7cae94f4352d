#include "command_line.h"

#include <sys/stat.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <ostream>

#include "elevation_keys.h"
#include "jail.h"
#include "open_world.h"
#include "printable.h"
#include "view_settings_cli.h"

#ifndef GROUNDVIEW_EXAMPLE_DIR
#define GROUNDVIEW_EXAMPLE_DIR "/usr/share/groundview/example"
#endif

namespace app {

namespace {

// freeglut's X options; the first two take a value.
bool isGlutOption(const std::string& word, bool& takesValue) {
    takesValue = word == "-display" || word == "-geometry";
    return takesValue || word == "-direct" || word == "-indirect" || word == "-iconic" ||
           word == "-gldebug" || word == "-sync";
}

// One side of a window size: a plain decimal from 1 to kMaxWindowSide.
bool parseSide(const std::string& digits, int& value) {
    if (digits.empty() || digits.size() > 5 ||
        digits.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    value = std::atoi(digits.c_str());
    return value >= 1 && value <= kMaxWindowSide;
}

// "WIDTHxHEIGHT", each a plain decimal from 1 to kMaxWindowSide.
bool parseWindowSize(const std::string& text, int& width, int& height) {
    const std::size_t x = text.find('x');
    return x != std::string::npos && parseSide(text.substr(0, x), width) &&
           parseSide(text.substr(x + 1), height);
}

// X's geometry "[=][WIDTHxHEIGHT][{+-}X{+-}Y]": whatever size it gives is held to the same
// limits as --window, since a larger one makes the rasteriser allocate beyond its means.
bool geometrySizeAllowed(std::string geometry) {
    if (!geometry.empty() && geometry.front() == '=') {
        geometry.erase(0, 1);
    }
    const std::string size = geometry.substr(0, geometry.find_first_of("+-"));
    int width = 0;
    int height = 0;
    return size.empty() || parseWindowSize(size, width, height);
}

// The world's terrain file and folder, or its rasters; an empty string when WORLD is usable, else
// why not.
std::string resolveWorld(const std::vector<std::string>& worlds, ViewerOptions& options) {
    for (const std::string& world : worlds) {
        if (world.empty()) {
            return "WORLD is empty; name a folder, a terrain file or rasters";
        }
        struct stat status {};
        if (stat(world.c_str(), &status) != 0) {
            return printable(world) + ": " + std::strerror(errno);
        }
        if (!S_ISDIR(status.st_mode) && !world::notRegularReason(status.st_mode).empty()) {
            return printable(world) + ": neither a folder nor a regular file";
        }
    }
    if (const std::string problem = worldsProblem(worlds); !problem.empty()) {
        return problem;
    }
    const std::string& first = worlds.front();
    options.elevation = worlds.size() > 1 || worldKind(first) == WorldKind::raster;
    if (options.elevation) {
        options.rasters = worlds;
        options.terrainPath = first;
        options.worldFolder = world::folderOf(first);
    } else if (struct stat status{}; stat(first.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
        options.worldFolder = first;
        options.terrainPath = world::terrainPath(first);
    } else {
        options.terrainPath = first;
        options.worldFolder = world::folderOf(first);
    }
    return "";
}

// The GLUT options go aside for glutInit; the rest is returned for our own parser.
std::string setGlutOptionsAside(int argc, const char* const* argv, ViewerOptions& options,
                                std::vector<std::string>& ours,
                                std::optional<std::string>& windowSize) {
    for (int i = 1; i < argc; ++i) {
        bool takesValue = false;
        const std::string word = argv[i];
        // The window's size can only be attached with '=', so "--window alps.3dt" opens
        // alps.3dt; CLI11 sees a plain flag.
        const std::string windowPrefix = "--window=";
        if (word.compare(0, windowPrefix.size(), windowPrefix) == 0) {
            windowSize = word.substr(windowPrefix.size());
            ours.push_back("--window");
        } else if (isGlutOption(word, takesValue)) {
            options.glutArguments.push_back(word);
            if (!takesValue) {
                continue;
            }
            if (i + 1 >= argc) {
                return word + " needs a value";
            }
            const std::string value = argv[++i];
            if (word == "-geometry" && !geometrySizeAllowed(value)) {
                return "-geometry takes sizes from 1 to " + std::to_string(kMaxWindowSide) +
                       ", not \"" + printable(value) + "\"";
            }
            options.glutArguments.push_back(value);
        } else {
            ours.push_back(word);
        }
    }
    return "";
}

}  // namespace

ParsedCommandLine parseCommandLine(int argc, const char* const* argv, std::ostream& out,
                                   std::ostream& err) {
    ParsedCommandLine parsed;
    ViewerOptions& options = parsed.options;
    options.glutArguments.push_back(argc > 0 ? argv[0] : "groundview");
    auto usageError = [&](const std::string& problem) {
        err << "groundview: " << problem << "; see groundview --help" << std::endl;
        parsed.status = kUsageStatus;
        return parsed;
    };
    std::vector<std::string> ours;
    std::optional<std::string> windowSize;
    if (const std::string problem = setGlutOptionsAside(argc, argv, options, ours, windowSize);
        !problem.empty()) {
        return usageError(problem);
    }

    std::string keys;
    for (const ElevationKey& key : kElevationKeys) {
        keys += "\n  " + std::string(key.keys) + "  " + key.description;
    }
    CLI::App cli{
        "groundview: walks over a height-field terrain (\".3dt\") or an elevation raster "
        "(GeoTIFF, SRTM .hgt, ...) in full-screen game mode or in a window.\n"
        "Keys: w/s walk, a/d turn, o/p step sideways, Esc leaves. Over an elevation raster, "
        "the keys and the mouse:" +
            keys,
        "groundview"};
    std::vector<std::string> worlds;
    std::string heightScale;
    cli.add_option("WORLD", worlds,
                   "a folder holding ground.3dt, a terrain file of any name (its folder holds the "
                   "texture and errorlog.txt), an elevation raster GDAL reads, a folder of raster "
                   "tiles or several tiles, joined into one mosaic (default: ground.3dt in the "
                   "working folder)");
    bool windowWanted = false;
    cli.add_flag("--window", windowWanted,
                 "an ordinary window of WIDTHxHEIGHT pixels (default 1024x768) instead of "
                 "full-screen game mode")
        ->option_text("[=WIDTHxHEIGHT]");
    cli.add_option("--height-scale", heightScale,
                   "world units for height 127: above 0, at most 1000 (default 0.3)")
        ->type_name("S");
    raster::addViewOptions(cli, options.view, raster::ViewCommand::viewer);
    bool orExample = false;
    cli.add_flag("--or-example", orExample,
                 "without a WORLD, open the installed example world (" GROUNDVIEW_EXAMPLE_DIR
                 ") instead of ground.3dt in the working folder; for menus and launchers");
    cli.set_version_flag("--version",
                         std::string("groundview ") + version() + "\n" + raster::jailDescription());

    std::vector<std::string> reversed(ours.rbegin(), ours.rend());
    try {
        cli.parse(reversed);
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) {
            parsed.status = cli.exit(error, out, err);
            return parsed;
        }
        return usageError(printable(error.what()));
    }

    if (windowWanted) {
        options.window = true;
        if (windowSize &&
            !parseWindowSize(*windowSize, options.windowWidth, options.windowHeight)) {
            return usageError("--window takes WIDTHxHEIGHT, each 1 to " +
                              std::to_string(kMaxWindowSide) + ", not \"" + printable(*windowSize) +
                              "\"");
        }
    }
    if (!heightScale.empty() && !parseHeightScale(heightScale, options.heightScale)) {
        return usageError("--height-scale takes a number above 0 and at most 1000; " +
                          printable(heightScale) + " is " + heightScaleProblem(heightScale));
    }
    if (worlds.empty() && orExample) {
        worlds.emplace_back(GROUNDVIEW_EXAMPLE_DIR);
    }
    if (!worlds.empty()) {
        if (const std::string problem = resolveWorld(worlds, options); !problem.empty()) {
            return usageError(problem);
        }
    }
    // Each kind of world has its own options; the other kind's would be silently ignored.
    if (const std::string problem =
            raster::misplacedOption(cli, raster::ViewCommand::viewer, options.elevation);
        !problem.empty()) {
        return usageError(problem);
    }
    parsed.run = true;
    return parsed;
}

}  // namespace app
