#pragma once
// Values as users write them on the viewer's and groundtool's command lines, read one way
// everywhere: plain decimals only (no "nan", "inf" or hexadecimal), and the project's version.

#include <optional>
#include <string>
#include <utility>

namespace app {

constexpr float kMaxHeightScale = 1000.0f;
// The smallest height scale taken: below it a float would lose its precision or round to 0.
constexpr double kMinHeightScale = 1e-30;

// The project's version, "1.2.0".
const char* version();

// A finite number written as a plain decimal ("-2.5", "1e3"): strtod alone would also take
// "nan", "inf" and hexadecimal "0x10", and range checks let "nan" through.
bool parseDecimal(const std::string& text, double& value);

// "A,B": two plain decimals separated by one comma, as "--eye 0,-5" or "--range 0,255".
std::optional<std::pair<double, double>> parseDecimalPair(const std::string& text);

// A height scale as written on a command line: a plain decimal above 0 and at most
// kMaxHeightScale. Sets scale and returns true when text is one.
bool parseHeightScale(const std::string& text, float& scale);
// Why text is no height scale, for a usage message: "too small", "above 1000", "not a number".
std::string heightScaleProblem(const std::string& text);

constexpr bool isPowerOfTwo(long long value) {
    return value > 0 && (value & (value - 1)) == 0;
}

}  // namespace app
