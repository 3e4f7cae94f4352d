#include "command_line.h"

#include <sys/stat.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <ostream>

#include "byte_source.h"

#ifndef GROUNDVIEW_VERSION
#define GROUNDVIEW_VERSION "unknown"
#endif

namespace app {

namespace {

// freeglut's X options; the first two take a value.
bool isGlutOption(const std::string& word, bool& takesValue) {
    takesValue = word == "-display" || word == "-geometry";
    return takesValue || word == "-direct" || word == "-indirect" || word == "-iconic" ||
           word == "-gldebug" || word == "-sync";
}

// "WIDTHxHEIGHT", each a plain decimal from 1 to kMaxWindowSide.
bool parseWindowSize(const std::string& text, int& width, int& height) {
    const std::size_t x = text.find('x');
    if (x == std::string::npos) {
        return false;
    }
    auto side = [](const std::string& digits, int& value) {
        if (digits.empty() || digits.size() > 5 ||
            digits.find_first_not_of("0123456789") != std::string::npos) {
            return false;
        }
        value = std::atoi(digits.c_str());
        return value >= 1 && value <= kMaxWindowSide;
    };
    return side(text.substr(0, x), width) && side(text.substr(x + 1), height);
}

// The world's terrain file and folder; an empty string when WORLD is usable, else why not.
std::string resolveWorld(const std::string& world, ViewerOptions& options) {
    struct stat status {};
    if (stat(world.c_str(), &status) != 0) {
        return world + ": " + std::strerror(errno);
    }
    if (S_ISDIR(status.st_mode)) {
        options.worldFolder = world;
        options.terrainPath = world + (world.back() == '/' ? "" : "/") + kTerrainFileName;
        return "";
    }
    if (!S_ISREG(status.st_mode)) {
        return world + ": neither a folder nor a regular file";
    }
    options.terrainPath = world;
    options.worldFolder = folderOf(world);
    return "";
}

}  // namespace

const char* version() {
    return GROUNDVIEW_VERSION;
}

bool parseDecimal(const std::string& text, double& value) {
    if (text.empty() || text.find_first_not_of("0123456789.eE+-") != std::string::npos) {
        return false;
    }
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size() && std::isfinite(value);
}

bool parseHeightScale(const std::string& text, float& scale) {
    double value = 0.0;
    if (!parseDecimal(text, value) || value <= 0.0 || value > kMaxHeightScale) {
        return false;
    }
    scale = static_cast<float>(value);
    return scale > 0.0f;  // a value below float's smallest would round to 0
}

ParsedCommandLine parseCommandLine(int argc, const char* const* argv, std::ostream& out,
                                   std::ostream& err) {
    ParsedCommandLine parsed;
    ViewerOptions& options = parsed.options;
    options.glutArguments.push_back(argc > 0 ? argv[0] : "groundview");
    std::vector<std::string> ours;
    std::optional<std::string> windowSize;
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
            options.glutArguments.push_back(argv[i]);
            if (takesValue && i + 1 < argc) {
                options.glutArguments.push_back(argv[++i]);
            }
        } else {
            ours.push_back(argv[i]);
        }
    }

    CLI::App cli{
        "groundview: walks over a height-field terrain (\".3dt\") in full-screen game "
        "mode or in a window. Keys: w/s walk, a/d turn, o/p step sideways, Esc leaves.",
        "groundview"};
    std::string world;
    std::string heightScale;
    cli.add_option("WORLD", world,
                   "a folder holding ground.3dt, or a terrain file of any name; its folder holds "
                   "the texture and errorlog.txt (default: ground.3dt in the working folder)");
    bool windowWanted = false;
    cli.add_flag("--window", windowWanted,
                 "an ordinary window of WIDTHxHEIGHT pixels (default 1024x768) instead of "
                 "full-screen game mode")
        ->option_text("[=WIDTHxHEIGHT]");
    cli.add_option("--height-scale", heightScale,
                   "world units for height 127: above 0, at most 1000 (default 0.3)")
        ->type_name("S");
    cli.set_version_flag("--version", std::string("groundview ") + version());

    std::vector<std::string> reversed(ours.rbegin(), ours.rend());
    try {
        cli.parse(reversed);
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) {
            parsed.status = cli.exit(error, out, err);
            return parsed;
        }
        err << "groundview: " << error.what() << "; see groundview --help" << std::endl;
        parsed.status = kUsageStatus;
        return parsed;
    }

    std::string problem;
    if (windowWanted) {
        options.window = true;
        if (windowSize &&
            !parseWindowSize(*windowSize, options.windowWidth, options.windowHeight)) {
            problem = "--window takes WIDTHxHEIGHT, each 1 to " + std::to_string(kMaxWindowSide) +
                      ", not \"" + *windowSize + "\"";
        }
    }
    if (problem.empty() && !heightScale.empty() &&
        !parseHeightScale(heightScale, options.heightScale)) {
        problem = "--height-scale takes a number above 0 and at most 1000, not " + heightScale;
    }
    if (problem.empty() && !world.empty()) {
        problem = resolveWorld(world, options);
    }
    if (!problem.empty()) {
        err << "groundview: " << problem << "; see groundview --help" << std::endl;
        parsed.status = kUsageStatus;
        return parsed;
    }
    parsed.run = true;
    return parsed;
}

}  // namespace app
