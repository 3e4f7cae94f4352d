#pragma once
// A VRT is a list of other files to read, and GDAL's VRT driver opens whatever it names: any path,
// a URL, a device, a connection string, raw memory. A VRT is read only when every source it names
// is a regular file in the VRT's own folder or below, and so for each VRT among them.

#include <string>

namespace raster {

// Throws RasterError naming the first source of the VRT at path that breaks that rule, or the
// VRT itself when it is no XML that GDAL's own parser reads. Call before GDAL opens it.
void checkVrtSources(const std::string& path);

}  // namespace raster
