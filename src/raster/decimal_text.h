#pragma once
// Measurements as people write them: three significant digits, whole numbers from 1000 up, never
// an exponent for the sizes a terrain has.

#include <cmath>
#include <sstream>
#include <string>

namespace raster {

inline std::string decimalText(double value) {
    std::ostringstream text;
    // From 999.5 up three significant digits would show an exponent, "1e+03"; only numbers
    // beyond any terrain's keep one.
    if (std::abs(value) >= 999.5 && std::abs(value) < 1e15) {
        text.setf(std::ios::fixed);
        text.precision(0);
    } else {
        text.precision(3);
    }
    text << value;
    return text.str();
}

}  // namespace raster
