#pragma once
// How reading a raster gives up: one line for the user, already naming the file and the problem.

#include <stdexcept>

namespace raster {

class RasterError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

}  // namespace raster
