#pragma once
// The one way a raster named by a user is opened: GDAL set up never to reach the network nor
// write beside the user's data, only drivers that read self-contained local files, only plain
// paths, and a VRT only when everything it names lies beside it.

#include <string>
#include <vector>

#include "gdal_raster.h"

namespace raster {

// The drivers a user's raster may be read with, by GDAL's short names; a VRT is read as well
// when its sources pass checkVrtSources.
const std::vector<std::string>& allowedDrivers();

// Registers the allowed drivers (and those GDAL works with in memory) and no others, loading no
// plugin, sets the configuration that keeps GDAL local over what the environment and GDAL's
// configuration files say, stops GDAL printing, and bounds its block cache unless GDAL_CACHEMAX
// says otherwise. Throws RasterError when a setting does not read back as set. Call before any
// other GDAL use; later calls do nothing once one has succeeded.
void useGdal();

// Opens path for reading: a plain path to a regular file, or NETCDF:"file.nc":variable. Throws
// RasterError, on one line naming path, when the policy refuses it, GDAL cannot read it, or it
// holds no band of its own (then naming the rasters it holds).
Dataset openSource(const std::string& path);

// Why dataset's file can't hold all its cells, "" when it can or that is not known without reading
// them: a GeoTIFF whose last block of a band lies past the file's end ("it ends at byte 20000,
// before its cells do at byte 28800").
std::string cutShort(GDALDatasetH dataset);

// The file a source's path names: path itself, or the file of NETCDF:"file.nc":variable.
std::string fileOfSource(const std::string& path);

}  // namespace raster
