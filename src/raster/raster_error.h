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

// A folder, or a list of tiles, in which no allowed driver reads any raster: the user named the
// wrong thing.
class NoRaster : public NotARaster {
  public:
    using NotARaster::NotARaster;
};

}  // namespace raster
