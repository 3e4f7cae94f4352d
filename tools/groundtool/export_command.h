#pragma once
// groundtool export: a world or an elevation raster written out for 3D printing (STL), 3D
// programs (OBJ, glTF), game engines (16-bit heightmaps) and GIS (GeoTIFF, ASCII grid).

#include <cstdint>
#include <iosfwd>
#include <string>

#include "command.h"
#include "export_formats.h"
#include "view_settings.h"
#include "open_world.h"
#include "terrain.h"

namespace groundtool {

constexpr std::uint64_t kDefaultMaxTriangles = 2000000;
// Text and binary meshes carry normals and texture coordinates besides positions: fewer
// triangles by default keep an OBJ near 50 MB and a glTF near 30 MB.
constexpr std::uint64_t kDefaultObjTriangles = 420000;
constexpr std::uint64_t kDefaultGlbTriangles = 850000;
constexpr int kMinExportSamples = 2;
constexpr int kMaxExportSamples = 4096;
constexpr double kMaxWidthMm = 10000.0;
constexpr double kMaxBaseMm = 1000.0;
constexpr double kDefaultBaseMm = 2.0;
constexpr int kMaxTilesPerSide = 32;

struct ExportOptions {
    std::string source;
    std::string output;
    std::string format;  // a name of kExportFormats, any case; empty: output's extension
    int samples = 0;     // on the longer side; 0: as many as keep a solid under 2 M triangles
    double exaggeration = raster::kExaggerationOption.defaultValue;
    double widthMm = 0.0;            // 0: life size, in metres
    double baseMm = kDefaultBaseMm;  // in the model's unit: mm with widthMm, else metres
    bool baseGiven = false;
    int tilesAcross = 1;
    int tilesDown = 1;
    double heightScale = scene::kDefaultHeightScale;  // a world's, as groundview --height-scale
    std::string area;        // "W,S,E,N" in the source's coordinates; empty: all of it
    std::string areaLatLon;  // "S,W,N,E" in degrees of WGS 84; empty: all of it
    std::string outline;     // "cut" or "fill" for meshes; empty: cut
    bool force = false;
};

// The format a name or --format value stands for; throws ToolError (usage) for any other.
ExportFormat exportFormat(const std::string& nameOrExtension, const std::string& output);
// The triangles a mesh of format keeps when --samples is not given.
std::uint64_t defaultTriangles(ExportFormat format);

// Checks every target, reads the source, opened already, writes all files whole or none, and
// reports one line per file on out; warnings about the source go to warnings.
void runExport(const ExportOptions& options, OpenedWorld opened, std::ostream& out,
               std::ostream& warnings);

// Registers "export" on app; its run writes to standard output and error.
Command addExportCommand(CLI::App& app);

}  // namespace groundtool
