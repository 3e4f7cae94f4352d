#pragma once
// The options that set how an elevation raster is seen, described once for every command line
// that takes them (groundview, groundtool render and export): name, value, bounds, default and
// help, with the one rule and message for each. Each command line registers them with its own
// parser (elevation_option_cli.h for CLI11); nothing here needs one.

#include <cmath>
#include <optional>
#include <string>
#include <utility>

#include "elevation_frame.h"
#include "elevation_world.h"

namespace raster {

enum class OptionValue {
    number,        // a plain decimal within the bounds
    densityOrOff,  // a number within the bounds, or "off"
    numberOrAuto,  // a number within the bounds, or "auto"
    degrees,       // any plain decimal, reduced to [0, 360)
    pair,          // "X,Y", two plain decimals
};

struct ElevationOption {
    const char* name;       // "--eye-height"
    const char* valueName;  // "METRES", as help shows the value
    OptionValue value;
    double low;  // bounds of number and densityOrOff
    bool lowIncluded;
    double high;  // HUGE_VAL: none
    bool highIncluded;
    double defaultValue;      // what a command holds when the option is not given
    const char* help;         // what it does, without bounds or default
    const char* defaultHelp;  // the default in words; null: defaultValue as a number
};

inline constexpr ElevationOption kExaggerationOption{"--exaggeration",
                                                     "X",
                                                     OptionValue::number,
                                                     kMinExaggeration,
                                                     true,
                                                     kMaxExaggeration,
                                                     true,
                                                     1.0,
                                                     "heights times X",
                                                     nullptr};
// 0 stands for the walker's own eye height; a height given must be above the ground.
inline constexpr ElevationOption kEyeHeightOption{"--eye-height",
                                                  "METRES",
                                                  OptionValue::number,
                                                  0.0,
                                                  false,
                                                  1e6,
                                                  true,
                                                  0.0,
                                                  "the eye's height above the ground in metres",
                                                  "2% of the world's longer side"};
inline constexpr ElevationOption kDetailOption{
    "--detail",
    "PIXELS|auto",
    OptionValue::numberOrAuto,
    0.0,
    true,
    100.0,
    true,
    0.0,
    "the typical error the level of detail may show, in pixels (no sample strays more than three "
    "times that); 0 draws every sample, auto raises it from 1 as far as keeps each frame within "
    "its triangle budget",
    "auto"};
inline constexpr ElevationOption kFogOption{
    "--fog",
    "DENSITY|off",
    OptionValue::densityOrOff,
    0.0,
    true,
    HUGE_VAL,
    false,
    0.0,
    "fog density per metre, or off",
    "the far edge keeps a quarter of its colour from the start"};
inline constexpr ElevationOption kAtOption{
    "--at",
    "X,Y",
    OptionValue::pair,
    -HUGE_VAL,
    false,
    HUGE_VAL,
    false,
    0.0,
    "where the eye stands, X,Y in the source's coordinates: longitude,latitude or "
    "easting,northing",
    "the viewer's start"};
inline constexpr ElevationOption kAtLatLonOption{
    "--at-latlon",
    "LAT,LON",
    OptionValue::pair,
    -HUGE_VAL,
    false,
    HUGE_VAL,
    false,
    0.0,
    "where the eye stands, in degrees of latitude and longitude (instead of --at)",
    "the viewer's start"};
inline constexpr ElevationOption kHeadingOption{
    "--heading",
    "DEGREES",
    OptionValue::degrees,
    -HUGE_VAL,
    false,
    HUGE_VAL,
    false,
    0.0,
    "degrees turned right from the start heading, as the 'd' key turns (a .3dt starts looking "
    "along -z, a raster north), so 90 looks along +x or east",
    nullptr};
inline constexpr ElevationOption kPitchOption{
    "--pitch",
    "DEGREES",
    OptionValue::number,
    -Walker::kPitchLimitDegrees,
    true,
    Walker::kPitchLimitDegrees,
    true,
    Walker::kStartPitchDegrees,
    "degrees the view looks above level, below it when negative, as the 'q' key raises it",
    nullptr};

// Where the view starts, as the options above give it.
struct ViewStart {
    std::optional<std::pair<double, double>> at;        // X,Y in the source's coordinates
    std::optional<std::pair<double, double>> atLatLon;  // LAT,LON in degrees
    double headingDegrees = kHeadingOption.defaultValue;
    double pitchDegrees = kPitchOption.defaultValue;
};

// The help line: what the option does, its bounds and its default.
std::string optionHelp(const ElevationOption& option);

// "" when text is a value option takes, else why not: "expected a number from 0.001 to 100, not
// 0".
std::string optionProblem(const ElevationOption& option, const std::string& text);

// An accepted text's value: a number, degrees reduced to [0, 360), a fog, a detail or a pair.
void readOption(const ElevationOption& option, const std::string& text, double& value);
void readOption(const ElevationOption& option, const std::string& text, FogChoice& fog);
void readOption(const ElevationOption& option, const std::string& text, DetailChoice& detail);
void readOption(const ElevationOption& option, const std::string& text,
                std::optional<std::pair<double, double>>& pair);

// An option given for the other kind of world: "--fog is for elevation rasters",
// "--height-scale is for .3dt worlds".
std::string misplacedOption(const std::string& name, bool givenForRaster);

}  // namespace raster
