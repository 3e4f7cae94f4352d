#pragma once
// Measurements as people write them: three significant digits, whole numbers from 1000 up, never
// an exponent for the sizes groundtool meets.

#include <cmath>
#include <sstream>
#include <string>

namespace groundtool {

inline std::string decimalText(double value) {
    std::ostringstream text;
    if (std::abs(value) >= 1000.0) {
        text.setf(std::ios::fixed);
        text.precision(0);
    } else {
        text.precision(3);
    }
    text << value;
    return text.str();
}

}  // namespace groundtool
