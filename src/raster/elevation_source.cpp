#include "elevation_source.h"

#include "printable.h"
#include "reader_process.h"

namespace raster {

ElevationSource::ElevationSource(const std::string& path, const JailLimits& limits)
    : reader_(std::make_unique<ReaderProcess>(path, limits)),
      facts_(reader_->facts()),
      shown_(printable(path)) {}

ElevationSource::~ElevationSource() = default;
ElevationSource::ElevationSource(ElevationSource&&) noexcept = default;
ElevationSource& ElevationSource::operator=(ElevationSource&&) noexcept = default;

void ElevationSource::read(const SourceWindow& window, int columns, int rows, double* samples,
                           std::ptrdiff_t lineStride) const {
    reader_->read(window, columns, rows, samples, lineStride);
}

}  // namespace raster

namespace raster {

SharedSamples ElevationSource::readShared(const SourceWindow& window, int columns, int rows) const {
    return reader_->readShared(window, columns, rows);
}

}  // namespace raster
