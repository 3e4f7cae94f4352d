// groundtool import run as a user runs it, on sources that GDAL itself writes in each format: the
// world is checked against the source, the texture against the grid, and every refusal against
// the folder it leaves.

#include <gdal.h>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <regex>
#include <tuple>

#include "elevation_grid.h"
#include "raster_error.h"
#include "test_files.h"
#include "tool_runner.h"

namespace {

struct World {
    int rows = 0;
    int columns = 0;
    int tileX = 0;
    int tileY = 0;
    std::vector<int> levels;  // row-major
    int at(int row, int column) const { return levels[row * columns + column]; }
};

World readWorld(const std::string& path) {
    const Bytes bytes = readFile(path);
    World world{bytes.at(3), bytes.at(4), bytes.at(6), bytes.at(7), {}};
    for (std::size_t i = 8; i < bytes.size(); ++i) {
        world.levels.push_back(static_cast<std::int8_t>(bytes[i]));
    }
    EXPECT_EQ(world.levels.size(), static_cast<std::size_t>(world.rows * world.columns));
    return world;
}

ToolRun import(const TemporaryFolder& folder, const std::string& source,
               std::vector<std::string> options) {
    options.insert(options.begin(), {"import", folder.file(source), "--out", folder.path()});
    return runTool(options, folder.path());
}

double ramp(int x, int y) {
    return 1000.0 + 3.0 * x - 2.0 * y;  // rising east and north
}

struct FormatCase {
    std::string file;
    Raster raster;
    HeightAt height;
    std::vector<std::string> options;
    double groundAspect;                      // east-west extent over north-south
    std::function<int(int, int)> exactLevel;  // when set, every vertex's level
    double trueScale;                         // when set, the printed --height-scale
};

}  // namespace

TEST(Import, EachFormatBecomesACleanWorldShapedAndFacedLikeItsGround) {
    const double degree = 1.0 / 120;
    auto hole = [](int x, int y) { return std::hypot(x - 40, y - 50) < 9 ? NAN : ramp(x, y); };
    auto voids = [](int x, int y) { return x > 300 && x < 420 && y < 200 ? NAN : ramp(x, y); };
    auto checkered = [](int x, int y) { return ramp(x, y) + ((x + y) % 2 ? 20 : -20); };
    // 2 x 2 blocks of the checkered ramp average to the ramp at their centre.
    auto blockLevel = [](int row, int column) {
        const double average = ramp(2 * row, 2 * column) + 0.5 * (3.0 - 2.0);
        return static_cast<int>(std::lround((average - 500.0) / 1500.0 * 255.0)) - 128;
    };
    const std::vector<FormatCase> cases = {
        {"geographic.tif",
         {"GTiff", 95, 90, GDT_Int16, {10.0, degree, 0, 50.375, 0, -degree}, 4326, -9999},
         hole,
         {},
         95 * std::cos(50.0 * M_PI / 180) / 90,
         nullptr,
         0},
        {"projected.tif",
         {"GTiff", 254, 128, GDT_Float32, {500000, 30, 0, 5500000, 0, -30}, 32633, 0},
         checkered,
         {"--range", "500,2000", "--texture", "hillshade", "--texture-size", "256"},
         254.0 / 128,
         blockLevel,
         127 * (1500.0 / 255) / 60},
        {"N50E010.hgt",
         {"SRTMHGT",
          1201,
          1201,
          GDT_Int16,
          {10 - 0.5 / 1200, 1 / 1200.0, 0, 51 + 0.5 / 1200, 0, -1 / 1200.0},
          4326,
          -32768},
         voids,
         {"--texture", "tint"},
         std::cos(50.5 * M_PI / 180),
         nullptr,
         0},
        // Infinite cells are a void, however the source is resampled.
        {"infinite.tif",
         {"GTiff", 60, 40, GDT_Float64, {500000, 30, 0, 5500000, 0, -30}, 32633, 0},
         [](int x, int y) { return std::hypot(x - 20, y - 20) < 5 ? INFINITY : ramp(x, y); },
         {},
         1.5,
         nullptr,
         0},
        {"grid.asc",
         {"AAIGrid", 60, 40, GDT_Float32, {0, 25, 0, 1000, 0, -25}, 0, 0},
         ramp,
         {"--size", "90"},
         1.5,
         nullptr,
         0},
        {"heights.png",
         {"PNG", 64, 32, GDT_UInt16, {}, 0, 0},
         ramp,
         {"--texture", "none"},
         2,
         nullptr,
         0},
        // 8-bit greys keep their levels, grey 0 at -128 and 255 at 127, averaged or not.
        {"grey.png",
         {"PNG", 128, 64, GDT_Byte, {}, 0, 0},
         [](int x, int y) { return 70 + x - y + ((x + y) % 2 ? 5 : -5); },
         {"--size", "64"},
         2,
         [](int row, int column) { return 70 + 2 * row - 2 * column - 128; },
         0},
    };
    for (const FormatCase& test : cases) {
        SCOPED_TRACE(test.file);
        TemporaryFolder folder;
        writeRaster(folder.file(test.file), test.raster, test.height);
        const ToolRun run = import(folder, test.file, test.options);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
        const bool textured = test.options.empty() || test.options.back() != "none";
        EXPECT_EQ(runTool({"info", folder.file("ground.3dt")}).status, textured ? 0 : 1);
        EXPECT_EQ(fileExists(folder.file("1.bmp")), textured);

        const World world = readWorld(folder.file("ground.3dt"));
        const bool sized = test.options.size() > 1 && test.options[0] == "--size";
        const int longer = sized ? std::stoi(test.options[1]) : 127;
        const double shorter = longer * std::min(test.groundAspect, 1 / test.groundAspect);
        EXPECT_EQ(std::max(world.rows, world.columns), longer);
        EXPECT_NEAR(std::min(world.rows, world.columns), shorter, 1.0);
        EXPECT_EQ(world.rows > world.columns, test.groundAspect > 1);
        EXPECT_EQ(world.tileX, world.columns);
        EXPECT_EQ(world.tileY, world.rows);

        // North away from the start camera (column 0), east to its right (the last row); no
        // spike or pit where data is missing.
        const auto [low, high] = std::minmax_element(world.levels.begin(), world.levels.end());
        EXPECT_EQ(world.at(world.rows - 1, 0), *high);
        EXPECT_EQ(world.at(0, world.columns - 1), *low);
        EXPECT_GT(*high - *low, 100);
        for (int r = 1; r + 1 < world.rows; ++r) {
            for (int c = 1; c + 1 < world.columns; ++c) {
                const auto [least, most] = std::minmax({world.at(r - 1, c), world.at(r + 1, c),
                                                        world.at(r, c - 1), world.at(r, c + 1)});
                ASSERT_GE(world.at(r, c), least - 1) << "pit at " << r << ", " << c;
                ASSERT_LE(world.at(r, c), most + 1) << "spike at " << r << ", " << c;
            }
        }
        if (test.exactLevel) {
            for (int r = 0; r < world.rows; ++r) {
                for (int c = 0; c < world.columns; ++c) {
                    ASSERT_NEAR(world.at(r, c), test.exactLevel(r, c), 1) << r << ", " << c;
                }
            }
        } else {
            EXPECT_EQ(*low, -128);
            EXPECT_EQ(*high, 127);
        }
        // The heights are the source's as info reads them: an average or interpolation of them
        // never leaves their range.
        if (test.raster.type != GDT_Byte &&
            std::count(test.options.begin(), test.options.end(), "--range") == 0) {
            const auto heights = [](const std::string& text) {
                std::smatch found;
                EXPECT_TRUE(std::regex_search(text, found, std::regex("heights +(\\S+) to (\\S+)")))
                    << text;
                return std::make_pair(std::stod(found[1]), std::stod(found[2]));
            };
            const ToolRun info = runTool({"info", folder.file(test.file)});
            ASSERT_EQ(info.status, 0) << info.out;
            const auto [infoLow, infoHigh] = heights(info.out);
            const auto [low, high] = heights(run.out);
            const double slack = 0.005 * (infoHigh - infoLow);  // three significant digits
            EXPECT_GE(low, infoLow - slack) << run.out << info.out;
            EXPECT_LE(high, infoHigh + slack) << run.out << info.out;
        }
        if (test.trueScale > 0) {
            const std::size_t at = run.out.find("--height-scale ");
            ASSERT_NE(at, std::string::npos) << run.out;
            EXPECT_NEAR(std::stod(run.out.substr(at + 15)), test.trueScale, 0.01 * test.trueScale);
        }
    }
}

TEST(Import, TextureShowsEachVertexItsOwnGround) {
    TemporaryFolder folder;
    // 16 x 10 cells of 4 x 4 pixels, lowest or highest in no symmetric pattern: a texture
    // shifted, turned or mirrored would show some vertex a cell of the other height.
    auto high = [](int east, int south) {
        return (east * east * 3 + south * south * 5 + east * south) % 7 < 3;
    };
    writeRaster(folder.file("checks.png"), {"PNG", 64, 40, GDT_Byte, {}, 0, 0},
                [&](int x, int y) { return high(x / 4, y / 4) ? 255.0 : 0.0; });
    const int side = 256;
    ASSERT_EQ(import(folder, "checks.png",
                     {"--size", "16", "--texture", "tint", "--texture-size", std::to_string(side)})
                  .status,
              0);
    const World world = readWorld(folder.file("ground.3dt"));
    ASSERT_EQ(world.rows, 16);
    ASSERT_EQ(world.columns, 10);
    const Bytes bmp = readFile(folder.file("1.bmp"));
    ASSERT_EQ(bmp.size(), 54u + side * side * 3);

    // What OpenGL's linear filter with repeat wrapping gives at (s, t); t = 0 is the first
    // stored row.
    auto texel = [&](int s, int t, int channel) -> double {
        s = (s % side + side) % side;
        t = (t % side + side) % side;
        return bmp[54 + (static_cast<std::size_t>(t) * side + s) * 3 + channel];
    };
    auto sample = [&](double s, double t, int channel) {
        const double u = s * side - 0.5;
        const double v = t * side - 0.5;
        const int i = static_cast<int>(std::floor(u));
        const int j = static_cast<int>(std::floor(v));
        const double a = u - i;
        const double b = v - j;
        return (1 - a) * (1 - b) * texel(i, j, channel) + a * (1 - b) * texel(i + 1, j, channel) +
               (1 - a) * b * texel(i, j + 1, channel) + a * b * texel(i + 1, j + 1, channel);
    };
    std::vector<std::vector<double>> seen[2];  // colours at the low and at the high vertices
    for (int r = 0; r < world.rows; ++r) {
        for (int c = 0; c < world.columns; ++c) {
            ASSERT_EQ(world.at(r, c), high(r, c) ? 127 : -128) << r << ", " << c;
            std::vector<double> colour;
            for (int channel = 0; channel < 3; ++channel) {
                colour.push_back(sample(static_cast<double>(c) / world.tileX,
                                        static_cast<double>(r - 1) / world.tileY, channel));
            }
            seen[high(r, c)].push_back(colour);
        }
    }
    // Every vertex shows its own class's colour, and the tint puts the light colours high.
    double brightness[2] = {};
    for (int level = 0; level < 2; ++level) {
        for (int channel = 0; channel < 3; ++channel) {
            const auto [least, most] = std::minmax_element(
                seen[level].begin(), seen[level].end(),
                [channel](const auto& a, const auto& b) { return a[channel] < b[channel]; });
            EXPECT_LE((*most)[channel] - (*least)[channel], 6) << "level " << level;
            brightness[level] += seen[level].front()[channel];
        }
    }
    EXPECT_GT(brightness[1], brightness[0] + 150);
}

namespace {

std::string fileElement(const std::string& name, const std::string& relative = "1") {
    return "<SourceFilename relativeToVRT=\"" + relative + "\">" + name + "</SourceFilename>";
}

std::string simpleSource(const std::string& name, const std::string& more = "") {
    return "<SimpleSource>" + fileElement(name) + more + "</SimpleSource>";
}

// A 4 x 4 VRT whose one band, of subClass when given, holds body.
void writeVrtBand(const std::string& path, const std::string& body,
                  const std::string& subClass = "") {
    const std::string text =
        "<VRTDataset rasterXSize=\"4\" rasterYSize=\"4\"><VRTRasterBand dataType=\"Byte\"" +
        (subClass.empty() ? "" : " subClass=\"" + subClass + "\"") + ">" + body +
        "</VRTRasterBand></VRTDataset>";
    writeFile(path, Bytes(text.begin(), text.end()));
}

// A VRT whose one band reads name: a simple source, or a VRTRawRasterBand's raw bytes.
void writeVrt(const std::string& path, const std::string& name, bool raw = false) {
    writeVrtBand(path,
                 raw ? fileElement(name) + "<PixelOffset>1</PixelOffset>" : simpleSource(name),
                 raw ? "VRTRawRasterBand" : "");
}

// A netCDF file of two 30 x 20 variables, elev1 and elev2, and no raster of its own.
void writeTwoVariables(const std::string& path) {
    GDALDatasetH file =
        GDALCreateMultiDimensional(GDALGetDriverByName("netCDF"), path.c_str(), nullptr, nullptr);
    GDALGroupH root = GDALDatasetGetRootGroup(file);
    GDALDimensionH axes[] = {GDALGroupCreateDimension(root, "y", nullptr, nullptr, 20, nullptr),
                             GDALGroupCreateDimension(root, "x", nullptr, nullptr, 30, nullptr)};
    GDALExtendedDataTypeH type = GDALExtendedDataTypeCreate(GDT_Float64);
    std::vector<double> values;
    for (int i = 0; i < 600; ++i) {
        values.push_back(ramp(i % 30, i / 30));
    }
    const GUInt64 start[] = {0, 0};
    const std::size_t count[] = {20, 30};
    for (const char* name : {"elev1", "elev2"}) {
        GDALMDArrayH array = GDALGroupCreateMDArray(root, name, 2, axes, type, nullptr);
        GDALMDArrayWrite(array, start, count, nullptr, nullptr, type, values.data(), nullptr, 0);
        GDALMDArrayRelease(array);
    }
    GDALExtendedDataTypeRelease(type);
    GDALDimensionRelease(axes[0]);
    GDALDimensionRelease(axes[1]);
    GDALGroupRelease(root);
    GDALClose(file);
}

// How often any process, the tool's jailed reader included, opens each file in a folder while
// this lives: inotify reports each open however it was made. Closes are watched too, so that the
// kernel, which merges an event into an identical one still unread, cannot fold two opens of a
// file into one.
class OpenCounter {
  public:
    explicit OpenCounter(const std::string& folder)
        : descriptor_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        inotify_add_watch(descriptor_, folder.c_str(), IN_OPEN | IN_CLOSE);
    }
    ~OpenCounter() { close(descriptor_); }
    OpenCounter(const OpenCounter&) = delete;
    OpenCounter& operator=(const OpenCounter&) = delete;

    // The opens of each file since the last call, by name; "(lost)" counts as endless when the
    // kernel's queue overflowed.
    std::map<std::string, int> take() {
        std::map<std::string, int> opens;
        alignas(inotify_event) char buffer[16 * 1024];
        for (ssize_t size; (size = read(descriptor_, buffer, sizeof buffer)) > 0;) {
            for (const char* at = buffer; at < buffer + size;) {
                const auto* event = reinterpret_cast<const inotify_event*>(at);
                if (event->mask & IN_Q_OVERFLOW) {
                    opens["(lost)"] = std::numeric_limits<int>::max();
                } else if ((event->mask & IN_OPEN) && event->len > 0) {
                    ++opens[event->name];
                }
                at += sizeof(inotify_event) + event->len;
            }
        }
        return opens;
    }

  private:
    int descriptor_;
};

}  // namespace

TEST(Import, HostileAndBadSourcesFailAtOnceInOneLineAndEveryFormatStillImports) {
    TemporaryFolder folder;
    TemporaryFolder elsewhere;
    writeFile(elsewhere.file("secret.bin"), Bytes(16, 7));
    chmod(elsewhere.file("secret.bin").c_str(), 0600);
    mkfifo(folder.file("fifo").c_str(), 0600);
    writeVrt(folder.file("raw.vrt"), elsewhere.file("secret.bin"), true);
    writeVrt(folder.file("environ.vrt"), "/proc/self/environ");
    writeVrt(folder.file("memory.vrt"), "MEM:::DATAPOINTER=0x1000,PIXELS=4,LINES=4");
    writeVrt(folder.file("fifo.vrt"), "fifo");
    writeVrt(folder.file("stdin.vrt"), "/dev/stdin");
    writeVrt(folder.file("curl.vrt"), "/vsicurl/http://127.0.0.1:9/x");
    writeVrt(folder.file("inside.vrt"), "whole.tif");
    // A home folder's key, and a coordinate system whose grid lies outside PROJ's data folder.
    std::filesystem::create_directory(folder.file(".ssh"));
    writeFile(folder.file(".ssh/id_ed25519"), Bytes(16, 7));
    writeVrt(folder.file("key.vrt"), ".ssh/id_ed25519", true);
    const std::string gridded =
        "<VRTDataset rasterXSize=\"64\" rasterYSize=\"64\"><SRS>+proj=longlat +datum=WGS84 "
        "+nadgrids=" +
        elsewhere.file("secret.bin") +
        "</SRS><GeoTransform>7, 0.01, 0, 46, 0, -0.01</GeoTransform><VRTRasterBand "
        "dataType=\"Float32\">" +
        simpleSource("whole.tif") + "</VRTRasterBand></VRTDataset>";
    writeFile(folder.file("grid.vrt"), Bytes(gridded.begin(), gridded.end()));
    const std::string wms =
        "<GDAL_WMS><Service name=\"WMS\"><ServerUrl>http://127.0.0.1:9/"
        "</ServerUrl></Service></GDAL_WMS>";
    writeFile(folder.file("wms.xml"), Bytes(wms.begin(), wms.end()));
    writeFile(folder.file("notes.txt"), Bytes{'h', 'e', 'l', 'l', 'o'});
    writeRaster(folder.file("whole.tif"), {"GTiff", 64, 64, GDT_Float32, {}, 0, 0}, ramp);
    writeRaster(folder.file("whole.jpg"), {"JPEG", 256, 256, GDT_Byte, {}, 0, 0},
                [](int x, int y) { return (x * x + 7 * y * y + x * y) % 251; });
    writeRaster(folder.file("infinite.tif"), {"GTiff", 64, 64, GDT_Float32, {}, 0, 0},
                [](int x, int y) { return x < 8   ? INFINITY
                                          : y < 8 ? -INFINITY
                                                  : ramp(x, y); });
    writeRaster(folder.file("heights.bil"), {"EHdr", 64, 64, GDT_Int16, {}, 0, 0}, ramp);
    for (const char* whole : {"tif", "jpg"}) {
        Bytes cut = readFile(folder.file(std::string("whole.") + whole));
        cut.resize(cut.size() / 2);
        writeFile(folder.file(std::string("cut.") + whole), cut);
    }
    const bool netcdf = GDALGetDriverByName("netCDF") != nullptr;
    if (netcdf) {
        writeTwoVariables(folder.file("two.nc"));
    }
    writeRaster(folder.file("empty.tif"), {"GTiff", 8, 8, GDT_Float32, {}, 0, -1},
                [](int, int) { return NAN; });
    writeRaster(folder.file("line.tif"), {"GTiff", 5, 1, GDT_Float32, {}, 0, 0}, ramp);
    writeRaster(folder.file("far.tif"),
                {"GTiff", 8, 8, GDT_Float32, {1e300, 30, 0, 1e300, 0, -30}, 32632, 0}, ramp);
    // 50000 x 50000 cells in a few bytes.
    const std::string huge = R"(<VRTDataset rasterXSize="50000" rasterYSize="50000">
        <VRTRasterBand dataType="Byte" band="1"/></VRTDataset>)";
    writeFile(folder.file("huge.vrt"), Bytes(huge.begin(), huge.end()));
    // Nine VRTs each naming the next ten times: a billion sources read, were each VRT followed.
    for (int link = 1; link <= 9; ++link) {
        const std::string next =
            link < 9 ? "chain" + std::to_string(link + 1) + ".vrt" : "whole.tif";
        std::string sources;
        for (int i = 0; i < 10; ++i) {
            sources += simpleSource(next);
        }
        writeVrtBand(folder.file("chain" + std::to_string(link) + ".vrt"), sources);
    }
    writeVrt(folder.file("loop.vrt"), "loop.vrt");
    writeVrtBand(folder.file("kernel.vrt"),
                 "<KernelFilteredSource>" + fileElement("whole.tif") +
                     "<Kernel><Size>3</Size><Coefs>1 1 1 1 1 1 1 1 1</Coefs></Kernel>"
                     "</KernelFilteredSource>");
    writeVrtBand(folder.file("python.vrt"),
                 "<PixelFunctionLanguage>Python</PixelFunctionLanguage><PixelFunctionType>mark</"
                 "PixelFunctionType><PixelFunctionCode><![CDATA[\ndef mark(in_ar, out_ar, *args, "
                 "**kwargs):\n    open('python-ran', 'w')\n]]></PixelFunctionCode>" +
                     simpleSource("whole.tif"),
                 "VRTDerivedRasterBand");
    writeVrtBand(folder.file("rooted.vrt"),
                 simpleSource("inside.vrt", "<OpenOptions><OOI key=\"ROOT_PATH\">" +
                                                elsewhere.path() + "</OOI></OpenOptions>"));
    writeVrtBand(folder.file("yes.vrt"),
                 "<SimpleSource>" + fileElement("whole.tif", "yes") + "</SimpleSource>");
    // Flat at 5, where an .aux.xml, were GDAL to read it, calls 5 no data.
    writeRaster(folder.file("flat.tif"), {"GTiff", 8, 8, GDT_Float32, {}, 0, 0},
                [](int, int) { return 5.0; });
    const std::string aux =
        "<PAMDataset><PAMRasterBand band=\"1\"><NoDataValue>5</NoDataValue></PAMRasterBand>"
        "</PAMDataset>";
    writeFile(folder.file("flat.tif.aux.xml"), Bytes(aux.begin(), aux.end()));
    // GDAL's own configuration file asks for Python and .aux.xml files. (It sets nothing the
    // environment sets, so no variable of those names is given.)
    const std::string settings =
        "[configoptions]\nGDAL_VRT_ENABLE_PYTHON=YES\nGDAL_PAM_ENABLED=YES\n";
    writeFile(elsewhere.file("gdalrc"), Bytes(settings.begin(), settings.end()));
    const std::vector<std::string> hostile = {"GDAL_CONFIG_FILE=" + elsewhere.file("gdalrc")};
    std::filesystem::create_directory(folder.file("taken"));
    writeFile(folder.file("taken/1.bmp"), solidBitmapBytes(2, 2, {0, 0, 0}));
    std::filesystem::create_directory(folder.file("bare"));
    writeFile(folder.file("bare/notes.txt"), Bytes{'n', 'o'});
    const auto before = folderContents(folder.path());
    OpenCounter opens(folder.path());
    // A file is opened a few times to be refused or read: to see what it is, to check it and,
    // when it passes, by GDAL. Far more means the sources of a VRT are followed at each mention,
    // which for chain1.vrt's billion would not end.
    constexpr int kMostOpensOfAFile = 8;

    const std::string outside = "lies outside the VRT's folder";
    const std::vector<std::tuple<std::vector<std::string>, int, std::string>> cases = {
        {{"raw.vrt"}, 1, outside},
        {{"environ.vrt"}, 1, outside},
        {{"key.vrt"}, 1, "\".ssh/id_ed25519\" is hidden"},
        {{"grid.vrt"},
         1,
         "its coordinate system names a coordinate grid outside PROJ's data folder: /"},
        {{"memory.vrt"}, 1, "\"MEM:::DATAPOINTER=0x1000,PIXELS=4,LINES=4\" is no plain file"},
        {{"fifo.vrt"}, 1, "\"fifo\": not a regular file"},
        {{"stdin.vrt"}, 1, "\"/dev/stdin\": not a regular file"},
        {{"curl.vrt"}, 1, "\"/vsicurl/http://127.0.0.1:9/x\" is no plain file"},
        {{"wms.xml"}, 1, "wms.xml: not a raster GDAL reads"},
        {{"/vsizip/whole.zip/whole.tif"}, 1, "virtual file systems (/vsi...) are not read"},
        {{"WMS:http://127.0.0.1:9/"}, 1, "connection strings are not read"},
        {{"fifo"}, 1, "fifo: not a regular file"},
        {{"two.nc"}, 1, "name one: NETCDF:\"two.nc\":elev1, NETCDF:\"two.nc\":elev2"},
        {{"NETCDF:\"two.nc\":elev2"}, 0, "read NETCDF:\"two.nc\":elev2 (netCDF, Float64)"},
        {{"cut.jpg"}, 1, "cannot read cut.jpg: libjpeg: Premature end of JPEG file"},
        {{"infinite.tif"}, 0, "% of the samples had no valid height and were filled"},
        {{"inside.vrt"}, 0, "read inside.vrt (VRT, Byte)"},
        {{"heights.bil"}, 0, "read heights.bil (EHdr, Int16)"},
        {{"absent.tif"}, 1, "absent.tif: No such file or directory"},
        {{"notes.txt"}, 1, "notes.txt: not a raster GDAL reads"},
        {{"cut.tif"}, 1, "cannot read cut.tif: it ends at byte "},
        {{"empty.tif"}, 1, "no valid height"},
        {{"taken"},
         1,
         "cannot read taken: looks like a colour image (3 bands); pass `--band N` to take one band "
         "as heights"},
        {{"taken", "--band", "2"}, 0, "read taken (BMP, Byte)"},
        {{"taken", "--band", "4"}, 1, "cannot read taken: has 3 bands; --band 4 is beyond them"},
        {{"bare"}, 2, "cannot read bare: the folder holds no ground.3dt and no raster GDAL reads"},
        {{"line.tif"}, 1, "5 x 1 cells; a world needs 2 x 2"},
        {{"far.tif"}, 1, " m from the projection's origin lies beyond any place on Earth"},
        {{"huge.vrt"}, 1, "more than is decoded here"},
        {{"chain1.vrt"}, 1, "chain4.vrt: it names more than 1048576 sources"},
        {{"chain7.vrt"}, 0, "read chain7.vrt (VRT, Byte)"},
        {{"loop.vrt"}, 1, "\"loop.vrt\" leads back to a VRT that names it"},
        {{"kernel.vrt"},
         1,
         "kernel.vrt: it filters a source through a kernel (<KernelFilteredSource>), which is not "
         "read here"},
        {{"python.vrt"},
         1,
         "python.vrt: it computes its pixels with a function (VRTDerivedRasterBand)"},
        {{"rooted.vrt"}, 1, "rooted.vrt: it gives a source open options (<OpenOptions>)"},
        {{"yes.vrt"}, 1, "\"whole.tif\" has relativeToVRT=\"yes\"; write 0 or 1"},
        {{"flat.tif"}, 0, "the source is flat"},
        {{"whole.tif", "--out", folder.file("taken")}, 1, "1.bmp already exists"},
        {{"whole.tif", "--range", "5,1"}, 2, "--range"},
        {{"whole.tif", "--texture", "shiny"}, 2, "--texture"},
        {{"whole.tif", "--texture-size", "1000"}, 2, "power of two"},
    };
    for (const auto& [arguments, status, part] : cases) {
        if (!netcdf && arguments[0].find("nc") != std::string::npos) {
            continue;
        }
        TemporaryFolder made;
        std::vector<std::string> words = {"import"};
        words.insert(words.end(), arguments.begin(), arguments.end());
        if (std::find(words.begin(), words.end(), "--out") == words.end()) {
            words.insert(words.end(), {"--out", status == 0 ? made.path() : folder.path()});
        }
        opens.take();
        const ToolRun run = runTool(words, folder.path(), std::chrono::seconds(120), hostile);
        // Nothing here takes more than seconds; the limit only turns a wait on a FIFO, a device,
        // a server or a chain of VRTs followed to its end into a failure.
        EXPECT_FALSE(run.timedOut) << part;
        for (const auto& [name, count] : opens.take()) {
            EXPECT_LE(count, kMostOpensOfAFile) << part << ": " << name << " opened " << count;
        }
        EXPECT_EQ(run.status, status) << part << run.err;
        EXPECT_EQ(folderContents(folder.path()), before) << part;
        if (status == 0) {
            EXPECT_NE(run.out.find(part), std::string::npos) << run.out;
            EXPECT_TRUE(fileExists(made.file("ground.3dt"))) << part;
            continue;
        }
        EXPECT_EQ(run.err.rfind("groundtool: ", 0), 0u) << run.err;
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
        EXPECT_NE(run.err.find(part), std::string::npos) << run.err;
        EXPECT_EQ(folderContents(folder.file("taken")), std::vector<std::string>{"1.bmp"});
        EXPECT_EQ(folderContents(folder.file("bare")), std::vector<std::string>{"notes.txt"});
    }
}

TEST(Import, ImplausibleNumbersAreRefusedAndTheScaleIsOneTheViewerTakes) {
    const std::vector<std::tuple<Raster, std::vector<std::string>, int, std::string>> cases = {
        {{"GTiff", 8, 8, GDT_Float32, {0, 1e-300, 0, 0, 0, -1e-300}, 0, 0},
         {},
         1,
         "cells are 1e-300 x 1e-300"},
        {{"GTiff", 8, 8, GDT_Float32, {0, 1e300, 0, 0, 0, -1e300}, 32633, 0},
         {},
         1,
         "cells are 1e+300 x 1e+300"},
        {{"GTiff", 8, 8, GDT_Float32, {10, 1, 0, 95, 0, -1}, 4326, 0},
         {},
         1,
         "reach latitude 95, beyond the poles"},
        {{"GTiff", 8, 8, GDT_Float32, {}, 0, 0}, {"--range", "-1e308,1e308"}, 2, "--range"},
        // The heights are symmetric about 3503.5: half the samples lie above it.
        {{"GTiff", 8, 8, GDT_Float32, {}, 0, 0},
         {"--range", "-1,3503.5"},
         0,
         "--range clips 50% of the samples"},
        // Heights of 63000 units over 64 units would need a scale far above the viewer's 1000.
        {{"PNG", 64, 64, GDT_UInt16, {}, 0, 0},
         {},
         0,
         "clamped to 1000, the nearest the viewer accepts\ngroundview --window --height-scale "
         "1000 "},
    };
    for (const auto& [raster, options, status, part] : cases) {
        SCOPED_TRACE(part);
        TemporaryFolder folder;
        writeRaster(folder.file("source"), raster, [](int x, int y) { return 1000.0 * x + y; });
        const ToolRun run = import(folder, "source", options);
        EXPECT_EQ(run.status, status) << run.err;
        EXPECT_NE((run.out + run.err).find(part), std::string::npos) << run.out << run.err;
        EXPECT_EQ(fileExists(folder.file("ground.3dt")), status == 0);
    }
}

TEST(ElevationGrid, ReadsMetresWithEverySampleNorthUpWhereItsPlacementSays) {
    const double degree = 1.0 / 120;
    struct GridCase {
        Raster raster;
        long long maxSamples;
        int columns, rows;
        double spacingEast, spacingSouth;
        std::string note;
    };
    const std::vector<GridCase> cases = {
        // At 50 N a cell is 0.645 as wide as it is high: every column stays, narrower; one SRTM
        // void, undeclared, filled.
        {{"GTiff", 95, 90, GDT_Int16, {10, degree, 0, 50.375, 0, -degree}, 4326, 0},
         raster::kDefaultMaxSamples,
         95,
         90,
         597.46,
         926.9,
         "1 void filled (0.0117% of the samples)"},
        // 38 x 25 is the largest grid of the source's shape within 1000 samples.
        {{"GTiff", 300, 200, GDT_Float32, {}, 0, 0},
         1000,
         38,
         25,
         300.0 / 38,
         200.0 / 25,
         "averaged down from 300 x 200 to 38 x 25 samples"},
    };
    for (const GridCase& test : cases) {
        SCOPED_TRACE(test.note);
        TemporaryFolder folder;
        const double* t = test.raster.placement.empty() ? nullptr : test.raster.placement.data();
        const bool voids = test.raster.type == GDT_Int16;
        writeRaster(folder.file("source.tif"), test.raster, [voids](int x, int y) {
            return voids && x == 40 && y == 50 ? -32768 : ramp(x, y);
        });
        const raster::ElevationGrid grid =
            raster::readElevation(folder.file("source.tif"), test.maxSamples);
        const HeightField& field = grid.field;
        ASSERT_EQ(field.columns, test.columns);
        ASSERT_EQ(field.rows, test.rows);
        EXPECT_NEAR(field.spacingEast, test.spacingEast, 0.1);
        EXPECT_NEAR(field.spacingSouth, test.spacingSouth, 0.1);
        EXPECT_EQ(grid.note.rfind(test.note, 0), 0u) << grid.note;
        // Each corner sample holds the ramp (averaging and interpolating keep it) at the source
        // pixel its placement names: north-up, east to +x, the void filled.
        const raster::SourcePlacement& at = grid.placement;
        for (const auto& [column, row] : {std::pair{0, 0}, {field.columns - 1, field.rows - 1}}) {
            const double x = at.originX + column * at.stepX;
            const double y = at.originY + row * at.stepY;
            const double pixelX = t ? (x - t[0]) / t[1] - 0.5 : x - 0.5;
            const double pixelY = t ? (y - t[3]) / t[5] - 0.5 : y - 0.5;
            EXPECT_NEAR(field.at(column, row), ramp(0, 0) + 3 * pixelX - 2 * pixelY, 1.0);
            double lon = 0;
            double lat = 0;
            ASSERT_EQ(at.latLon.usable(), t != nullptr);
            EXPECT_TRUE(!t || (at.latLon.toLatLon(x, y, lat, lon) && std::abs(lon - x) < 1e-9));
        }
        EXPECT_GT(*std::min_element(field.heights.begin(), field.heights.end()), 500.0f);
        const GroundImage image = raster::reliefImage(field, 64);
        EXPECT_EQ(std::max(image.width, image.height), 64);
        EXPECT_NEAR(image.width * field.depth() / field.width(), image.height, 1.0);
        EXPECT_EQ(image.rgb.size(), static_cast<std::size_t>(image.width) * image.height * 3);
    }
}
