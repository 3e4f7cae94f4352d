// groundtool import's options, registered beside the command's run function.

#include <iostream>

#include "command.h"
#include "import.h"
#include "mosaic.h"
#include "option_checks.h"
#include "tool_error.h"
#include "view_settings_cli.h"

namespace groundtool {

Command addImportCommand(CLI::App& app) {
    auto options = std::make_shared<ImportOptions>();
    CLI::App* command = app.add_subcommand(
        "import",
        "Turn a height raster GDAL reads (GeoTIFF, SRTM .hgt, Esri ASCII grid, 16-bit PNG, an "
        "8-bit greyscale heightmap, ...) into a world: DIR/ground.3dt with cells square on the "
        "ground, north away from the start camera and east to its right, and its texture "
        "DIR/K.bmp computed from the source at full detail. Missing heights are filled from the "
        "valid ones around them. Prints the groundview --height-scale that shows the true "
        "relief.");
    command
        ->add_option("source", options->sources,
                     "the height raster; several, or a folder of them, are joined into one")
        ->required();
    command->add_option("--size", options->size, "samples on the longer side of the ground")
        ->transform(decimal(false))
        ->check(CLI::Range(kMinGridSize, kMaxGridSize))
        ->capture_default_str();
    command
        ->add_option_function<std::string>(
            "--range",
            [options](const std::string& text) { options->range = parseHeightRange(text); },
            "LOW,HIGH: the source heights of the lowest and highest level, so that neighbouring "
            "tiles match (default: 0,255 for 8-bit sources, otherwise the lowest and highest "
            "height imported)")
        ->check(CLI::Validator(
            [](std::string& text) -> std::string { return heightRangeProblem(text); }, "LOW,HIGH"));
    static const std::vector<std::pair<std::string, TextureKind>> kTextureKinds = {
        {"relief", TextureKind::relief},
        {"hillshade", TextureKind::hillshade},
        {"tint", TextureKind::tint},
        {"none", TextureKind::none}};
    command
        ->add_option_function<std::string>(
            "--texture",
            [options](const std::string& name) {
                for (const auto& [kindName, kind] : kTextureKinds) {
                    if (kindName == name) {
                        options->texture = kind;
                    }
                }
            },
            "relief (hillshade times a colour tint by height), hillshade, tint, or none "
            "(no K.bmp: the viewer draws the grid untextured)")
        ->check(CLI::IsMember(kTextureKinds))
        ->default_str("relief");
    command
        ->add_option("--texture-size", options->textureSide,
                     "texture pixels per side, a power of two")
        ->transform(decimal(false))
        ->check(CLI::Range(kMinTextureSide, kMaxTextureSide))
        ->check(kPowerOfTwo)
        ->capture_default_str();
    addTextureNumberOption(*command, options->textureNumber);
    addOutFolderOption(*command, options->folder);
    command->add_flag("--force", options->force, "replace existing files");
    raster::addBandOption(*command, options->band);
    return {command, [options] {
                options->source = raster::shownName(options->sources);
                runImport(*options, std::cout);
                return kExitSuccess;
            }};
}

}  // namespace groundtool
