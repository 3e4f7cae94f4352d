#include "option_checks.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "option_values.h"
#include "terrain_file.h"
#include "tool_error.h"
#include "view_settings_cli.h"

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

void refuseMisplaced(const CLI::App& command, raster::ViewCommand which, bool raster) {
    if (const std::string problem = raster::misplacedOption(command, which, raster);
        !problem.empty()) {
        throw ToolError(problem + " (see groundtool " + command.get_name() + " --help)",
                        kExitUsage);
    }
}

void addOutFolderOption(CLI::App& command, std::string& folder) {
    command
        .add_option("--out", folder,
                    "folder to write into; made when missing (its parent must exist)")
        ->capture_default_str();
}

}  // namespace groundtool
