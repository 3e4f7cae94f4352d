#include "view_settings.h"

#include "decimal_text.h"
#include "option_values.h"

bool parseFogChoice(const std::string& text, FogChoice& choice) {
    if (text == "auto") {
        choice = {FogChoice::Mode::Automatic, 0};
        return true;
    }
    if (text == "off") {
        choice = {FogChoice::Mode::Off, 0};
        return true;
    }
    double density = 0.0;
    if (!app::parseDecimal(text, density) || density < 0) {
        return false;
    }
    choice = {FogChoice::Mode::Density, density};
    return true;
}

namespace raster {

namespace {

bool withinBounds(const ElevationOption& option, double value) {
    return (value > option.low || (option.lowIncluded && value == option.low)) &&
           (value < option.high || (option.highIncluded && value == option.high));
}

// "from 0.001 to 100", "above 0 and at most 1000000", "0 or more".
std::string boundsText(const ElevationOption& option) {
    const std::string low = decimalText(option.low);
    if (std::isinf(option.high)) {
        return option.lowIncluded ? low + " or more" : "above " + low;
    }
    const std::string high = decimalText(option.high);
    if (option.lowIncluded) {
        return "from " + low + (option.highIncluded ? " to " : " to below ") + high;
    }
    return "above " + low + (option.highIncluded ? " and at most " : " and below ") + high;
}

}  // namespace

std::string optionHelp(const ElevationOption& option) {
    std::string help = std::string(option.help) + " (";
    if (option.value == OptionValue::number || option.value == OptionValue::densityOrOff ||
        option.value == OptionValue::numberOrAuto || option.value == OptionValue::whole) {
        help += boundsText(option) + "; ";
    }
    return help +
           (option.defaultHelp ? std::string("default: ") + option.defaultHelp
                               : "default " + decimalText(option.defaultValue)) +
           ")";
}

std::string optionProblem(const ElevationOption& option, const std::string& text) {
    double value = 0.0;
    switch (option.value) {
        case OptionValue::number:
            return app::parseDecimal(text, value) && withinBounds(option, value)
                       ? ""
                       : "expected a number " + boundsText(option) + ", not " + text;
        case OptionValue::densityOrOff:
            return text == "off" || (app::parseDecimal(text, value) && withinBounds(option, value))
                       ? ""
                       : "expected a density per metre, " + boundsText(option) + ", or off, not " +
                             text;
        case OptionValue::numberOrAuto:
            return text == "auto" || (app::parseDecimal(text, value) && withinBounds(option, value))
                       ? ""
                       : "expected a number " + boundsText(option) + ", or auto, not " + text;
        case OptionValue::degrees:
            return app::parseDecimal(text, value) ? ""
                                                  : "expected a number of degrees, not " + text;
        case OptionValue::pair:
            return app::parseDecimalPair(text) ? "" : "expected X,Y, two numbers, not " + text;
        case OptionValue::whole:
            return app::parseDecimal(text, value) && value == std::floor(value) &&
                           withinBounds(option, value)
                       ? ""
                       : "expected a whole number " + boundsText(option) + ", not " + text;
    }
    return "";
}

void readOption(const ElevationOption& option, const std::string& text, double& value) {
    app::parseDecimal(text, value);
    if (option.value == OptionValue::degrees) {
        // A huge angle still turns the eye by a finite amount instead of filling it with NaN.
        value = std::fmod(value, 360.0);
        value += value < 0.0 ? 360.0 : 0.0;
    }
}

void readOption(const ElevationOption& /*option*/, const std::string& text, FogChoice& fog) {
    parseFogChoice(text, fog);
}

void readOption(const ElevationOption& /*option*/, const std::string& text, DetailChoice& detail) {
    detail = DetailChoice{};
    detail.automatic = text == "auto";
    if (!detail.automatic) {
        app::parseDecimal(text, detail.pixels);
    }
}

void readOption(const ElevationOption& /*option*/, const std::string& text,
                std::optional<std::pair<double, double>>& pair) {
    pair = app::parseDecimalPair(text);
}

void readOption(const ElevationOption& /*option*/, const std::string& text, int& whole) {
    double value = 0.0;
    app::parseDecimal(text, value);
    whole = static_cast<int>(value);  // within the bounds, which an int holds
}

namespace {

bool takenFor(Worlds worlds, bool raster) {
    return worlds == Worlds::both || worlds == (raster ? Worlds::rasters : Worlds::classic);
}

}  // namespace

std::string misplacedOption(ViewCommand command, bool raster,
                            const std::function<bool(const char* name)>& given) {
    const auto refusal = [&](const char* name, Worlds worlds) -> std::string {
        if (worlds == Worlds::none || takenFor(worlds, raster) || !given(name)) {
            return "";
        }
        return std::string(name) + " is for " + (raster ? ".3dt worlds" : "elevation rasters");
    };
    for (const ElevationOption* option : kViewOptions) {
        if (std::string problem = refusal(option->name, option->takes.in(command));
            !problem.empty()) {
            return problem;
        }
    }
    for (const WorldOption& option : kClassicWorldOptions) {
        if (std::string problem = refusal(option.name, option.takes.in(command));
            !problem.empty()) {
            return problem;
        }
    }
    return "";
}

}  // namespace raster
