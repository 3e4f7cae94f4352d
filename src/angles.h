#pragma once
// Pi and the conversions between degrees and radians, for every library (this one includes
// nothing).

constexpr double kPi = 3.141592653589793;
constexpr double kRadiansPerDegree = kPi / 180.0;
constexpr double kDegreesPerRadian = 180.0 / kPi;
