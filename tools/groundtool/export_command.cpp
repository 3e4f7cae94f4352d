// groundtool export's command line: its options, each read as the user wrote it.

#include "export_command.h"

#include <cstdlib>
#include <iostream>
#include <memory>
#include <regex>
#include <utility>

#include "option_checks.h"
#include "option_values.h"
#include "tool_error.h"
#include "view_settings_cli.h"

namespace groundtool {

namespace {

// A plain decimal above 0 and at most high ("nan", "inf" and hexadecimal are refused).
CLI::Validator positiveDecimal(double high) {
    return CLI::Validator(
        [high](std::string& text) -> std::string {
            double value = 0.0;
            if (!app::parseDecimal(text, value) || !(value > 0.0) || value > high) {
                return "expected a number above 0 and at most " +
                       std::to_string(static_cast<int>(high)) + ", not " + text;
            }
            return "";
        },
        "");
}

// A plain whole number from low to high; no sign, octal or hexadecimal reading.
CLI::Validator wholeNumber(int low, int high) {
    return CLI::Validator(
        [low, high](std::string& text) -> std::string {
            const std::string range = std::to_string(low) + " to " + std::to_string(high);
            if (text.empty() || text.size() > 9 ||
                text.find_first_not_of("0123456789") != std::string::npos) {
                return "expected a whole number from " + range + ", not " + text;
            }
            const long value = std::strtol(text.c_str(), nullptr, 10);
            if (value < low || value > high) {
                return "expected a whole number from " + range + ", not " + text;
            }
            text = std::to_string(value);
            return "";
        },
        "");
}

bool parseTiles(const std::string& text, int& across, int& down) {
    static const std::regex kTiles("([0-9]{1,3})[xX]([0-9]{1,3})");
    std::smatch match;
    if (!std::regex_match(text, match, kTiles)) {
        return false;
    }
    across = std::atoi(match[1].str().c_str());
    down = std::atoi(match[2].str().c_str());
    return across >= 1 && down >= 1 && across <= kMaxTilesPerSide && down <= kMaxTilesPerSide;
}

}  // namespace

Command addExportCommand(CLI::App& app) {
    auto options = std::make_shared<ExportOptions>();
    CLI::App* cli = app.add_subcommand(
        "export",
        "Write a world (.3dt) or an elevation raster out as a closed solid for printing (STL), "
        "a textured model (OBJ with its .mtl and PNG texture beside it, or glTF binary .glb), "
        "a 16-bit heightmap (greyscale PNG with its world file, .prj and a .json of its scale, "
        "or raw little-endian .r16/.raw with an ENVI .hdr, rows north to south), or true heights "
        "in metres for GIS (GeoTIFF .tif, Esri ASCII grid .asc) placed as the source. Meshes are "
        "life size in metres, x east, y up (z up in STL), unless --width-mm "
        "scales them for printing. A world exports at its own grid, heights as the viewer "
        "draws them; a raster is averaged down to --samples.");
    auto sources = std::make_shared<std::vector<std::string>>();
    cli->add_option("source", *sources,
                    "the world (.3dt) or elevation raster; several rasters, or a folder of them, "
                    "are joined into one")
        ->required();
    cli->add_option("--out", options->output,
                    "the file to write, in an existing folder; its extension gives the format")
        ->required();
    cli->add_option("--format", options->format,
                    exportFormatList("") + ", whatever the --out name says")
        ->check(CLI::IsMember(exportFormatNames(), CLI::ignore_case));
    cli->add_option("--samples", options->samples,
                    "samples on the longer side, for rasters (default: as many as keep the "
                    "solid under 2 million triangles, 850,000 for glTF and 420,000 for OBJ, "
                    "near 30 and 50 MB)")
        ->transform(wholeNumber(kMinExportSamples, kMaxExportSamples));
    auto view = std::make_shared<raster::ViewSettings>();
    raster::addViewOptions(*cli, *view, raster::ViewCommand::exportModel);
    cli->add_option("--width-mm", options->widthMm,
                    "STL and OBJ: the longer side in millimetres, heights scaled alike")
        ->check(positiveDecimal(kMaxWidthMm));
    cli->add_option_function<double>(
           "--base-mm",
           [options](double base) {
               options->baseMm = base;
               options->baseGiven = true;
           },
           "thickness of the base below the lowest point, in the model's unit (mm with "
           "--width-mm, else metres); with a cut outline, given, it also joins the islands "
           "on a plate half as thick under the whole rectangle")
        ->check(positiveDecimal(kMaxBaseMm))
        ->default_str("2");
    cli->add_option_function<std::string>(
           "--tiles",
           [options](const std::string& text) {
               parseTiles(text, options->tilesAcross, options->tilesDown);
           },
           "CxR: C tiles west to east by R north to south, each a file of its own, "
           "NAME_c_r.EXT counting from 1, neighbours sharing their edge samples")
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                int across = 0;
                int down = 0;
                return parseTiles(text, across, down)
                           ? ""
                           : "expected CxR with C and R from 1 to " +
                                 std::to_string(kMaxTilesPerSide) + ", not " + text;
            },
            "CxR"));
    cli->add_option("--height-scale", options->heightScale,
                    "for a .3dt: world units for height 127, as groundview --height-scale")
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                float scale = 0.0f;
                return app::parseHeightScale(text, scale)
                           ? ""
                           : "expected a number above 0 and at most 1000, not " + text;
            },
            "S"))
        ->capture_default_str();
    CLI::Option* area =
        cli->add_option("--area", options->area,
                        "W,S,E,N: export only this part of a raster, in the source's coordinates");
    cli->add_option("--area-latlon", options->areaLatLon,
                    "S,W,N,E: export only this part of a raster, in degrees of latitude and "
                    "longitude")
        ->excludes(area);
    cli->add_option("--outline", options->outline,
                    "meshes: cut (the default) keeps only the ground with data, walls following "
                    "its outline down to the base, one solid per island; fill keeps the whole "
                    "rectangle, no-data at placeholder heights")
        ->check(CLI::IsMember({"cut", "fill"}));
    cli->add_flag("--force", options->force, "replace existing files");

    return Command{cli, [options, view, sources, cli]() {
                       OpenedWorld opened = openWorld(*sources, view->band);
                       options->source = opened.raster ? opened.raster->shown() : sources->front();
                       refuseMisplaced(*cli, raster::ViewCommand::exportModel,
                                       opened.raster != nullptr);
                       options->exaggeration = view->exaggeration;
                       runExport(*options, std::move(opened), std::cout, std::cerr);
                       return kExitSuccess;
                   }};
}

}  // namespace groundtool
