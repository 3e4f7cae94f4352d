#include "option_checks.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <iomanip>
#include <sstream>

#include "decimal_text.h"
#include "elevation_world.h"
#include "option_values.h"
#include "terrain_file.h"

namespace groundtool {

CLI::Validator decimal(bool allowNegative) {
    return CLI::Validator(
        [allowNegative](std::string& text) -> std::string {
            const bool negative = allowNegative && !text.empty() && text.front() == '-';
            std::string digits = text.substr(negative ? 1 : 0);
            if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) {
                return std::string("expected a whole number") +
                       (allowNegative ? "" : " from 0 up") + ", not " + text;
            }
            digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size() - 1));
            errno = 0;
            std::strtoull(digits.c_str(), nullptr, 10);
            if (errno == ERANGE) {
                return text + " is too large";
            }
            text = (negative ? "-" : "") + digits;
            return "";
        },
        "");
}

const CLI::Validator kFinite(
    [](std::string& text) -> std::string {
        double value = 0.0;
        return app::parseDecimal(text, value) ? "" : "expected a decimal number, not " + text;
    },
    "");

// Any finite angle, reduced to [0, 360) so that a huge one still turns the camera by a finite
// amount instead of filling it with NaN.
const CLI::Validator kAngle(
    [](std::string& text) -> std::string {
        double degrees = 0.0;
        if (!app::parseDecimal(text, degrees)) {
            return "expected a decimal number of degrees, not " + text;
        }
        degrees = std::fmod(degrees, 360.0);
        std::ostringstream reduced;
        reduced << std::setprecision(17) << (degrees < 0.0 ? degrees + 360.0 : degrees);
        text = reduced.str();
        return "";
    },
    "");

const CLI::Validator kPowerOfTwo(
    [](std::string& text) -> std::string {
        return app::isPowerOfTwo(std::strtoll(text.c_str(), nullptr, 10))
                   ? ""
                   : "expected a power of two, not " + text;
    },
    "power of two");

const CLI::Validator kHeightScale(
    [](std::string& text) -> std::string {
        const std::string problem = app::heightScaleProblem(text);
        return problem.empty()
                   ? ""
                   : "expected a number above 0 and at most 1000; " + text + " is " + problem;
    },
    "S");

const CLI::Validator kExaggeration(
    [](std::string& text) -> std::string {
        double value = 0.0;
        return app::parseDecimal(text, value) && value >= raster::kMinExaggeration &&
                       value <= raster::kMaxExaggeration
                   ? ""
                   : "expected a number from " + raster::decimalText(raster::kMinExaggeration) +
                         " to " + raster::decimalText(raster::kMaxExaggeration) + ", not " + text;
    },
    "X");

void addTextureNumberOption(CLI::App& command, int& textureNumber) {
    // Runs after decimal(), so "-0" and "000" arrive here as the number they are.
    static const CLI::Validator kNamesATexture(
        [](std::string& text) -> std::string {
            return std::strtol(text.c_str(), nullptr, 10) == 0
                       ? "0 names no texture; use -128 to -1 or 1 to 127"
                       : "";
        },
        "", "texture number");
    command
        .add_option("--texture-number", textureNumber,
                    "texture file number K: the terrain names \"K.bmp\"")
        ->transform(decimal(true))
        ->check(CLI::Range(kMinTextureNumber, kMaxTextureNumber))
        ->check(kNamesATexture)
        ->capture_default_str();
}

void addOutFolderOption(CLI::App& command, std::string& folder) {
    command
        .add_option("--out", folder,
                    "folder to write into; made when missing (its parent must exist)")
        ->capture_default_str();
}

}  // namespace groundtool
