#pragma once
// How an elevation world is seen, described once for every command line that takes it (groundview,
// groundtool render and export): the settings themselves, and for each option its name, value,
// bounds, default, help and the kinds of world each command takes it for, with the one rule and
// message for each. Each command line registers them with its own parser (view_settings_cli.h
// for CLI11); nothing here needs one, nor OpenGL, nor the reader.

#include <cmath>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "walker.h"

struct FogChoice {
    enum class Mode { Automatic, Density, Off };
    Mode mode = Mode::Automatic;
    double densityPerMetre = 0;  // for Density
};

// "auto", "off" or a finite density per metre, 0 or more; false for anything else.
bool parseFogChoice(const std::string& text, FogChoice& choice);

// The finest typical pixel error automatic detail goes down to.
constexpr double kFinestDetailPixels = 1.0;

// The pixel error the ground's levels may show: raised as a frame's triangles need, or fixed.
struct DetailChoice {
    bool automatic = true;
    double pixels = kFinestDetailPixels;  // fixed: typical on-screen error; 0 full detail
};

namespace raster {

// The exaggerations taken, bounds included. 1/1000 still turns millimetre heights into metres;
// far smaller ones flatten the ground to nothing and push heights into a float's underflow, from
// which no readout recovers the true metres.
constexpr double kMinExaggeration = 0.001;
constexpr double kMaxExaggeration = 100.0;

// The command lines that share these options.
enum class ViewCommand { viewer, render, exportModel };

// The kinds of world a command takes an option for.
enum class Worlds : unsigned char { none, rasters, classic, both };

struct WorldsTaking {
    Worlds viewer, render, exportModel;
    Worlds in(ViewCommand command) const {
        return command == ViewCommand::viewer   ? viewer
               : command == ViewCommand::render ? render
                                                : exportModel;
    }
};

enum class OptionValue {
    number,        // a plain decimal within the bounds
    densityOrOff,  // a number within the bounds, or "off"
    numberOrAuto,  // a number within the bounds, or "auto"
    degrees,       // any plain decimal, reduced to [0, 360)
    pair,          // "X,Y", two plain decimals
    whole,         // a plain whole number within the bounds
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
    WorldsTaking takes;
};

constexpr WorldsTaking kRastersToView{Worlds::rasters, Worlds::rasters, Worlds::none};

inline constexpr ElevationOption kExaggerationOption{
    "--exaggeration",
    "X",
    OptionValue::number,
    kMinExaggeration,
    true,
    kMaxExaggeration,
    true,
    1.0,
    "heights times X",
    nullptr,
    WorldsTaking{Worlds::rasters, Worlds::rasters, Worlds::both}};
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
                                                  "2% of the world's longer side",
                                                  kRastersToView};
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
    "auto",
    kRastersToView};
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
    "the far edge keeps a quarter of its colour from the start",
    kRastersToView};
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
    "the viewer's start",
    kRastersToView};
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
    "the viewer's start",
    kRastersToView};
inline constexpr ElevationOption kHeadingOption{
    "--heading",
    "DEGREES",
    OptionValue::degrees,
    -HUGE_VAL,
    false,
    HUGE_VAL,
    false,
    0.0,
    "degrees turned right from the start heading, as the 'd' key turns: a raster starts looking "
    "north, so 90 looks east (a .3dt, where taken, starts looking along -z)",
    nullptr,
    WorldsTaking{Worlds::rasters, Worlds::both, Worlds::none}};
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
    nullptr,
    kRastersToView};

// A raster band of GDAL's is counted in an int; no format read here holds more than this many.
constexpr double kMostBands = 65536;
inline constexpr ElevationOption kBandOption{
    "--band",
    "N",
    OptionValue::whole,
    1.0,
    true,
    kMostBands,
    true,
    0.0,
    "the raster band read as heights, counted from 1",
    "1, and a colour image refused",
    WorldsTaking{Worlds::rasters, Worlds::rasters, Worlds::rasters}};

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
void readOption(const ElevationOption& option, const std::string& text, int& whole);

// Everything the view options set, as one command line gave them.
struct ViewSettings {
    double exaggeration = kExaggerationOption.defaultValue;
    double eyeHeight = kEyeHeightOption.defaultValue;  // 0: the walker's own
    DetailChoice detail;
    FogChoice fog;
    ViewStart start;
    int band = 0;  // the raster band read as heights, from 1; 0 when none is chosen
};

// The view options, in the order help lists them.
inline constexpr const ElevationOption* kViewOptions[] = {
    &kExaggerationOption, &kEyeHeightOption, &kDetailOption, &kFogOption, &kAtOption,
    &kAtLatLonOption,     &kHeadingOption,   &kPitchOption,  &kBandOption};

// Options of one kind of world that set no view, registered by their own commands, under the
// same rule.
struct WorldOption {
    const char* name;
    WorldsTaking takes;
};
inline constexpr WorldOption kClassicWorldOptions[] = {
    {"--height-scale", {Worlds::classic, Worlds::classic, Worlds::classic}},
    {"--eye", {Worlds::none, Worlds::classic, Worlds::none}},
};

// The one refusal of an option given for a kind of world its command doesn't take it for: "--fog
// is for elevation rasters", "--height-scale is for .3dt worlds"; "" when given names none.
std::string misplacedOption(ViewCommand command, bool raster,
                            const std::function<bool(const char* name)>& given);

}  // namespace raster
