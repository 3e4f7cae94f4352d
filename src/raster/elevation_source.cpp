#include "elevation_source.h"

#include "mosaic.h"
#include "reader_process.h"

namespace raster {

ElevationSource::ElevationSource(const std::string& path, const JailLimits& limits)
    : ElevationSource(std::vector<std::string>{path}, limits) {}

ElevationSource::ElevationSource(const std::vector<std::string>& paths, const JailLimits& limits,
                                 int band)
    : shown_(shownName(paths)), paths_(paths) {
    SourceNames names = nameSources(paths);
    names.band = band;
    reader_ = std::make_unique<ReaderProcess>(names, limits);
    facts_ = reader_->facts();
}

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

namespace raster {

SharedSamples ElevationSource::readHalved(int firstRow, int rowCount) const {
    return reader_->readHalved(firstRow, rowCount);
}

}  // namespace raster
