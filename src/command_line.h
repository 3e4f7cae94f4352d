#pragma once
// The viewer's command line: groundview [OPTIONS] [WORLD]. GLUT's own X options (-display,
// -geometry, ...) are set aside for glutInit; the rest is parsed here, before any X connection,
// so --help, --version and usage errors need no display.

#include <iosfwd>
#include <string>
#include <vector>

#include "app.h"

namespace app {

// sysexits.h's EX_USAGE: statuses 1 to 8 already mean OpenGL errors.
constexpr int kUsageStatus = 64;
constexpr float kMaxHeightScale = 1000.0f;
constexpr int kDefaultWindowWidth = 1024;
constexpr int kDefaultWindowHeight = 768;
constexpr int kMaxWindowSide = 16384;

struct ViewerOptions {
    // The terrain file, and the folder that takes the working folder's part: its texture and
    // errorlog.txt are there. Without a WORLD, "ground.3dt" in the working folder.
    std::string terrainPath = kTerrainFileName;
    std::string worldFolder = ".";
    bool window = false;  // an ordinary window instead of game mode
    int windowWidth = kDefaultWindowWidth;
    int windowHeight = kDefaultWindowHeight;
    float heightScale = scene::kDefaultHeightScale;
    std::vector<std::string> glutArguments;  // the program name and GLUT's own options
};

struct ParsedCommandLine {
    bool run = false;  // false: exit with status, everything said already
    int status = 0;
    ViewerOptions options;
};

// The project's version, "1.1.0".
const char* version();

// A finite number written as a plain decimal ("-2.5", "1e3"): strtod alone would also take
// "nan", "inf" and hexadecimal "0x10", and range checks let "nan" through.
bool parseDecimal(const std::string& text, double& value);

// A height scale as written on a command line: a plain decimal above 0 and at most
// kMaxHeightScale. Sets scale and returns true when text is one.
bool parseHeightScale(const std::string& text, float& scale);

// Parses argv. --help and --version print on out; a usage error prints one line on err.
ParsedCommandLine parseCommandLine(int argc, const char* const* argv, std::ostream& out,
                                   std::ostream& err);

}  // namespace app
