#pragma once
// The view options registered on a CLI11 command line from their one description, for the
// viewer's and groundtool's command lines alike, and the one check of the kind of world each is
// given for. Header only: the libraries themselves need no CLI11.

#include <CLI/CLI.hpp>
#include <string>

#include "view_settings.h"

namespace raster {

// option on cli, checked by its description and read into value once accepted; help starts with
// "elevation rasters: " when command takes it for rasters alone.
template <typename Value>
CLI::Option* addViewOption(CLI::App& cli, const ElevationOption& option, Value& value,
                           ViewCommand command) {
    const bool rastersOnly = option.takes.in(command) == Worlds::rasters;
    return cli
        .add_option_function<std::string>(
            option.name,
            [&option, &value](const std::string& text) { readOption(option, text, value); },
            (rastersOnly ? "elevation rasters: " : "") + optionHelp(option))
        ->type_name(option.valueName)
        ->check(CLI::Validator([&option](std::string& text) { return optionProblem(option, text); },
                               ""));
}

// Every view option command takes, read into settings; --at and --at-latlon exclude each other.
inline void addViewOptions(CLI::App& cli, ViewSettings& settings, ViewCommand command) {
    const auto takes = [command](const ElevationOption& option) {
        return option.takes.in(command) != Worlds::none;
    };
    if (takes(kExaggerationOption)) {
        addViewOption(cli, kExaggerationOption, settings.exaggeration, command);
    }
    if (takes(kEyeHeightOption)) {
        addViewOption(cli, kEyeHeightOption, settings.eyeHeight, command);
    }
    if (takes(kDetailOption)) {
        addViewOption(cli, kDetailOption, settings.detail, command);
    }
    if (takes(kFogOption)) {
        addViewOption(cli, kFogOption, settings.fog, command);
    }
    if (takes(kAtOption) && takes(kAtLatLonOption)) {
        CLI::Option* at = addViewOption(cli, kAtOption, settings.start.at, command);
        addViewOption(cli, kAtLatLonOption, settings.start.atLatLon, command)->excludes(at);
    }
    if (takes(kHeadingOption)) {
        addViewOption(cli, kHeadingOption, settings.start.headingDegrees, command);
    }
    if (takes(kPitchOption)) {
        addViewOption(cli, kPitchOption, settings.start.pitchDegrees, command);
    }
    if (takes(kBandOption)) {
        addViewOption(cli, kBandOption, settings.band, command);
    }
}

// --band alone, for the commands that read rasters but set no view (info, import, pyramid).
inline void addBandOption(CLI::App& cli, int& band) {
    addViewOption(cli, kBandOption, band, ViewCommand::exportModel);
}

// The refusal of the first option cli was given that command doesn't take for this kind of
// world; "" when there is none.
inline std::string misplacedOption(const CLI::App& cli, ViewCommand command, bool raster) {
    return misplacedOption(command, raster, [&cli](const char* name) {
        try {
            return cli.count(name) > 0;
        } catch (const CLI::OptionNotFound&) {
            return false;  // not an option of this command at all
        }
    });
}

}  // namespace raster
