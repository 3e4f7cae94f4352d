#pragma once
// What a source's coordinate system may make PROJ open. A coordinate system can name grid files
// (+nadgrids, +geoidgrids, +grids, a WKT PARAMETERFILE or EXTENSION["PROJ4_GRIDS"]), an init
// file or a URL, and PROJ opens them when a transformation is built, as the owner does outside the
// reader's jail for latitude and longitude. So a coordinate system is taken only when every such
// name is a bare file name found in PROJ's own data folder, fixed when the program was built; and
// GDAL and PROJ read their data from the system's folders alone, PROJ never reaching the network.

#include <string>

namespace raster {

// The folders GDAL and PROJ read their data from, fixed when the program was built
// ("/usr/share/gdal", "/usr/share/proj").
const std::string& gdalDataFolder();
const std::string& projDataFolder();

// Sets GDAL and PROJ, in this process and every reader forked from it, to read their data from
// those folders alone and PROJ never to reach the network, over the environment, proj.ini and
// GDAL's configuration files; says once on standard error which of GDAL_DATA, PROJ_DATA,
// PROJ_LIB and PROJ_NETWORK it ignored. useGdal calls it.
void keepProjLocal();

// The first file or URL that crs, as WKT of any version or a PROJ string, names for PROJ to open
// outside its data folder, printable; empty when it names none.
std::string gridOutsideProjData(const std::string& crs);

// Throws RasterError "cannot read SHOWN: its coordinate system names a coordinate grid outside
// PROJ's data folder: PATH" when crs names one. No transformation is built from a source's
// coordinate system before it has passed.
void refuseGridsOutsideProjData(const std::string& crs, const std::string& shown);

}  // namespace raster
