#pragma once
// A world as a user names it, opened once for whatever reads it: a classic terrain file parsed
// with no OpenGL, or elevation rasters open in their jailed reader. Which of the two a name is
// gets decided here alone.

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "elevation_source.h"
#include "terrain.h"

enum class WorldKind { classic, raster };

// A classic world is a folder holding ground.3dt, or a file named *.3dt or starting with the
// terrain magic "3D" whatever its name; anything else, an unreadable file too, is taken for an
// elevation raster, and any other folder for a folder of raster tiles.
WorldKind worldKind(const std::string& path);

// Why paths can't be opened together as one world, "" when they can: a classic world, and a
// folder, are named alone; several names are all raster files, joined as tiles.
std::string worldsProblem(const std::vector<std::string>& paths);

// A list of names worldsProblem refuses: the user's mistake, one line.
class WorldsRefused : public std::invalid_argument {
  public:
    using std::invalid_argument::invalid_argument;
};

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

// Opens path as its kind (a classic folder as its ground.3dt). A classic file that can't be
// opened or is refused comes back with a report saying so; a raster that can't be opened throws
// raster::RasterError on one line (raster::NoRaster for a folder of no raster). band, from 1, is
// the raster band read as heights, 0 the first unless the raster looks like a colour image.
OpenedWorld openWorld(const std::string& path, int band = 0);
// The same of several names, rasters joined as tiles of one mosaic; throws WorldsRefused when
// worldsProblem says why they can't be.
OpenedWorld openWorld(const std::vector<std::string>& paths, int band = 0);
