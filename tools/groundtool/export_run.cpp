// The work of groundtool export, after its options are read.

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>
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

// The files of one tile: the main one and every file that may go beside it (for OBJ its material
// and texture, for heightmaps what places them and what their levels stand for), all checked
// before any is written. Each name is the main one's stem and a suffix of its own, so no two
// formats of one name clash.
struct TileFiles {
    std::string main;
    std::string stem;
    std::vector<std::string> beside;
};

std::vector<std::string> besideSuffixes(ExportFormat format) {
    switch (format) {
        case ExportFormat::obj:
            return {".mtl", "_texture.png"};
        case ExportFormat::png:
            return {".pgw", ".prj", ".png.aux.xml", ".json"};
        case ExportFormat::raw:
            return {".hdr", ".json"};
        case ExportFormat::asc:
            return {".prj"};
        default:
            return {};
    }
}

std::vector<TileFiles> outputFiles(const ExportOptions& options, ExportFormat format) {
    const auto [stem, extension] = splitExtension(options.output);
    std::vector<TileFiles> files;
    for (int row = 1; row <= options.tilesDown; ++row) {
        for (int column = 1; column <= options.tilesAcross; ++column) {
            const bool single = options.tilesAcross == 1 && options.tilesDown == 1;
            const std::string tileStem =
                single ? stem : stem + "_" + std::to_string(column) + "_" + std::to_string(row);
            TileFiles tile{tileStem + extension, tileStem, {}};
            for (const std::string& suffix : besideSuffixes(format)) {
                tile.beside.push_back(tileStem + suffix);
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
    if (!options.outline.empty() && !isMesh(format)) {
        throw ToolError(
            "--outline is for STL, OBJ and glTF; heightmaps mark where there is no data",
            kExitUsage);
    }
    if (options.exaggeration != 1.0 &&
        (format == ExportFormat::tif || format == ExportFormat::asc)) {
        throw ToolError(
            "--exaggeration is for meshes and 16-bit heightmaps; .tif and .asc hold "
            "true heights",
            kExitUsage);
    }
    if (world && (!options.area.empty() || !options.areaLatLon.empty())) {
        throw ToolError("a .3dt exports whole; --area and --area-latlon are for elevation rasters",
                        kExitUsage);
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
    switch (field.fault()) {
        case FieldFault::shape:
            throw ToolError("cannot export " + source + ": it holds no grid of " +
                            std::to_string(kMinGridSide) + " x " + std::to_string(kMinGridSide) +
                            " samples or more");
        case FieldFault::heights:
            throw ToolError("cannot export " + source + ": some heights are missing");
        case FieldFault::none:
            break;
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

// Precise enough to turn levels back into heights, and to put a model back to the metre.
std::string exactNumber(double value) {
    constexpr int kDigits = 10;
    std::ostringstream text;
    text.precision(kDigits);
    text << value;
    return text.str();
}

// What a heightmap level stands for.
std::string exactMetres(double value) {
    return exactNumber(value) + " m";
}

// Lowest and highest height of a tile, in true metres; with a cut outline, of the ground drawn.
std::pair<double, double> heightRange(const HeightField& field, const TileSpan& span,
                                      Outline outline) {
    const HeightBounds bounds = field.drawnRange(span.firstColumn, span.firstRow, span.lastColumn,
                                                 span.lastRow, outline == Outline::fill);
    if (bounds.empty()) {
        return {field.at(span.firstColumn, span.firstRow),
                field.at(span.firstColumn, span.firstRow)};
    }
    return {bounds.low, bounds.high};
}

class Exporter {
  public:
    Exporter(const ExportOptions& options, ExportFormat format, const HeightField& field,
             const GroundImage& image, const Georeference& place)
        : options_(options),
          format_(format),
          field_(field),
          image_(image),
          place_(place),
          outline_(isMesh(format) && options.outline != "fill" ? Outline::cut : Outline::fill),
          staged_(options.force) {}

    void write(const TileSpan& span, const TileFiles& files) {
        const auto [lowest, highest] = heightRange(field_, span, outline_);
        const std::string heights =
            "heights " + metres(lowest) + " to " + metres(highest) +
            (options_.exaggeration != 1.0
                 ? ", drawn x " + raster::exaggerationText(options_.exaggeration)
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
        SolidScale scale =
            solidScale(field_, options_.exaggeration, options_.widthMm, options_.baseMm, outline_);
        // A base asked for joins the islands: a plate half its thickness under them all.
        if (options_.baseGiven && outline_ == Outline::cut) {
            scale.plate = options_.baseMm / 2.0;
        }
        SolidMesh mesh = buildSolid(field_, span, scale, outline_);
        // The heights fit a float once exaggerated; scaling up for print can still overflow.
        const auto finite = [](const std::vector<float>& values) {
            return std::all_of(values.begin(), values.end(),
                               [](float value) { return std::isfinite(value); });
        };
        if (!finite(mesh.positions) || !finite(mesh.normals)) {
            throw ToolError("cannot export " + options_.source +
                            (options_.widthMm > 0.0
                                 ? " " + decimalText(options_.widthMm) + " mm wide"
                                 : std::string()) +
                            ": its heights go beyond what a float holds");
        }
        const double unit = scale.unitsPerMetre;
        const double highest = heightRange(field_, span, outline_).second * options_.exaggeration;
        const std::string size =
            decimalText((span.columns() - 1) * field_.spacingEast * unit) + " x " +
            decimalText((span.rows() - 1) * field_.spacingSouth * unit) + " x " +
            decimalText(highest * unit - scale.baseLevel) + (options_.widthMm > 0.0 ? " mm" : " m");
        const std::string description = std::to_string(mesh.triangleCount()) + " triangles, " +
                                        size + ", " + heights + "; " + placing(scale);
        if (format_ == ExportFormat::stl) {
            stage(files.main, encodeStl(mesh), description);
            return;
        }
        const GroundImage part = tileImage(image_, field_, span, mesh);
        const Bytes png = encodePng(part.width, part.height, part.rgb);
        if (format_ == ExportFormat::glb) {
            stage(files.main, encodeGlb(mesh, png), description);
            return;
        }
        const std::string& material = files.beside[0];
        const std::string& texture = files.beside[1];
        stage(files.main, encodeObj(mesh, world::nameOf(material)), description);
        stage(material, encodeMaterial(world::nameOf(texture)),
              "material for " + world::nameOf(files.main));
        stage(texture, png,
              "texture " + std::to_string(part.width) + " x " + std::to_string(part.height));
    }

    // How to put a centred model back where its ground lies: what its origin stands for, and for
    // a print, what one millimetre stands for.
    std::string placing(const SolidScale& scale) const {
        const double middleColumn = (field_.columns - 1) / 2.0;
        const double middleRow = (field_.rows - 1) / 2.0;
        const std::string point =
            place_.placed ? "(" + exactNumber(place_.originX + middleColumn * place_.stepX) + ", " +
                                exactNumber(place_.originY + middleRow * place_.stepY) +
                                ") in the source's coordinates"
                          : exactNumber(middleColumn * field_.spacingEast) + " m east and " +
                                exactNumber(middleRow * field_.spacingSouth) +
                                " m south of the north-west corner";
        const double up = scale.unitsPerMetre * options_.exaggeration;
        std::string text = "origin at " + point + ", base at " + exactMetres(scale.baseLevel / up);
        if (options_.widthMm > 0.0) {
            text +=
                ", 1 mm for " + decimalText(1.0 / scale.unitsPerMetre) + " m" +
                (options_.exaggeration != 1.0 ? " across, " + decimalText(1.0 / up) + " m up" : "");
        }
        return text;
    }

    void writeHeightmap(const TileSpan& span, const TileFiles& files, const std::string& heights) {
        const int width = span.columns();
        const int height = span.rows();
        Georeference place = place_;
        place.originX += span.firstColumn * place.stepX;
        place.originY += span.firstRow * place.stepY;
        const std::string samples = std::to_string(width) + " x " + std::to_string(height) +
                                    " samples, " + spacingText(field_) + " apart, " + heights;
        if (format_ == ExportFormat::tif || format_ == ExportFormat::asc) {
            const std::vector<float> metres = tileHeights(field_, span);
            const std::string description =
                samples + "; Float32 metres" +
                (field_.complete() ? ""
                                   : ", " + decimalText(kNoDataMetres) + " where there is none");
            if (format_ == ExportFormat::tif) {
                stage(files.main, encodeGeoTiff(width, height, metres, place),
                      "GeoTIFF, " + description);
            } else {
                stage(files.main, encodeAsciiGrid(width, height, metres, place),
                      "ASCII grid, " + description);
                stageProjection(files.beside[0], place);
            }
            return;
        }
        // One level range for every tile, so neighbours read back alike.
        const LevelRange range = levelRange(field_, options_.exaggeration);
        const std::vector<std::uint16_t> levels =
            heightLevels(field_, span, options_.exaggeration, range);
        const std::string scale =
            "0 stands for " + exactMetres(range.low) + " and 65535 for " + exactMetres(range.high);
        const std::string description = samples + "; " + scale;
        if (format_ == ExportFormat::png) {
            stage(files.main, encodePng16(width, height, levels, "heights: " + scale), description);
            if (place.placed) {
                stage(files.beside[0], worldFile(place),
                      "world file for " + world::nameOf(files.main));
            }
            stageProjection(files.beside[1], place);
            if (const Bytes notes = gdalNotes(place.crsWkt); !notes.empty()) {
                stage(files.beside[2], notes, "coordinate system of " + world::nameOf(files.main));
            }
        } else {
            stage(files.main, encodeRaw16(levels), description);
            stage(files.beside[0],
                  enviHeader(width, height, place, "groundtool heightmap; " + scale),
                  "ENVI header for " + world::nameOf(files.main));
        }
        stage(files.beside.back(),
              heightmapJson(width, height, range, options_.exaggeration, field_, place),
              "scale of " + world::nameOf(files.main));
    }

    void stageProjection(const std::string& path, const Georeference& place) {
        const Bytes prj = projectionFile(place.crsWkt);
        if (!prj.empty()) {
            stage(path, prj, "coordinate system of " + world::nameOf(splitExtension(path).first));
        }
    }

    const ExportOptions& options_;
    ExportFormat format_;
    const HeightField& field_;
    const GroundImage& image_;
    Georeference place_;
    Outline outline_;
    StagedOutput staged_;
    std::vector<std::string> report_;
};

raster::SourceWindow rasterWindow(const ExportOptions& options,
                                  const raster::ElevationSource& source) {
    const raster::SourceFacts& facts = source.facts();
    if (!options.area.empty()) {
        return areaWindow(facts, options.area, false);
    }
    if (!options.areaLatLon.empty()) {
        return areaWindow(facts, options.areaLatLon, true);
    }
    return {0.0, 0.0, static_cast<double>(facts.width), static_cast<double>(facts.height)};
}

}  // namespace

std::uint64_t defaultTriangles(ExportFormat format) {
    return format == ExportFormat::obj   ? kDefaultObjTriangles
           : format == ExportFormat::glb ? kDefaultGlbTriangles
                                         : kDefaultMaxTriangles;
}

ExportFormat exportFormat(const std::string& nameOrExtension, const std::string& output) {
    const std::string wanted = lowerCase(nameOrExtension);
    for (const NamedFormat& named : kExportFormats) {
        if (wanted == named.name) {
            return named.format;
        }
    }
    throw ToolError("cannot tell which format to write " + output + " in; name it " +
                        exportFormatList(".") + ", or use --format",
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
            check.checkTarget(tile.main);
            for (const std::string& path : tile.beside) {
                check.checkTarget(path);
            }
        }
    }

    const int maxSamples =
        options.samples != 0 ? options.samples : samplesForTriangles(defaultTriangles(format));
    ExportSource source =
        world ? loadTerrainSource(options.source, *opened.classic, options.heightScale)
              : loadRasterSource(*opened.raster, rasterWindow(options, *opened.raster), maxSamples,
                                 format == ExportFormat::obj || format == ExportFormat::glb,
                                 isMesh(format) && options.outline != "fill");
    opened = OpenedWorld{};  // a raster's reader ends: everything is read
    for (const std::string& warning : source.warnings) {
        warnings << "groundtool: " << options.source << ": " << warning << "\n";
    }
    HeightField field = checkedField(std::move(source.field), options.source);
    if (!world) {
        const int columns = field.columns;
        const int rows = field.rows;
        field = averagedDown(field, maxSamples);
        // The corners stay where they were.
        source.place.stepX *= static_cast<double>(columns - 1) / (field.columns - 1);
        source.place.stepY *= static_cast<double>(rows - 1) / (field.rows - 1);
        if (options.samples > std::max(field.columns, field.rows)) {
            warnings << "groundtool: " << options.source << ": kept its own " << field.columns
                     << " x " << field.rows << " samples; --samples " << options.samples
                     << " asks for more than it holds\n";
        }
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

    Exporter exporter(options, format, field, source.image, source.place);
    for (std::size_t i = 0; i < tiles.size(); ++i) {
        exporter.write(tiles[i], files[i]);
    }
    exporter.commit(out);
}

}  // namespace groundtool
