#include "info.h"

#include <GL/gl.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <iomanip>
#include <iostream>
#include <limits>
#include <optional>
#include <ostream>
#include <sstream>
#include <utility>
#include <vector>

#include "app.h"
#include "command.h"
#include "decimal_text.h"
#include "elevation_grid.h"
#include "headless_gl.h"
#include "import.h"
#include "open_world.h"
#include "option_checks.h"
#include "option_values.h"
#include "printable.h"
#include "pyramid_cache.h"
#include "terrain.h"
#include "tool_error.h"
#include "view_settings_cli.h"
#include "viewer_load.h"
#include "world.h"
#include "world_note.h"

namespace groundtool {

namespace {

constexpr int kContextSide = 16;  // the check draws nothing; any pbuffer will do

struct Findings {
    std::vector<std::string> problems;  // what the viewer would meet without saying so
    std::vector<std::string> notes;     // worth knowing, harmless
};

std::string glText(GLenum name) {
    const GLubyte* text = glGetString(name);
    return text != nullptr ? reinterpret_cast<const char*>(text) : "unknown";
}

}  // namespace

// What the viewer does with a texture it could not read: a size it kept is still uploaded.
std::string groundWithoutPixels(int width, int height) {
    if (width > 0 && height > 0) {
        return "uploads a " + std::to_string(width) + " x " + std::to_string(height) +
               " texture with no pixels, so the ground is drawn in undefined colours";
    }
    return "draws the ground untextured";
}

namespace {

std::string worldY(float height) {
    std::ostringstream text;
    text << std::fixed << std::setprecision(3)
         << height / scene::kHeightDivisor * scene::kDefaultHeightScale;
    return text.str();
}

void printHeights(const Terrain& terrain, std::ostream& out) {
    constexpr int kBins = 8;
    constexpr int kBinWidth = 256 / kBins;
    constexpr int kBarWidth = 32;
    std::array<long, kBins> counts{};
    float lowest = 127.0f;
    float highest = -128.0f;
    for (const std::vector<float>& row : terrain.heights()) {
        for (const float height : row) {
            lowest = std::min(lowest, height);
            highest = std::max(highest, height);
            ++counts[static_cast<std::size_t>((static_cast<int>(height) + 128) / kBinWidth)];
        }
    }
    if (terrain.rows() == 0 || terrain.columns() == 0) {
        out << "heights     none\n";
        return;
    }
    out << "heights     " << lowest << " to " << highest << " (world y " << worldY(lowest) << " to "
        << worldY(highest) << ")\n";
    const long most = *std::max_element(counts.begin(), counts.end());
    for (int bin = 0; bin < kBins; ++bin) {
        const int from = -128 + bin * kBinWidth;
        const long count = counts[static_cast<std::size_t>(bin)];
        const auto bar = static_cast<int>((count * kBarWidth + most - 1) / most);
        out << "            " << std::setw(4) << from << " to " << std::setw(4)
            << from + kBinWidth - 1 << "  " << std::left << std::setw(kBarWidth)
            << std::string(static_cast<std::size_t>(bar), '#') << std::right << " " << count
            << "\n";
    }
}

void checkFile(const std::string& path, const TerrainReport& load, const Terrain& terrain,
               Findings& findings) {
    if (!load.found) {
        findings.problems.push_back(fileError("cannot open", path, load.openFailure) +
                                    "; the viewer shows only the sky");
        return;
    }
    if (!load.accepted) {
        return;  // the viewer's own entry says why
    }
    const auto headerBytes = static_cast<std::int64_t>(terrain_format::kHeaderBytes);
    if (load.headerBytes < headerBytes) {
        findings.problems.push_back("the file ends inside its 8-byte header, after " +
                                    std::to_string(load.headerBytes) +
                                    " bytes; the viewer fills in the missing fields silently");
    } else if (load.bytesSupplied < load.bytesNeeded) {
        findings.problems.push_back(
            "the file holds " + std::to_string(load.bytesSupplied - headerBytes) + " of its " +
            std::to_string(load.bytesNeeded - headerBytes) +
            " height bytes; the viewer reads the missing ones as 0 without a word");
    }
    if (load.bytesAfter() > 0) {
        findings.notes.push_back(std::to_string(load.bytesAfter()) +
                                 " bytes follow the heights; the viewer never reads them");
    }
    if (terrain.rows() < kMinGridSide || terrain.columns() < kMinGridSide) {
        findings.problems.push_back(
            "a grid of " + std::to_string(terrain.rows()) + " x " +
            std::to_string(terrain.columns()) + " draws nothing; the viewer needs at least " +
            std::to_string(kMinGridSide) + " x " + std::to_string(kMinGridSide) + " samples");
    }
    if (terrain.tileX() > terrain.columns() && terrain.columns() > 0) {
        findings.notes.push_back("tileX " + std::to_string(terrain.tileX()) +
                                 " is more than the grid's columns: less than one repeat of "
                                 "the texture shows along z");
    }
    if (terrain.tileY() > terrain.rows() && terrain.rows() > 0) {
        findings.notes.push_back("tileY " + std::to_string(terrain.tileY()) +
                                 " is more than the grid's rows: less than one repeat of the "
                                 "texture shows along x");
    }
}

void checkTexture(const std::string& name, const std::string& folder, const BitmapReport& look,
                  const Bitmap& kept, int maxTextureSize, bool endsAtFirstFrame,
                  Findings& findings) {
    if (!look.found) {
        findings.problems.push_back(
            fileError("texture " + name + " cannot be opened in", folder, look.openFailure) +
            "; the viewer draws the ground untextured and says nothing");
        return;
    }
    if (!look.accepted) {
        findings.notes.push_back("the viewer cannot use " + name +
                                 " (its message above says why) and " +
                                 groundWithoutPixels(kept.width(), kept.height()));
        return;
    }
    const std::string size = std::to_string(look.width) + " x " + std::to_string(look.height);
    if (look.width > maxTextureSize || look.height > maxTextureSize) {
        findings.problems.push_back(name + " is " + size +
                                    ", larger than this OpenGL's maximum texture size " +
                                    std::to_string(maxTextureSize) +
                                    "; the upload fails and the viewer ends at its first frame");
    } else if (look.width == 0 || look.height == 0) {
        findings.problems.push_back(name + " has no pixels (" + size +
                                    "); the viewer draws the ground untextured");
    } else if (!app::isPowerOfTwo(look.width) || !app::isPowerOfTwo(look.height)) {
        findings.notes.push_back(size +
                                 " is not a power of two on each side; OpenGL 1.1 refuses "
                                 "such textures (this OpenGL " +
                                 std::string(endsAtFirstFrame ? "does too" : "takes it") + ")");
    }
    const auto headerBytes = static_cast<std::int64_t>(bmp::kHeaderBytes);
    if (look.bytesSupplied < look.bytesNeeded) {
        findings.problems.push_back(name + " holds " +
                                    std::to_string(look.bytesSupplied - headerBytes) + " of its " +
                                    std::to_string(look.bytesNeeded - headerBytes) +
                                    " pixel bytes; the viewer shows the rest black");
    }
    if (look.dataOffset >= 0 && look.dataOffset != headerBytes) {
        findings.problems.push_back(
            name + " keeps its pixels at byte " + std::to_string(look.dataOffset) +
            ", but the viewer reads them from byte 54 on; the texture shows shifted");
    }
}

void printTexture(const Terrain& terrain, const std::string& name, const std::string& folder,
                  const BitmapReport& look, std::ostream& out) {
    out << "texture     " << name << ", opened in " << folder
        << " (the viewer opens it in the world's folder)\n";
    if (terrain.tileX() > 0 && terrain.tileY() > 0) {
        out << "            repeats every " << terrain.tileX() << " grid columns along z and "
            << terrain.tileY() << " grid rows along x\n";
    }
    out << "bitmap      ";
    if (!look.found) {
        out << "missing\n";
    } else if (look.accepted) {
        out << look.width << " x " << look.height << " pixels, 24-bit uncompressed BMP\n";
    } else if (look.width > 0 || look.height > 0) {
        out << look.width << " x " << look.height << " pixels, " << look.bitsPerPixel
            << "-bit, compression " << look.compression
            << "; the viewer reads only 24-bit uncompressed BMP\n";
    } else {
        out << "not a BMP the viewer reads\n";
    }
}

void printGrid(const Terrain& terrain, std::ostream& out) {
    out << "header      type 1 (terrain), rows " << terrain.rows() << ", columns "
        << terrain.columns() << ", texture number " << terrain.textureNumber() << ", tileX "
        << terrain.tileX() << ", tileY " << terrain.tileY() << "\n";
    out << "grid        " << terrain.rows() << " rows along x by " << terrain.columns()
        << " columns along z";
    if (terrain.rows() > 0 && terrain.columns() > 0) {
        const auto origin = static_cast<int>(scene::kOrigin);
        out << ", covering x " << origin << " to " << origin + terrain.rows() - 1 << " and z "
            << origin << " to " << origin + terrain.columns() - 1;
    }
    out << "\n";
}

void printList(const char* title, const std::vector<std::string>& lines, std::ostream& out) {
    if (lines.empty()) {
        return;
    }
    out << "\n" << title << "\n";
    for (const std::string& line : lines) {
        out << "  " << line << "\n";
    }
}

std::string counted(long long count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// "40%" of all the field's samples, said only when there are any.
std::string shareOf(long long count, std::size_t all) {
    return count > 0 ? " (" + percentage(static_cast<std::size_t>(count), all) + ")" : "";
}

// What became of the source's missing samples: "samples with data 60%; 12 voids filled (0.1%);
// 1 region without data (40%) drawn as sea; 0 drawn as a floor".
std::string noDataText(const raster::NoDataSummary& noData, std::size_t all) {
    return "samples with data " + percentage(static_cast<std::size_t>(noData.dataSamples), all) +
           "; " + counted(noData.voidsFilled, "void", "voids") + " filled" +
           shareOf(noData.filledSamples, all) + "; " +
           counted(noData.seaRegions, "region", "regions") + " without data" +
           shareOf(noData.seaSamples, all) + " drawn as sea; " +
           std::to_string(noData.missingRegions) + shareOf(noData.missingSamples, all) +
           " drawn as a floor";
}

// What the viewer walks over of an elevation source, read as it reads it, and what it says of
// it; a pyramid the viewer would build first is not built here.
struct RasterView {
    raster::ElevationGrid grid;  // the walker's field
    std::string note;
    bool streamed = false;
    std::string pyramid;    // of a streamed source without overviews: its file, or "" while missing
    std::string overLimit;  // why the cache won't hold the missing pyramid, "" when it will
};

RasterView viewOf(const raster::ElevationSource& source) {
    const raster::SourceFacts& facts = source.facts();
    RasterView view;
    view.streamed =
        facts.width > raster::largestHeldSide() || facts.height > raster::largestHeldSide();
    if (!view.streamed) {
        view.grid = raster::readElevation(source);
        view.note = view.grid.note;
        return view;
    }
    const std::optional<std::string> pyramid =
        facts.overviews > 0 ? std::nullopt : raster::existingPyramid(source.paths(), facts.band);
    view.pyramid = pyramid.value_or("");
    if (facts.overviews > 0 || pyramid) {
        const raster::ElevationWorld world = raster::loadElevationWorld(source, 1.0);
        view.grid = world.grid;
        view.note = raster::worldNote(source, world);
        return view;
    }
    // Without its pyramid the walker's field is read from the source itself: as many samples,
    // each a box of the source's pixels rather than of its pyramid's.
    view.grid =
        raster::readElevation(source, raster::kDefaultMaxSamples, raster::kStreamedFieldSide);
    view.overLimit = raster::pyramidOverLimit(source);
    view.note = raster::streamedNote(source, view.grid,
                                     StreamLayout(facts.width, facts.height, facts.ground.cellEast,
                                                  facts.ground.cellNorth, 0.0, 0.0),
                                     view.overLimit);
    return view;
}

// What the viewer makes of an elevation raster, read as it reads it. A source it cannot walk
// over throws RasterError with the viewer's reason on one line.
int runRasterInfo(const std::string& path, const raster::ElevationSource& source,
                  std::ostream& out) {
    const RasterView view = viewOf(source);
    const HeightField& field = view.grid.field;
    const raster::Ground& ground = source.ground();
    const bool inMetres = ground.inMetres;

    out << "file        " << printable(path) << ", an elevation raster\n";
    out << "format      " << printable(source.kind());
    if (source.facts().band != 1) {
        out << "; band " << source.facts().band << " read as heights";
    }
    out << "\n";
    out << "coordinates "
        << (view.grid.placement.crsName.empty() ? "none" : view.grid.placement.crsName) << "; "
        << printable(ground.description) << "\n";
    out << "samples     ";
    if (view.streamed) {
        out << source.width() << " x " << source.height() << ", streamed at full resolution\n";
        out << "spacing     " << length(ground.cellEast, inMetres) << " east, "
            << length(ground.cellNorth, inMetres) << " north\n";
    } else {
        out << field.columns << " x " << field.rows;
        if (field.columns == source.width() && field.rows == source.height()) {
            out << ", every cell of the source\n";
        } else {
            out << " of the source's " << source.width() << " x " << source.height()
                << ", averaged down\n";
        }
        out << "spacing     " << length(field.spacingEast, inMetres) << " east, "
            << length(field.spacingSouth, inMetres) << " north\n";
    }
    if (view.streamed && source.facts().overviews == 0) {
        out << "pyramid     "
            << (!view.pyramid.empty() ? printable(view.pyramid)
                : view.overLimit.empty()
                    ? "none yet; the viewer builds it into the cache when it first opens the source"
                    : "none; the cache's limit can't hold it")
            << "\n";
    }
    const auto [lowest, highest] = field.drawnRange();
    out << "heights     " << raster::decimalText(lowest) << " to " << length(highest, inMetres)
        << " over the samples drawn\n";
    out << "no data     " << noDataText(view.grid.noData, field.heights.size()) << "\n";
    if (!view.note.empty()) {
        printList("the viewer would say:", {"groundview: " + printable(view.note)}, out);
    }
    out << "\nverdict: the viewer walks over it\n";
    return kExitSuccess;
}

int runClassicInfo(const std::string& path, ClassicWorld classic, std::ostream& out) {
    HeadlessGL gl(kContextSide, kContextSide);
    if (!gl.ok()) {
        throw ToolError("cannot check " + path + ": no OpenGL context (" + gl.error() + ")",
                        kExitCannotCheck);
    }
    app::setFixedState();
    app::enableFixedFeatures();
    GLint maxTextureSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxTextureSize);

    Terrain terrain;
    const ViewerLoad load = loadAsViewer(terrain, std::move(classic));
    const TerrainReport& report = load.report;
    const std::string folder = world::folderOf(path);
    Findings findings;
    checkFile(path, report, terrain, findings);

    out << "file        " << path;
    if (report.found) {
        out << " (" << report.fileBytes << " bytes)";
    }
    out << "\n";
    if (report.accepted) {
        if (world::nameOf(path) != world::kTerrainFileName) {
            findings.notes.push_back(std::string("the viewer opens ") + world::kTerrainFileName +
                                     " by itself; open this one with groundview " + path);
        }
        printGrid(terrain, out);
        printHeights(terrain, out);
        printTexture(terrain, report.textureName, folder, report.texture, out);
        checkTexture(report.textureName, folder, report.texture, terrain.bitmap(), maxTextureSize,
                     load.endsAtFirstFrame, findings);
    }
    out << "OpenGL      " << glText(GL_RENDERER) << ", " << glText(GL_VERSION)
        << ", maximum texture size " << maxTextureSize << "\n";

    std::vector<std::string> messages;
    for (const LoadMessage& message : load.messages) {
        messages.push_back(describe(message));
    }
    if (load.endsAtFirstFrame) {
        findings.notes.push_back(
            "the viewer logs the OpenGL error at the start of its first frame and exits");
    }
    printList("the viewer would say:", messages, out);
    printList("silent problems (the viewer would not mention them):", findings.problems, out);
    printList("notes:", findings.notes, out);

    const bool clean = messages.empty() && findings.problems.empty();
    out << "\nverdict: ";
    if (clean) {
        out << "clean; the viewer loads it without a word\n";
    } else {
        out << "not clean; " << messages.size() << " viewer message"
            << (messages.size() == 1 ? "" : "s") << ", " << findings.problems.size()
            << " silent problem" << (findings.problems.size() == 1 ? "" : "s") << "\n";
    }
    return clean ? kExitSuccess : kExitFailure;
}

}  // namespace

int runInfo(const std::string& path, std::ostream& out) {
    return runInfo(std::vector<std::string>{path}, out);
}

int runInfo(const std::vector<std::string>& paths, std::ostream& out, int band) {
    const std::string& path = paths.front();
    // A path that is no regular file nor folder is told as the terrain loader finds it: it cannot
    // open it.
    struct stat status {};
    const bool folder = stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
    if (paths.size() == 1 && !folder && !world::regularFileProblem(path).empty()) {
        ClassicWorld unopened;
        unopened.report = parseTerrainFile(path, unopened.grid);
        return runClassicInfo(path, std::move(unopened), out);
    }
    OpenedWorld opened = openWorld(paths, band);
    if (opened.raster) {
        return runRasterInfo(opened.raster->shown(), *opened.raster, out);
    }
    return runClassicInfo(folder ? world::terrainPath(path) : path, std::move(*opened.classic),
                          out);
}

}  // namespace groundtool

namespace groundtool {

Command addInfoCommand(CLI::App& app) {
    auto files = std::make_shared<std::vector<std::string>>();
    CLI::App* info = app.add_subcommand(
        "info",
        "Describe a .3dt and its texture and list every problem the viewer would meet, or what "
        "the viewer makes of an elevation raster: its format, coordinate system, samples kept, "
        "spacing, heights and what has no data. Exit status 0: the viewer loads it cleanly; 1: "
        "it would complain or cannot read it; 2: bad usage; 3: no OpenGL to check a .3dt with.");
    info->add_option("file", *files,
                     "the terrain file or elevation raster; several rasters, or a folder of them, "
                     "are joined into one")
        ->required();
    auto band = std::make_shared<int>(0);
    raster::addBandOption(*info, *band);
    return {info, [files, band, info] {
                refuseMisplaced(
                    *info, raster::ViewCommand::exportModel,
                    files->size() > 1 || worldKind(files->front()) == WorldKind::raster);
                return runInfo(*files, std::cout, *band);
            }};
}

}  // namespace groundtool
