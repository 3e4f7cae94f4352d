#pragma once
// An elevation option registered on a CLI11 command line from its description, for the viewer's
// and groundtool's command lines alike. Header only: the raster library itself needs no CLI11.

#include <CLI/CLI.hpp>
#include <string>

#include "elevation_options.h"

namespace raster {

// option on cli, checked by its description and read into value once accepted; help starts
// with "elevation rasters: " when rastersOnly.
template <typename Value>
CLI::Option* addElevationOption(CLI::App& cli, const ElevationOption& option, Value& value,
                                bool rastersOnly) {
    return cli
        .add_option_function<std::string>(
            option.name,
            [&option, &value](const std::string& text) { readOption(option, text, value); },
            (rastersOnly ? "elevation rasters: " : "") + optionHelp(option))
        ->type_name(option.valueName)
        ->check(CLI::Validator([&option](std::string& text) { return optionProblem(option, text); },
                               ""));
}

}  // namespace raster
