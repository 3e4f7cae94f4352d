#pragma once
// What a name given to GDAL stands for, told apart before GDAL sees it: GDAL takes virtual file
// systems ("/vsicurl/http://...", "/vsizip/..."), connection strings ("WMS:http://...",
// "MEM:::DATAPOINTER=...") and inline XML as readily as a file name, and would block on a FIFO.

#include <string>

namespace raster {

// path begins with one of GDAL's virtual file systems, "/vsi...".
bool isVirtualPath(const std::string& path);

// path begins as a connection string or subdataset name does, a driver's name and a colon
// ("PG:", "MEM:::", "NETCDF:", "vrt://"). "./name:with:colons" is a plain path.
bool isConnectionString(const std::string& path);

// The file's first bytes hold "<VRTDataset", as GDAL's VRT driver looks for.
bool looksLikeVrt(const std::string& path);

}  // namespace raster
