#pragma once
// How reading a raster gives up: one line for the user, already naming the file and the problem.

#include <stdexcept>

namespace raster {

class RasterError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The file is there and readable, but no allowed driver reads it as a raster.
class NotARaster : public RasterError {
  public:
    using RasterError::RasterError;
};

}  // namespace raster
