// groundtool info as a user runs it, in a folder of its own: the report, the exit status, and
// nothing on standard error or in a log; for an elevation raster, what the viewer makes of it.

#include <GL/gl.h>
#include <gdal.h>
#include <gtest/gtest.h>
#include <ogr_srs_api.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <sstream>

#include "bmp_format.h"
#include "headless_gl.h"
#include "test_files.h"
#include "tool_runner.h"

namespace fs = std::filesystem;

namespace {

const Bytes kHeights = {0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120, 127, 0x80, 0xFF};

struct InfoCase {
    std::string name;
    std::function<void(const std::string& world)> makeFiles;  // in the folder "world"
    int status;
    std::vector<std::string> mentions;  // lines or parts of lines the report must hold
};

struct Report {
    int status;
    std::string text;
    std::string leakedStderr;
};

// The tool run in folder, as a user there would run it.
Report info(const TemporaryFolder& folder, const std::vector<std::string>& paths,
            const std::vector<std::string>& environment = {}) {
    std::vector<std::string> arguments = {"info"};
    arguments.insert(arguments.end(), paths.begin(), paths.end());
    const ToolRun run = runTool(arguments, folder.path(), std::chrono::seconds(120), environment);
    return {run.status, run.out, run.err};
}

int maxTextureSize() {
    HeadlessGL gl(16, 16);
    GLint size = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &size);
    return size;
}

void goodTerrain(const std::string& world) {
    writeFile(world + "/ground.3dt", terrainBytes(4, 4, 1, 2, 2, kHeights));
}
void goodTexture(const std::string& world) {
    writeFile(world + "/1.bmp", solidBitmapBytes(8, 8, {90, 120, 60}));
}

}  // namespace

TEST(Info, VerdictsOnGoodAndBrokenFiles) {
    const int tooWide = 2 * maxTextureSize();
    ASSERT_LE(tooWide, 65535) << "a BMP cannot be wider than OpenGL's maximum here";

    const std::vector<InfoCase> cases = {
        {"good",
         [](const std::string& world) {
             goodTerrain(world);
             goodTexture(world);
         },
         0,
         {"header      type 1 (terrain), rows 4, columns 4, texture number 1, tileX 2, tileY 2",
          "heights     -128 to 127", "bitmap      8 x 8 pixels, 24-bit uncompressed BMP",
          "texture     1.bmp, opened in world", "verdict: clean"}},
        {"missing texture",
         goodTerrain,
         1,
         {"bitmap      missing", "texture 1.bmp cannot be opened in world: No such file",
          "0 viewer messages, 1 silent problem"}},
        {"bad magic",
         [](const std::string& world) {
             Bytes bytes = terrainBytes(4, 4, 1, 2, 2, kHeights);
             bytes[1] = 'd';
             writeFile(world + "/ground.3dt", bytes);
             goodTexture(world);
         },
         1,
         {"errorlog.txt: not a 3d thing"}},
        {"type 2",
         [](const std::string& world) {
             Bytes bytes = terrainBytes(4, 4, 1, 2, 2, kHeights);
             bytes[2] = 2;
             writeFile(world + "/ground.3dt", bytes);
             goodTexture(world);
         },
         1,
         {"errorlog.txt: unknown type; 1 (terrain) expected|2"}},
        {"negative tile",
         [](const std::string& world) {
             writeFile(world + "/ground.3dt", terrainBytes(4, 4, 1, -3, 2, kHeights));
             goodTexture(world);
         },
         1,
         {"standard error: tex_tile_x must be positive", "1 viewer message, 0 silent problems"}},
        {"8-bit bitmap",
         [](const std::string& world) {
             goodTerrain(world);
             writeFile(world + "/1.bmp", bitmapBytes(
                                             8, 8,
                                             [](int, int) {
                                                 return Rgb{0, 0, 0};
                                             },
                                             8));
         },
         1,
         {"standard error: 8-bit color bitmaps are not currently supported.", "8 x 8 pixels, 8-bit",
          "the viewer cannot use 1.bmp (its message above says why) and draws the ground "
          "untextured",
          "1 viewer message, 0 silent problems"}},
        {"8-bit header declaring 16384 x 16384",
         [](const std::string& world) {
             goodTerrain(world);
             Bytes header(bmp::kHeaderBytes);
             bmp::writeHeader(header.data(), 16384, 16384, 8, 0, 0);
             writeFile(world + "/1.bmp", header);
         },
         1,
         {"standard error: 8-bit color bitmaps are not currently supported.",
          "16384 x 16384 pixels, 8-bit",
          "the viewer cannot use 1.bmp (its message above says why) and draws the ground "
          "untextured",
          "1 viewer message, 0 silent problems"}},
        {"8-bit bitmap declaring 65535 x 65535",
         [](const std::string& world) {
             goodTerrain(world);
             Bytes header = bitmapBytes(
                 1, 1,
                 [](int, int) {
                     return Rgb{0, 0, 0};
                 },
                 8);
             header.resize(bmp::kHeaderBytes);
             header[bmp::kWidthOffset] = header[bmp::kWidthOffset + 1] = 0xff;
             header[bmp::kHeightOffset] = header[bmp::kHeightOffset + 1] = 0xff;
             writeFile(world + "/1.bmp", header);
         },
         1,
         {"8-bit color bitmaps are not currently supported.", "Bitmap too large: 65535 x 65535",
          "draws the ground untextured"}},
        {"oversized texture",
         [tooWide](const std::string& world) {
             goodTerrain(world);
             writeFile(world + "/1.bmp", solidBitmapBytes(tooWide, 1, {1, 2, 3}));
         },
         1,
         {"larger than this OpenGL's maximum texture size", "errorlog.txt: OpenGL error:",
          "the viewer logs the OpenGL error at the start of its first frame and exits"}},
        {"short heights",
         [](const std::string& world) {
             writeFile(world + "/ground.3dt", terrainBytes(4, 4, 1, 2, 2, Bytes{1, 2}));
             goodTexture(world);
         },
         1,
         {"the file holds 2 of its 16 height bytes"}},
        {"grid too small",
         [](const std::string& world) {
             writeFile(world + "/ground.3dt", terrainBytes(1, 4, 1, 2, 2, Bytes{1, 2, 3, 4}));
             goodTexture(world);
         },
         1,
         {"a grid of 1 x 4 draws nothing"}},
        {"short bitmap",
         [](const std::string& world) {
             goodTerrain(world);
             Bytes bytes = solidBitmapBytes(8, 8, {1, 2, 3});
             bytes.resize(bytes.size() - 30);
             writeFile(world + "/1.bmp", bytes);
         },
         1,
         {"1.bmp holds 162 of its 192 pixel bytes"}},
        {"missing terrain file",
         [](const std::string&) {},
         1,
         {"errorlog.txt: Unable to find file|ground.3dt",
          "cannot open world/ground.3dt: No such file or directory"}},
    };

    for (const InfoCase& infoCase : cases) {
        TemporaryFolder folder;
        fs::create_directory(folder.file("world"));
        infoCase.makeFiles(folder.file("world"));
        // The texture next to the working folder is not the one the viewer would use.
        writeFile(folder.file("1.bmp"), solidBitmapBytes(8, 8, {1, 2, 3}));
        const Report report = info(folder, {"world/ground.3dt"});
        EXPECT_EQ(report.status, infoCase.status) << infoCase.name << "\n" << report.text;
        for (const std::string& mention : infoCase.mentions) {
            EXPECT_NE(report.text.find(mention), std::string::npos)
                << infoCase.name << ": no \"" << mention << "\" in\n"
                << report.text;
        }
        // The viewer's messages end up in the report, not on the terminal or in a log file.
        EXPECT_EQ(report.leakedStderr, "") << infoCase.name;
        EXPECT_FALSE(fileExists(folder.file("errorlog.txt"))) << infoCase.name;
        EXPECT_FALSE(fileExists(folder.file("world/errorlog.txt"))) << infoCase.name;
    }
}

TEST(Info, HistogramCountsEverySample) {
    TemporaryFolder folder;
    fs::create_directory(folder.file("world"));
    goodTerrain(folder.file("world"));
    goodTexture(folder.file("world"));
    const Report report = info(folder, {"world/ground.3dt"});
    // kHeights: 0-31 holds 0, 10, 20, 30 and the two lowest bins -128 and -1 one each.
    std::istringstream lines(report.text);
    std::vector<long> counts;
    for (std::string line; std::getline(lines, line);) {
        if (line.find(" to ") != std::string::npos && line.rfind("            ", 0) == 0) {
            counts.push_back(std::stol(line.substr(line.find_last_of(' ') + 1)));
        }
    }
    EXPECT_EQ(counts, (std::vector<long>{1, 0, 0, 1, 4, 3, 3, 4}));
}

TEST(Info, WhatTheViewerMakesOfARaster) {
    // 100 x 80 cells of 30 m: no data west of column 40 (40%, too large to fill), a 2 x 4 void
    // (0.1%), and heights rising 2 m a cell from the shore height at column 40.
    const Raster utm = {"GTiff", 100,  80, GDT_Float32, {500000, 30, 0, 5100000, 0, -30},
                        32632,   -9999};
    const auto coast = [utm](double shore) {
        return [utm, shore](const std::string& path) {
            writeRaster(path, utm, [shore](int x, int y) {
                const bool hole = x >= 70 && x < 72 && y >= 50 && y < 54;
                return x < 40 || hole ? NAN : shore + 2.0 * (x - 40);
            });
        };
    };
    const std::string coastNoData = "no data     samples with data 59.9%; 1 void filled (0.1%); ";
    const std::string coastNote =
        "groundview: 1 void filled (0.1% of the samples); 1 region "
        "without data (40%) ";
    // Tiles of 60 x 40 cells of 3 arc-seconds, cut from one field; another cell size, or another
    // coordinate system, makes the last one odd.
    const auto tiles = [](std::vector<std::vector<double>> placements, std::vector<int> epsg) {
        return [placements, epsg](const std::string& first) {
            for (std::size_t i = 0; i < placements.size(); ++i) {
                const std::string name = std::string(1, static_cast<char>('a' + i)) + ".tif";
                writeRaster(fs::path(first).parent_path() / name,
                            {"GTiff", 60, 40, GDT_Int16, placements[i], epsg[i], -32768},
                            [](int x, int y) { return 100.0 + x + y; });
            }
        };
    };
    // The same ground, 921 to 1198 m high, in a unit of the band's own: cm and km are converted,
    // a unit not known is named and taken as metres.
    const auto inUnit = [utm](const char* unit, double perMetre) {
        return [utm, unit, perMetre](const std::string& path) {
            Raster raster = utm;
            raster.unit = unit;
            writeRaster(path, raster,
                        [perMetre](int x, int y) { return (1000.0 + 2.0 * x - y) * perMetre; });
        };
    };
    const std::string plane = "heights     921 to 1198 m over the samples drawn";
    const std::string unknown = "\", a unit not known here, taken as metres";
    const std::string longName(200000, 'x');  // more than a message between the processes holds
    // The same in US survey feet, the band naming no unit and the vertical coordinate system
    // saying which.
    const auto navd88Feet = [inUnit](const std::string& path) {
        inUnit("", 3937.0 / 1200.0)(path);
        GDALDatasetH file = GDALOpen(path.c_str(), GA_Update);
        ASSERT_NE(file, nullptr);
        OGRSpatialReferenceH crs = OSRNewSpatialReference(nullptr);
        EXPECT_EQ(OSRSetFromUserInput(crs, "EPSG:32632+6360"), OGRERR_NONE);
        EXPECT_EQ(GDALSetSpatialRef(file, crs), CE_None);
        OSRDestroySpatialReference(crs);
        GDALClose(file);
    };
    const std::vector<double> west = {7, 1 / 1200.0, 0, 46, 0, -1 / 1200.0};
    const std::vector<double> east = {7.05, 1 / 1200.0, 0, 46, 0, -1 / 1200.0};
    const std::vector<double> coarse = {7.05, 1 / 600.0, 0, 46, 0, -1 / 600.0};
    const auto inFolder = [](const std::function<void(const std::string& path)>& make) {
        return [make](const std::string& folder) {
            fs::create_directory(folder);
            writeFile(folder + "/README.md", Bytes{'h', 'i'});
            make(folder + "/a.tif");
        };
    };
    // A folder as a download leaves it: an SRTM tile (GDAL calls its band Undefined) at 100 m
    // rising 1 m a cell eastwards, a GeoTIFF (Gray) east of it at 2000 m sharing its east column,
    // a GeoTIFF south of the SRTM tile cut short, a README and a VRT computing its pixels.
    const double arc = 1 / 1200.0;
    TemporaryFolder whole;
    const std::string southWhole = whole.file("N45E007.tif");
    writeRaster(southWhole,
                {"GTiff", 60, 40, GDT_Int16, {7 - arc / 2, arc, 0, 46 - arc / 2, 0, -arc}, 4326, 0},
                [](int, int) { return 5000.0; });
    // GDAL writes a GeoTIFF's cells last.
    const std::string southBytes = std::to_string(fs::file_size(southWhole));
    const auto download = [arc, southWhole](const std::string& folder) {
        fs::create_directory(folder);
        writeRaster(folder + "/N46E007.hgt",
                    {"SRTMHGT",
                     1201,
                     1201,
                     GDT_Int16,
                     {7 - arc / 2, arc, 0, 47 + arc / 2, 0, -arc},
                     4326,
                     0},
                    [](int x, int) { return 100.0 + x; });
        writeRaster(
            folder + "/N46E008.tif",
            {"GTiff", 60, 40, GDT_Int16, {8 - arc / 2, arc, 0, 47 + arc / 2, 0, -arc}, 4326, 0},
            [](int, int) { return 2000.0; });
        fs::copy_file(southWhole, folder + "/N45E007.tif");
        fs::resize_file(folder + "/N45E007.tif", 1000);
        writeFile(folder + "/README.txt", Bytes{'h', 'i', '\n'});
        const std::string derived =
            "<VRTDataset rasterXSize=\"2\" rasterYSize=\"2\"><VRTRasterBand dataType=\"Int16\" "
            "band=\"1\" subClass=\"VRTDerivedRasterBand\"><PixelFunctionType>sum"
            "</PixelFunctionType></VRTRasterBand></VRTDataset>";
        writeFile(folder + "/sum.vrt", Bytes(derived.begin(), derived.end()));
    };
    // Two tiles, the eastern one at 2000 m compressed in strips of 8 rows, its third strip
    // overwritten: it fails only once read.
    const auto damaged = [tiles, west, east](const std::string& folder) {
        fs::create_directory(folder);
        tiles({west}, {4326})(folder + "/a.tif");
        GDALDatasetH memory =
            GDALCreate(GDALGetDriverByName("MEM"), "", 60, 40, 1, GDT_Int16, nullptr);
        std::vector<double> placement = east;
        GDALSetGeoTransform(memory, placement.data());
        OGRSpatialReferenceH crs = OSRNewSpatialReference(nullptr);
        OSRImportFromEPSG(crs, 4326);
        GDALSetSpatialRef(memory, crs);
        OSRDestroySpatialReference(crs);
        EXPECT_EQ(GDALFillRaster(GDALGetRasterBand(memory, 1), 2000, 0), CE_None);
        const char* options[] = {"COMPRESS=DEFLATE", "BLOCKYSIZE=8", nullptr};
        const std::string path = folder + "/b.tif";
        GDALClose(GDALCreateCopy(GDALGetDriverByName("GTiff"), path.c_str(), memory, FALSE,
                                 const_cast<char**>(options), nullptr, nullptr));
        GDALClose(memory);
        GDALDatasetH made = GDALOpen(path.c_str(), GA_ReadOnly);
        GDALRasterBandH band = GDALGetRasterBand(made, 1);
        const auto offset = std::stoul(GDALGetMetadataItem(band, "BLOCK_OFFSET_0_2", "TIFF"));
        const auto size = std::stoul(GDALGetMetadataItem(band, "BLOCK_SIZE_0_2", "TIFF"));
        GDALClose(made);
        Bytes bytes = readFile(path);
        std::fill(bytes.begin() + static_cast<long>(offset),
                  bytes.begin() + static_cast<long>(offset + size), 0xAB);
        writeFile(path, bytes);
    };
    // 64 x 48 pixels of red 10, green 20 and blue 30.
    const auto photo = [](const std::string& path) {
        GDALAllRegister();
        GDALDatasetH memory =
            GDALCreate(GDALGetDriverByName("MEM"), "", 64, 48, 3, GDT_Byte, nullptr);
        for (int band = 1; band <= 3; ++band) {
            EXPECT_EQ(GDALFillRaster(GDALGetRasterBand(memory, band), 10.0 * band, 0), CE_None);
        }
        GDALClose(GDALCreateCopy(GDALGetDriverByName("JPEG"), path.c_str(), memory, FALSE, nullptr,
                                 nullptr, nullptr));
        GDALClose(memory);
    };
    struct Case {
        std::string name;
        std::vector<std::string> file;
        std::function<void(const std::string& path)> make;
        int status;
        std::vector<std::string> lines;  // whole lines of the report, or of standard error
        std::vector<std::string> environment = {};
    };
    const std::vector<Case> cases = {
        {"coast at sea level",
         {"coast.tif"},
         coast(0.0),
         0,
         {"file        coast.tif, an elevation raster", "format      GTiff, Float32",
          "coordinates WGS 84 / UTM zone 32N; projected, cells of 30 x 30 m",
          "samples     100 x 80, every cell of the source", "spacing     30 m east, 30 m north",
          "heights     0 to 118 m over the samples drawn",
          coastNoData + "1 region without data (40%) drawn as sea; 0 drawn as a floor",
          "  " + coastNote + "drawn as sea", "verdict: the viewer walks over it"}},
        {"coast on a plateau",
         {"plateau.tif"},
         coast(1000.0),
         0,
         {"heights     1000 to 1118 m over the samples drawn",
          coastNoData + "0 regions without data drawn as sea; 1 (40%) drawn as a floor",
          "  " + coastNote + "drawn as a floor"}},
        // Streamed above 64 samples a side, the walker's field read from the source itself.
        {"coast streamed, its pyramid not built yet",
         {"coast.tif"},
         coast(0.0),
         0,
         {"samples     100 x 80, streamed at full resolution", "spacing     30 m east, 30 m north",
          "pyramid     none yet; the viewer builds it into the cache when it first opens the "
          "source",
          coastNoData + "1 region without data (40%) drawn as sea; 0 drawn as a floor",
          "  groundview: streamed at full resolution, 100 x 80 samples, first shown from 50 x "
          "40; " +
              coastNote.substr(std::string("groundview: ").size()) + "drawn as sea"},
         {"GROUNDVIEW_STREAM_ABOVE=64", "XDG_CACHE_HOME=/nonexistent/groundview-test-cache"}},
        {"coast streamed, its pyramid beyond the cache's limit",
         {"coast.tif"},
         coast(0.0),
         0,
         {"pyramid     none; the cache's limit can't hold it"},
         {"GROUNDVIEW_STREAM_ABOVE=64", "GROUNDVIEW_CACHE_LIMIT=1K",
          "XDG_CACHE_HOME=/nonexistent/groundview-test-cache"}},
        {"heights in centimetres", {"cm.tif"}, inUnit("cm", 100.0), 0, {plane}},
        {"heights in kilometres", {"km.tif"}, inUnit("km", 0.001), 0, {plane}},
        {"heights in US survey feet",
         {"ftus.tif"},
         inUnit("US survey foot", 3937.0 / 1200.0),
         0,
         {plane}},
        {"heights in the vertical coordinate system's US survey feet",
         {"navd88.tif"},
         navd88Feet,
         0,
         {"coordinates WGS 84 / UTM zone 32N + NAVD88 height (ftUS); projected, cells of 30 x 30 m",
          plane}},
        {"heights in a unit not known",
         {"fathoms.tif"},
         inUnit("fathoms", 1.0),
         0,
         {plane, "  groundview: heights in \"fathoms" + unknown}},
        {"heights in a unit of a long name",
         {"long.tif"},
         inUnit(longName.c_str(), 1.0),
         0,
         {plane, "  groundview: heights in \"" + longName.substr(0, 40) + unknown}},
        {"geographic tile at 46 N",
         {"tile.tif"},
         [](const std::string& path) {
             writeRaster(path,
                         {"GTiff",
                          3601,
                          3601,
                          GDT_Float32,
                          {7 - 0.5 / 3600, 1 / 3600.0, 0, 46.5 + 0.5 / 3600, 0, -1 / 3600.0},
                          4326,
                          -9999},
                         [](int x, int y) { return 400.0 + (x - y) / 10.0; });
         },
         0,
         {"samples     3601 x 3601, every cell of the source",
          "spacing     21.5 m east, 30.9 m north", "heights     40 to 760 m over the samples drawn",
          "no data     samples with data 100%; 0 voids filled; 0 regions without data drawn as "
          "sea; 0 drawn as a floor"}},
        {"two tiles named together, a gap of 60 cells between them",
         {"a.tif", "b.tif"},
         tiles({west, {7.1, 1 / 1200.0, 0, 46, 0, -1 / 1200.0}}, {4326, 4326}),
         0,
         {"file        a.tif + 1 more, an elevation raster",
          "format      VRT mosaic of 2 GTiff, Int16",
          "samples     180 x 40, every cell of the source",
          "no data     samples with data 66.7%; 1 void filled (33.3%); 0 regions without data "
          "drawn as sea; 0 drawn as a floor"}},
        {"a folder of tiles",
         {"tiles"},
         inFolder(tiles({west, east}, {4326, 4326})),
         0,
         {"file        tiles, an elevation raster", "format      VRT mosaic of 2 GTiff, Int16",
          "samples     120 x 40, every cell of the source"}},
        {"a folder as downloaded",
         {"download"},
         download,
         0,
         {"format      VRT mosaic of 3 tiles (GTiff, SRTMHGT), Int16",
          "samples     1260 x 1241, every cell of the source",
          "heights     100 to 2000 m over the samples drawn",
          "note: passed over download/README.txt: not a raster GDAL reads here (formats: GTiff, "
          "SRTMHGT, AAIGrid, USGSDEM, PNG, JPEG, PNM, BMP, GIF, HFA, ENVI, EHdr, netCDF, or a VRT "
          "of them)",
          "note: passed over download/sum.vrt: it computes its pixels with a function "
          "(VRTDerivedRasterBand), which is not read here",
          "note: download/N45E007.tif is drawn as no data: it ends at byte 1000, before its cells "
          "do at byte " +
              southBytes,
          "no data     samples with data 92.4%; 0 voids filled; 0 regions without data drawn as "
          "sea; 1 (7.6%) drawn as a floor"}},
        {"a folder with a tile that fails to read",
         {"damaged"},
         damaged,
         0,
         {"samples     120 x 40, every cell of the source",
          "heights     100 to 2000 m over the samples drawn",
          "no data     samples with data 70%; 1 void filled (30%); 0 regions without data "
          "drawn as sea; 0 drawn as a floor",
          "note: damaged/b.tif is drawn as no data: its cells from row 16 can't be read: "
          "ZIPDecode:Decoding error at scanline 16"}},
        {"--band for a terrain file",
         {"--band", "2", "w.3dt"},
         [](const std::string& path) { writeFile(path, terrainBytes(4, 4, 1, 2, 2, kHeights)); },
         2,
         {"groundtool: --band is for elevation rasters (see groundtool info --help)"}},
        {"a colour photo",
         {"photo.jpg"},
         photo,
         1,
         {"groundtool: cannot read photo.jpg: looks like a colour image (3 bands); pass `--band N` "
          "to take one band as heights"}},
        {"a colour photo's green band",
         {"--band", "2", "photo.jpg"},
         photo,
         0,
         {"format      JPEG, Byte; band 2 read as heights",
          "heights     20 to 20 units over the samples drawn"}},
        {"a colour photo's fourth band",
         {"--band", "4", "photo.jpg"},
         photo,
         1,
         {"groundtool: cannot read photo.jpg: has 3 bands; --band 4 is beyond them"}},
        {"a folder with a tile of other cells",
         {"odd"},
         inFolder(tiles({west, coarse}, {4326, 4326})),
         1,
         {"groundtool: cannot join odd: odd/b.tif: its cells are 0.00167 x 0.00167 degrees, not "
          "0.000833 x 0.000833 like a.tif"}},
        {"a folder with a tile in another coordinate system",
         {"odd"},
         inFolder(tiles({west, east}, {4326, 4269})),
         1,
         {"groundtool: cannot join odd: odd/b.tif: its coordinate system is NAD83, not WGS 84 "
          "like a.tif"}},
        {"a folder of no raster",
         {"empty"},
         [](const std::string& folder) {
             fs::create_directory(folder);
             writeFile(folder + "/notes.txt", Bytes{'h', 'i', '\n'});
         },
         2,
         {"groundtool: cannot read empty: the folder holds no ground.3dt and no raster GDAL reads "
          "here (see groundtool --help)"}},
        {"text file",
         {"notes.txt"},
         [](const std::string& path) {
             writeFile(path, Bytes{'h', 'i', '\n'});
         },
         1,
         {"groundtool: cannot read notes.txt: not a raster GDAL reads here (formats: GTiff, "
          "SRTMHGT, AAIGrid, USGSDEM, PNG, JPEG, PNM, BMP, GIF, HFA, ENVI, EHdr, netCDF, or a VRT "
          "of them)"}},
    };
    for (const Case& test : cases) {
        TemporaryFolder folder;
        test.make(folder.file(test.file.back()));  // the file follows any option
        const auto contents = [&] {
            const std::string named = folder.file(test.file.back());
            return fs::is_directory(named) ? folderContents(named) : std::vector<std::string>{};
        };
        const auto before = contents();
        const Report report = info(folder, test.file, test.environment);
        EXPECT_EQ(contents(), before) << test.name;
        EXPECT_EQ(report.status, test.status) << test.name << "\n" << report.leakedStderr;
        // A usable raster is described on standard output, with its notes on standard error;
        // any other says why on one line.
        const auto linesOf = [](const std::string& text) {
            std::vector<std::string> lines;
            std::istringstream stream(text);
            for (std::string line; std::getline(stream, line);) {
                lines.push_back(line);
            }
            return lines;
        };
        std::vector<std::string> notes;
        std::copy_if(test.lines.begin(), test.lines.end(), std::back_inserter(notes),
                     [](const std::string& line) { return line.rfind("note: ", 0) == 0; });
        if (test.status == 0) {
            EXPECT_EQ(linesOf(report.leakedStderr), notes) << test.name;
        } else {
            EXPECT_EQ(report.text, "") << test.name;
        }
        std::vector<std::string> lines = linesOf(report.leakedStderr);
        if (test.status == 0) {
            const std::vector<std::string> described = linesOf(report.text);
            lines.insert(lines.begin(), described.begin(), described.end());
        }
        if (test.status != 0) {
            EXPECT_EQ(lines, test.lines) << test.name;
        }
        for (const std::string& line : test.lines) {
            EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end())
                << test.name << ": no line \"" << line << "\" in\n"
                << report.text << report.leakedStderr;
        }
    }
}
