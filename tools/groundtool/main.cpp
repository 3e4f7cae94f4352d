// groundtool: makes, checks and previews terrain files for the groundview viewer, with the
// viewer's own loader and drawing code.

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <string>

#include "command_line.h"
#include "generate.h"
#include "import.h"
#include "info.h"
#include "render.h"
#include "terrain_file.h"
#include "tool_error.h"

namespace {

using groundtool::kExitUsage;

// Runs after decimal(), so "-0" and "000" arrive here as the number they are.
const CLI::Validator kTextureNumber(
    [](std::string& text) -> std::string {
        return std::strtol(text.c_str(), nullptr, 10) == 0
                   ? "0 names no texture; use -128 to -1 or 1 to 127"
                   : "";
    },
    "", "texture number");

// Plain decimal integers only: CLI11's conversion reads "010" as octal, "0x10" as hexadecimal and
// "-1" as 2^64 - 1 for an unsigned option, and lets a seed beyond 2^64 - 1 wrap around. Leading
// zeros are dropped so the number reads as decimal.
CLI::Validator decimal(bool allowNegative) {
    return CLI::Validator(
        [allowNegative](std::string& text) -> std::string {
            const bool negative = allowNegative && !text.empty() && text.front() == '-';
            std::string digits = text.substr(negative ? 1 : 0);
            if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) {
                return std::string("expected a whole number") +
                       (allowNegative ? "" : " from 0 up") + ", not " + text;
            }
            digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size() - 1));
            errno = 0;
            std::strtoull(digits.c_str(), nullptr, 10);
            if (errno == ERANGE) {
                return text + " is too large";
            }
            text = (negative ? "-" : "") + digits;
            return "";
        },
        "");
}

const CLI::Validator kFinite(
    [](std::string& text) -> std::string {
        double value = 0.0;
        return app::parseDecimal(text, value) ? "" : "expected a decimal number, not " + text;
    },
    "");

// Any finite angle, reduced to [0, 360) so that a huge one still turns the camera by a finite
// amount instead of filling it with NaN.
const CLI::Validator kAngle(
    [](std::string& text) -> std::string {
        double degrees = 0.0;
        if (!app::parseDecimal(text, degrees)) {
            return "expected a decimal number of degrees, not " + text;
        }
        degrees = std::fmod(degrees, 360.0);
        std::ostringstream reduced;
        reduced << std::setprecision(17) << (degrees < 0.0 ? degrees + 360.0 : degrees);
        text = reduced.str();
        return "";
    },
    "");

void addTextureOptions(CLI::App& command, int& textureNumber, int& tile) {
    command
        .add_option("--texture-number", textureNumber,
                    "texture file number K: the terrain names \"K.bmp\"")
        ->transform(decimal(true))
        ->check(CLI::Range(groundtool::kMinTextureNumber, groundtool::kMaxTextureNumber))
        ->check(kTextureNumber)
        ->capture_default_str();
    command
        .add_option("--tile", tile, "grid cells covered by one repeat of the texture, both ways")
        ->transform(decimal(false))
        ->check(CLI::Range(1, groundtool::kMaxTile))
        ->capture_default_str();
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "groundtool: makes, checks and previews terrain files (\".3dt\") for groundview, with "
        "the viewer's own loader and drawing code.",
        "groundtool"};
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("groundtool ") + app::version());

    std::string infoFile;
    CLI::App* info = app.add_subcommand(
        "info",
        "Describe a .3dt and its texture and list every problem the viewer would meet. Exit "
        "status 0: the viewer loads it cleanly; 1: it would complain; 2: bad usage; 3: no "
        "OpenGL to check with.");
    info->add_option("file", infoFile, "the terrain file")->required();

    groundtool::GenerateOptions generate;
    CLI::App* generateCommand = app.add_subcommand(
        "generate",
        "Make a new fractal terrain, DIR/ground.3dt, and its ground texture, DIR/K.bmp "
        "(256 x 256, 24-bit); the same seed gives the same files.");
    generateCommand->add_option("--size", generate.size, "samples per side")
        ->transform(decimal(false))
        ->check(CLI::Range(groundtool::kMinGridSize, groundtool::kMaxGridSize))
        ->capture_default_str();
    generateCommand
        ->add_option("--seed", generate.seed, "seed of the terrain and texture, 0 to 2^64 - 1")
        ->transform(decimal(false))
        ->capture_default_str();
    generateCommand
        ->add_option("--roughness", generate.roughness,
                     "share each finer level of detail adds, 0.05 (smooth) to 1 (rough)")
        ->check(kFinite)
        ->check(CLI::Range(0.05, 1.0))
        ->capture_default_str();
    addTextureOptions(*generateCommand, generate.textureNumber, generate.tile);
    generateCommand->add_option("--out", generate.folder, "existing folder to write into")
        ->capture_default_str();
    generateCommand->add_flag("--force", generate.force, "replace existing files");

    groundtool::ImportOptions import;
    CLI::App* importCommand = app.add_subcommand(
        "import",
        "Turn a height raster GDAL reads (GeoTIFF, SRTM .hgt, Esri ASCII grid, 16-bit PNG, an "
        "8-bit greyscale heightmap, ...) into a world: DIR/ground.3dt with cells square on the "
        "ground, north away from the start camera and east to its right, and its texture "
        "DIR/K.bmp computed from the source at full detail. Missing heights are filled from the "
        "valid ones around them. Prints the groundview --height-scale that shows the true "
        "relief.");
    importCommand->add_option("source", import.source, "the height raster")->required();
    importCommand->add_option("--size", import.size, "samples on the longer side of the ground")
        ->transform(decimal(false))
        ->check(CLI::Range(groundtool::kMinGridSize, groundtool::kMaxGridSize))
        ->capture_default_str();
    importCommand
        ->add_option_function<std::string>(
            "--range",
            [&import](const std::string& text) {
                import.range = groundtool::parseHeightRange(text);
            },
            "LOW,HIGH: the source heights of the lowest and highest level, so that neighbouring "
            "tiles match (default: 0,255 for 8-bit sources, otherwise the lowest and highest "
            "height imported)")
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                return groundtool::parseHeightRange(text) ? ""
                                                          : "expected LOW,HIGH with LOW below HIGH";
            },
            "LOW,HIGH"));
    static const std::vector<std::pair<std::string, groundtool::TextureKind>> kTextureKinds = {
        {"relief", groundtool::TextureKind::relief},
        {"hillshade", groundtool::TextureKind::hillshade},
        {"tint", groundtool::TextureKind::tint},
        {"none", groundtool::TextureKind::none}};
    importCommand
        ->add_option_function<std::string>(
            "--texture",
            [&import](const std::string& name) {
                for (const auto& [kindName, kind] : kTextureKinds) {
                    if (kindName == name) {
                        import.texture = kind;
                    }
                }
            },
            "relief (hillshade times a colour tint by height), hillshade, tint, or none "
            "(no K.bmp: the viewer draws the grid untextured)")
        ->check(CLI::IsMember(kTextureKinds))
        ->default_str("relief");
    importCommand
        ->add_option("--texture-size", import.textureSide,
                     "texture pixels per side, a power of two")
        ->transform(decimal(false))
        ->check(CLI::Range(groundtool::kMinTextureSide, groundtool::kMaxTextureSide))
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                const long side = std::strtol(text.c_str(), nullptr, 10);
                return (side & (side - 1)) == 0 ? "" : "expected a power of two, not " + text;
            },
            "power of two"))
        ->capture_default_str();
    importCommand
        ->add_option("--texture-number", import.textureNumber,
                     "texture file number K: the terrain names \"K.bmp\"")
        ->transform(decimal(true))
        ->check(CLI::Range(groundtool::kMinTextureNumber, groundtool::kMaxTextureNumber))
        ->check(kTextureNumber)
        ->capture_default_str();
    importCommand->add_option("--out", import.folder, "existing folder to write into")
        ->capture_default_str();
    importCommand->add_flag("--force", import.force, "replace existing files");

    groundtool::RenderOptions render;
    std::string eye;
    CLI::App* renderCommand = app.add_subcommand(
        "render",
        "Draw what the viewer shows of a .3dt (texture from the file's folder) with the viewer's "
        "frame code and no X server, and save it as PNG.");
    renderCommand->add_option("file", render.terrain, "the terrain file")->required();
    renderCommand->add_option("--out", render.output,
                              "the PNG to write (default: the terrain's name with .png, in the "
                              "working folder)");
    renderCommand->add_option("--width", render.width, "picture width in pixels")
        ->transform(decimal(false))
        ->check(CLI::Range(1, groundtool::kMaxRenderSide))
        ->capture_default_str();
    renderCommand->add_option("--height", render.height, "picture height in pixels")
        ->transform(decimal(false))
        ->check(CLI::Range(1, groundtool::kMaxRenderSide))
        ->capture_default_str();
    renderCommand
        ->add_option("--eye", eye,
                     "camera position X,Z in world units (the viewer starts at 0,0, 2 units "
                     "above the ground)")
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                return groundtool::parseEye(text) ? "" : "expected X,Z, two numbers such as 0,-5";
            },
            "X,Z"));
    renderCommand
        ->add_option("--heading", render.headingDegrees,
                     "degrees turned from the start heading (looking along -z); positive turns "
                     "right like the 'd' key, so 90 looks along +x")
        ->transform(kAngle)
        ->capture_default_str();
    renderCommand
        ->add_option("--height-scale", render.heightScale,
                     "world units for height 127, as groundview --height-scale")
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                float scale = 0.0f;
                return app::parseHeightScale(text, scale) ? ""
                                                          : "expected a number above 0 and at "
                                                            "most 1000, not " +
                                                                text;
            },
            "S"))
        ->capture_default_str();
    renderCommand->add_flag("--force", render.force, "replace an existing PNG");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) {
            return app.exit(error);  // --help
        }
        // A first word that is no command reads better than "a subcommand is required".
        if (argc > 1 && argv[1][0] != '-' && app.get_subcommands().empty()) {
            std::cerr << "groundtool: unknown command " << argv[1]
                      << "; the commands are info, generate, import and render" << std::endl;
            return kExitUsage;
        }
        std::cerr << "groundtool: " << error.what() << " (see groundtool --help)" << std::endl;
        return kExitUsage;
    }

    try {
        if (*info) {
            return groundtool::runInfo(infoFile, std::cout);
        }
        if (*generateCommand) {
            groundtool::runGenerate(generate, std::cout);
        } else if (*importCommand) {
            groundtool::runImport(import, std::cout);
        } else if (*renderCommand) {
            if (const auto position = groundtool::parseEye(eye); !eye.empty() && position) {
                render.eyeX = position->x;
                render.eyeZ = position->z;
            }
            groundtool::runRender(render, std::cout, std::cerr);
        }
    } catch (const groundtool::ToolError& error) {
        std::cerr << "groundtool: " << error.what() << std::endl;
        return error.status();
    } catch (const std::exception& error) {
        std::cerr << "groundtool: " << error.what() << std::endl;
        return groundtool::kExitFailure;
    }
    return groundtool::kExitSuccess;
}
