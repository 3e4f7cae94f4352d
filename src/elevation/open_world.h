#pragma once
// A world as a user names it, opened once for whatever reads it: a classic terrain file parsed
// with no OpenGL, or an elevation raster open in its jailed reader. Which of the two a file is
// gets decided here alone.

#include <memory>
#include <optional>
#include <string>

#include "elevation_source.h"
#include "terrain.h"

enum class WorldKind { classic, raster };

// A classic world is a file named *.3dt or starting with the terrain magic "3D" whatever its
// name; anything else, an unreadable file too, is taken for an elevation raster.
WorldKind worldKind(const std::string& path);

// A classic terrain file as the viewer's loader reads it, its texture from the file's folder;
// the report says whether the file was found and accepted.
struct ClassicWorld {
    TerrainGrid grid;
    TerrainReport report;
};

// Exactly one of the two is set.
struct OpenedWorld {
    std::optional<ClassicWorld> classic;
    std::unique_ptr<raster::ElevationSource> raster;
};

// Opens path as its kind. A classic file that can't be opened or is refused comes back with a
// report saying so; a raster that can't be opened throws raster::RasterError on one line.
OpenedWorld openWorld(const std::string& path);
