#pragma once
// The viewer's command line: groundview [OPTIONS] [WORLD...]. GLUT's own X options (-display,
// -geometry, ...) are set aside for glutInit; the rest is parsed here, before any X connection,
// so --help, --version and usage errors need no display.

#include <iosfwd>
#include <string>
#include <vector>

#include "app.h"
#include "option_values.h"
#include "view_settings.h"
#include "world.h"

namespace app {

// sysexits.h's EX_USAGE: statuses 1 to 8 already mean OpenGL errors.
constexpr int kUsageStatus = 64;
constexpr int kDefaultWindowWidth = 1024;
constexpr int kDefaultWindowHeight = 768;
constexpr int kMaxWindowSide = 16384;

struct ViewerOptions {
    // The terrain file, and the folder that takes the working folder's part: its texture and
    // errorlog.txt are there. Without a WORLD, "ground.3dt" in the working folder.
    std::string terrainPath = world::kTerrainFileName;
    std::string worldFolder = ".";
    bool window = false;  // an ordinary window instead of game mode
    int windowWidth = kDefaultWindowWidth;
    int windowHeight = kDefaultWindowHeight;
    float heightScale = scene::kDefaultHeightScale;
    std::vector<std::string> glutArguments;  // the program name and GLUT's own options

    // Elevation mode: WORLD is a file that does not start with the terrain magic (and is not
    // named *.3dt), to be read as an elevation raster, a folder with no ground.3dt, or several
    // rasters, to be joined into one; rasters holds them as named.
    bool elevation = false;
    std::vector<std::string> rasters;
    raster::ViewSettings view;  // how the raster is seen, and where the walk starts
};

struct ParsedCommandLine {
    bool run = false;  // false: exit with status, everything said already
    int status = 0;
    ViewerOptions options;
};

// Parses argv. --help and --version print on out; a usage error prints one line on err.
ParsedCommandLine parseCommandLine(int argc, const char* const* argv, std::ostream& out,
                                   std::ostream& err);

}  // namespace app
