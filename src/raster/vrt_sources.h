#pragma once
// A VRT is a list of other files to read, and GDAL's VRT driver opens whatever it names: any path,
// a URL, a device, a connection string, raw memory; it also runs pixel functions and kernels of
// any size, and rereads a nested VRT at each mention. A VRT is read only when every source it
// names is a regular file in the VRT's own folder or below, it holds no pixel function, kernel or
// source open options, and GDAL would open at most about a million sources for it; and so for
// each VRT among them, each checked once however often it is named.

#include <string>
#include <vector>

namespace raster {

// Nothing hidden is read: a source with a name starting with "." in its path below the VRT's
// folder (".ssh/id_ed25519") is refused.
//
// Throws RasterError, naming the VRT that breaks that rule and how, or the VRT itself when it is
// no XML that GDAL's own parser reads. Call before GDAL opens it. Returns the real path of every
// file the VRT and the VRTs it names name, each once.
std::vector<std::string> checkVrtSources(const std::string& path);

}  // namespace raster
