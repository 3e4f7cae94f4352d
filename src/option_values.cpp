#include "option_values.h"

#include <cmath>
#include <cstdlib>

#ifndef GROUNDVIEW_VERSION
#define GROUNDVIEW_VERSION "unknown"
#endif

namespace app {

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

std::optional<std::pair<double, double>> parseDecimalPair(const std::string& text) {
    const std::size_t comma = text.find(',');
    double first = 0.0;
    double second = 0.0;
    if (comma == std::string::npos || !parseDecimal(text.substr(0, comma), first) ||
        !parseDecimal(text.substr(comma + 1), second)) {
        return std::nullopt;
    }
    return std::make_pair(first, second);
}

bool parseHeightScale(const std::string& text, float& scale) {
    double value = 0.0;
    if (!heightScaleProblem(text).empty() || !parseDecimal(text, value)) {
        return false;
    }
    scale = static_cast<float>(value);
    return true;
}

std::string heightScaleProblem(const std::string& text) {
    double value = 0.0;
    if (!parseDecimal(text, value)) {
        return "not a plain decimal number";
    }
    if (value > kMaxHeightScale) {
        return "above 1000";
    }
    if (!(value >= kMinHeightScale)) {
        return value > 0.0 ? "too small" : "not above 0";
    }
    return "";
}

}  // namespace app
