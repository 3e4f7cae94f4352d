// The work of groundtool export, after its options are read.

#include <algorithm>
#include <cctype>
#include <cmath>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "decimal_text.h"
#include "elevation_world.h"
#include "export_command.h"
#include "export_mesh.h"
#include "export_source.h"
#include "export_texture.h"
#include "export_writers.h"
#include "file_output.h"
#include "image_files.h"
#include "tool_error.h"
#include "world.h"

namespace groundtool {

using raster::decimalText;

namespace {

struct NamedFormat {
    const char* name;
    ExportFormat format;
};
constexpr NamedFormat kFormats[] = {{"stl", ExportFormat::stl}, {"obj", ExportFormat::obj},
                                    {"glb", ExportFormat::glb}, {"png", ExportFormat::png},
                                    {"r16", ExportFormat::raw}, {"raw", ExportFormat::raw}};

bool isMesh(ExportFormat format) {
    return format == ExportFormat::stl || format == ExportFormat::obj ||
           format == ExportFormat::glb;
}

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// "out/hill.stl" as "out/hill" and ".stl"; a name without a dot has no extension.
std::pair<std::string, std::string> splitExtension(const std::string& path) {
    const std::string name = world::nameOf(path);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) {
        return {path, ""};
    }
    const std::size_t cut = path.size() - (name.size() - dot);
    return {path.substr(0, cut), path.substr(cut)};
}

// The files of one tile: the main one, and for OBJ its material and texture beside it.
struct TileFiles {
    std::string main;
    std::string material;
    std::string texture;
};

std::vector<TileFiles> outputFiles(const ExportOptions& options, ExportFormat format) {
    const auto [stem, extension] = splitExtension(options.output);
    std::vector<TileFiles> files;
    for (int row = 1; row <= options.tilesDown; ++row) {
        for (int column = 1; column <= options.tilesAcross; ++column) {
            const bool single = options.tilesAcross == 1 && options.tilesDown == 1;
            const std::string tileStem =
                single ? stem : stem + "_" + std::to_string(column) + "_" + std::to_string(row);
            TileFiles tile{tileStem + extension, "", ""};
            if (format == ExportFormat::obj) {
                tile.material = tileStem + ".mtl";
                tile.texture = tileStem + ".png";
            }
            files.push_back(tile);
        }
    }
    return files;
}

void checkOptions(const ExportOptions& options, ExportFormat format, bool world) {
    if (options.widthMm > 0.0 && format != ExportFormat::stl && format != ExportFormat::obj) {
        throw ToolError("--width-mm is for STL and OBJ, which are printed", kExitUsage);
    }
    if (options.baseGiven && !isMesh(format)) {
        throw ToolError("--base-mm is for STL, OBJ and glTF, which have an underside", kExitUsage);
    }
    if (world && options.samples != 0) {
        throw ToolError("a .3dt exports at its own grid; --samples is for elevation rasters",
                        kExitUsage);
    }
}

// "30 m", or "21.5 x 30.9 m" where the cells are not square.
std::string spacingText(const HeightField& field) {
    return field.spacingEast == field.spacingSouth
               ? decimalText(field.spacingEast) + " m"
               : decimalText(field.spacingEast) + " x " + decimalText(field.spacingSouth) + " m";
}

HeightField checkedField(HeightField field, const std::string& source) {
    const std::size_t count = static_cast<std::size_t>(std::max(field.columns, 0)) *
                              static_cast<std::size_t>(std::max(field.rows, 0));
    if (field.columns < 2 || field.rows < 2 || field.heights.size() != count ||
        !(field.spacingEast > 0.0) || !std::isfinite(field.spacingEast) ||
        !(field.spacingSouth > 0.0) || !std::isfinite(field.spacingSouth)) {
        throw ToolError("cannot export " + source + ": it holds no grid of 2 x 2 samples or more");
    }
    if (!std::all_of(field.heights.begin(), field.heights.end(),
                     [](float h) { return std::isfinite(h); })) {
        throw ToolError("cannot export " + source + ": some heights are missing");
    }
    return field;
}

std::string fileSizeText(std::size_t bytes) {
    constexpr double kKilobyte = 1000.0;
    const double size = static_cast<double>(bytes);
    if (size < kKilobyte) {
        return std::to_string(bytes) + " bytes";
    }
    if (size < kKilobyte * kKilobyte) {
        return decimalText(size / kKilobyte) + " kB";
    }
    return decimalText(size / (kKilobyte * kKilobyte)) + " MB";
}

std::string metres(double value) {
    return decimalText(value) + " m";
}

// What a heightmap level stands for, precise enough to turn levels back into heights.
std::string exactMetres(double value) {
    constexpr int kDigits = 8;
    std::ostringstream text;
    text.precision(kDigits);
    text << value << " m";
    return text.str();
}

// Lowest and highest height of a tile, in true metres.
std::pair<double, double> heightRange(const HeightField& field, const TileSpan& span) {
    double lowest = field.at(span.firstColumn, span.firstRow);
    double highest = lowest;
    for (int row = span.firstRow; row <= span.lastRow; ++row) {
        for (int column = span.firstColumn; column <= span.lastColumn; ++column) {
            lowest = std::min(lowest, static_cast<double>(field.at(column, row)));
            highest = std::max(highest, static_cast<double>(field.at(column, row)));
        }
    }
    return {lowest, highest};
}

class Exporter {
  public:
    Exporter(const ExportOptions& options, ExportFormat format, const HeightField& field,
             const GroundImage& image)
        : options_(options),
          format_(format),
          field_(field),
          image_(image),
          staged_(options.force) {}

    void write(const TileSpan& span, const TileFiles& files) {
        const auto [lowest, highest] = heightRange(field_, span);
        const std::string heights =
            "heights " + metres(lowest) + " to " + metres(highest) +
            (options_.exaggeration != 1.0
                 ? ", exaggerated " + raster::exaggerationText(options_.exaggeration) + " times"
                 : "");
        if (isMesh(format_)) {
            writeMesh(span, files, heights);
        } else {
            writeHeightmap(span, files, heights);
        }
    }

    void commit(std::ostream& out) {
        staged_.commit();
        for (const std::string& line : report_) {
            out << line << "\n";
        }
    }

  private:
    void stage(const std::string& path, const Bytes& bytes, const std::string& description) {
        staged_.stage(path, bytes);
        report_.push_back("wrote " + path + ": " + description + ", " + fileSizeText(bytes.size()));
    }

    void writeMesh(const TileSpan& span, const TileFiles& files, const std::string& heights) {
        const SolidScale scale =
            solidScale(field_, options_.exaggeration, options_.widthMm, options_.baseMm);
        SolidMesh mesh = buildSolid(field_, span, scale);
        // The heights fit a float once exaggerated; scaling up for print can still overflow.
        if (!std::all_of(mesh.positions.begin(), mesh.positions.end(),
                         [](float value) { return std::isfinite(value); })) {
            throw ToolError("cannot export " + options_.source +
                            (options_.widthMm > 0.0
                                 ? " " + decimalText(options_.widthMm) + " mm wide"
                                 : std::string()) +
                            ": its heights go beyond what a float holds");
        }
        const double unit = scale.unitsPerMetre;
        const double highest = heightRange(field_, span).second * options_.exaggeration;
        const std::string size =
            decimalText((span.columns() - 1) * field_.spacingEast * unit) + " x " +
            decimalText((span.rows() - 1) * field_.spacingSouth * unit) + " x " +
            decimalText(highest * unit - scale.baseLevel) + (options_.widthMm > 0.0 ? " mm" : " m");
        const std::string description =
            std::to_string(mesh.triangleCount()) + " triangles, " + size + ", " + heights;
        if (format_ == ExportFormat::stl) {
            stage(files.main, encodeStl(mesh, field_.depth() * unit), description);
            return;
        }
        const GroundImage part = tileImage(image_, field_, span, mesh);
        const Bytes png = encodePng(part.width, part.height, part.rgb);
        if (format_ == ExportFormat::glb) {
            stage(files.main, encodeGlb(mesh, png), description);
            return;
        }
        stage(files.main, encodeObj(mesh, world::nameOf(files.material)), description);
        stage(files.material, encodeMaterial(world::nameOf(files.texture)),
              "material for " + world::nameOf(files.main));
        stage(files.texture, png,
              "texture " + std::to_string(part.width) + " x " + std::to_string(part.height));
    }

    void writeHeightmap(const TileSpan& span, const TileFiles& files, const std::string& heights) {
        // One level range for every tile, so neighbours read back alike.
        const LevelRange range = levelRange(field_, options_.exaggeration);
        const std::vector<std::uint16_t> levels =
            heightLevels(field_, span, options_.exaggeration, range);
        const std::string description =
            std::to_string(span.columns()) + " x " + std::to_string(span.rows()) + " samples, " +
            spacingText(field_) + " apart, " + heights + "; 0 stands for " +
            exactMetres(range.low) + " and 65535 for " + exactMetres(range.high);
        stage(files.main,
              format_ == ExportFormat::png ? encodePng16(span.columns(), span.rows(), levels)
                                           : encodeRaw16(levels),
              description);
    }

    const ExportOptions& options_;
    ExportFormat format_;
    const HeightField& field_;
    const GroundImage& image_;
    StagedOutput staged_;
    std::vector<std::string> report_;
};

}  // namespace

ExportFormat exportFormat(const std::string& nameOrExtension, const std::string& output) {
    const std::string wanted = lowerCase(nameOrExtension);
    for (const NamedFormat& named : kFormats) {
        if (wanted == named.name) {
            return named.format;
        }
    }
    throw ToolError("cannot tell which format to write " + output +
                        " in; name it .stl, .obj, .glb, .png, .r16 or .raw, or use --format",
                    kExitUsage);
}

void runExport(const ExportOptions& options, OpenedWorld opened, std::ostream& out,
               std::ostream& warnings) {
    const std::string extension = splitExtension(options.output).second;
    const ExportFormat format = exportFormat(
        options.format.empty() ? extension.substr(extension.empty() ? 0 : 1) : options.format,
        options.output);
    const bool world = opened.classic.has_value();
    checkOptions(options, format, world);
    const OutputFolder folder(world::folderOf(options.output));
    const std::vector<TileFiles> files = outputFiles(options, format);
    {
        const StagedOutput check(options.force);
        for (const TileFiles& tile : files) {
            for (const std::string* path : {&tile.main, &tile.material, &tile.texture}) {
                if (!path->empty()) {
                    check.checkTarget(*path);
                }
            }
        }
    }

    const int maxSamples =
        options.samples != 0 ? options.samples : samplesForTriangles(kDefaultMaxTriangles);
    ExportSource source =
        world ? loadTerrainSource(options.source, *opened.classic, options.heightScale)
              : loadRasterSource(*opened.raster, maxSamples,
                                 format == ExportFormat::obj || format == ExportFormat::glb);
    opened = OpenedWorld{};  // a raster's reader ends: everything is read
    for (const std::string& warning : source.warnings) {
        warnings << "groundtool: " << options.source << ": " << warning << "\n";
    }
    HeightField field = checkedField(std::move(source.field), options.source);
    if (!world) {
        field = averagedDown(field, maxSamples);
    }
    if (const std::string problem = raster::exaggerationProblem(field, options.exaggeration);
        !problem.empty()) {
        throw ToolError("cannot export " + options.source + ": " + problem);
    }
    if (source.image.width <= 0 || source.image.height <= 0 ||
        source.image.rgb.size() != static_cast<std::size_t>(source.image.width) *
                                       static_cast<std::size_t>(source.image.height) * 3) {
        source.image = plainGround();
    }
    const std::vector<TileSpan> tiles = splitTiles(field, options.tilesAcross, options.tilesDown);

    Exporter exporter(options, format, field, source.image);
    for (std::size_t i = 0; i < tiles.size(); ++i) {
        exporter.write(tiles[i], files[i]);
    }
    exporter.commit(out);
}

}  // namespace groundtool
