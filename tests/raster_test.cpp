// The raster library's own tests: the jailed reader tried as an attacker would, with small
// sources made here and a value planted outside their folder that must never come back.

#include <dirent.h>
#include <fcntl.h>
#include <gdal.h>
#include <gtest/gtest.h>
#include <ogr_srs_api.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "crs_policy.h"
#include "elevation_grid.h"
#include "elevation_source.h"
#include "jail.h"
#include "raster_error.h"
#include "raster_open.h"
#include "test_files.h"

using raster::ElevationSource;
using raster::JailLimits;

namespace {

constexpr double kGround = 100.0;
constexpr double kPlanted = 4242.0;
constexpr int kSide = 64;

void writeTiff(const std::string& path, int side, double value, const char* driver = "GTiff") {
    raster::useGdal();
    GDALDatasetH made =
        GDALCreate(GDALGetDriverByName(driver), path.c_str(), side, side, 1, GDT_Float32, nullptr);
    ASSERT_NE(made, nullptr) << path;
    double transform[6] = {0.0, 1.0, 0.0, 0.0, 0.0, -1.0};
    GDALSetGeoTransform(made, transform);
    ASSERT_EQ(GDALFillRaster(GDALGetRasterBand(made, 1), value, 0.0), CE_None);
    GDALClose(made);
}

std::vector<std::string> contents(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

void writeText(const std::string& path, const std::string& text) {
    writeFile(path, Bytes(text.begin(), text.end()));
}

// A VRT beside dem.tif (made here) reading it whole, in the coordinate system crs.
std::string vrtInCrs(const TemporaryFolder& in, const std::string& crs) {
    writeTiff(in.file("dem.tif"), kSide, kGround);
    writeText(in.file("dem.vrt"),
              "<VRTDataset rasterXSize=\"64\" rasterYSize=\"64\"><SRS>" + crs +
                  "</SRS><GeoTransform>7, 0.01, 0, 46, 0, -0.01</GeoTransform><VRTRasterBand "
                  "dataType=\"Float32\"><SimpleSource><SourceFilename relativeToVRT=\"1\">"
                  "dem.tif</SourceFilename></SimpleSource></VRTRasterBand></VRTDataset>");
    return in.file("dem.vrt");
}

// WGS 84 with a horizontal grid named in GDAL's own WKT, as a .prj may carry it.
std::string wktWithGrid(const std::string& grid) {
    return "GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\",SPHEROID[\"WGS 84\",6378137,298.257223563],"
           "EXTENSION[\"PROJ4_GRIDS\",\"" +
           grid +
           "\"]],PRIMEM[\"Greenwich\",0],UNIT[\"degree\",0.0174532925199433],AXIS["
           "\"Longitude\",EAST],AXIS[\"Latitude\",NORTH]]";
}

// Lowers the Landlock ABI the readers started while it lives see; 0 goes without Landlock.
class LandlockAbi {
  public:
    explicit LandlockAbi(int abi) {
        setenv("GROUNDVIEW_LANDLOCK_ABI", std::to_string(abi).c_str(), 1);
    }
    ~LandlockAbi() { unsetenv("GROUNDVIEW_LANDLOCK_ABI"); }
};

struct Outcome {
    std::string refusal;  // empty when the source was read
    std::vector<double> samples;
    double seconds = 0.0;
};

// Opens path in a jailed reader and reads it whole at side x side samples.
Outcome readJailed(const std::string& path, int side, const JailLimits& limits) {
    Outcome outcome;
    const auto start = std::chrono::steady_clock::now();
    try {
        // Several paths, one a line, are tiles named together.
        std::vector<std::string> paths;
        std::istringstream lines(path);
        for (std::string line; std::getline(lines, line);) {
            paths.push_back(line);
        }
        const ElevationSource source(paths, limits);
        outcome.samples.resize(static_cast<std::size_t>(side) * side);
        const raster::SourceWindow whole{0.0, 0.0, static_cast<double>(source.width()),
                                         static_cast<double>(source.height())};
        source.read(whole, side, side, outcome.samples.data(), side);
    } catch (const raster::RasterError& error) {
        outcome.refusal = error.what();
    }
    outcome.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return outcome;
}

// The ABIs each route is tried under: the kernel's own, the filesystem-only ABI of older
// kernels, and none.
std::vector<int> abisToTry() {
    std::vector<int> abis = {raster::landlockAbi()};
    if (abis.front() > 2) {
        abis.push_back(2);
    }
    if (abis.front() > 0) {
        abis.push_back(0);
    }
    return abis;
}

}  // namespace

TEST(Jail, NoRouteReachesPastTheSourcesFolderStallsOrWritesAnything) {
    struct Route {
        const char* name;
        std::function<std::string(const TemporaryFolder&, const TemporaryFolder&)> make;
        // What the reader says, "" when it reads the source (never the planted value); without
        // Landlock, which only the open policy then guards, some routes are read.
        std::string jailed;
        std::string unjailed;
        // Only Landlock holds this route: without it the planted value is read, as the README
        // says of kernels without Landlock.
        bool onlyLandlockHolds = false;
    };
    const std::string stalled = "stalled (a FIFO or a device in its way?)";
    const std::string outsideVrt = "lies outside the VRT's folder";
    const std::string outsideProj =
        "its coordinate system names a coordinate grid outside PROJ's data folder: ";
    const std::vector<Route> routes = {
        {"an overview linked outside",
         [](const TemporaryFolder& in, const TemporaryFolder& out) {
             writeTiff(in.file("dem.tif"), kSide, kGround);
             writeTiff(out.file("planted.tif"), kSide / 4, kPlanted);
             symlink(out.file("planted.tif").c_str(), in.file("dem.tif.ovr").c_str());
             return in.file("dem.tif");
         },
         "", ""},
        {"a header linked outside",
         [](const TemporaryFolder& in, const TemporaryFolder& out) {
             writeTiff(out.file("heights.bil"), kSide, kPlanted, "EHdr");
             writeTiff(in.file("heights.bil"), kSide, kGround, "EHdr");
             std::filesystem::remove(in.file("heights.hdr"));
             symlink(out.file("heights.hdr").c_str(), in.file("heights.hdr").c_str());
             return in.file("heights.bil");
         },
         "not a raster GDAL reads here", ""},
        {"a FIFO for an overview",
         [](const TemporaryFolder& in, const TemporaryFolder&) {
             writeTiff(in.file("dem.tif"), kSide, kGround);
             mkfifo(in.file("dem.tif.ovr").c_str(), 0600);
             return in.file("dem.tif");
         },
         "", stalled},
        {"a folder of tiles, one linked outside",
         [](const TemporaryFolder& in, const TemporaryFolder& out) {
             writeTiff(in.file("a.tif"), kSide, kGround);
             writeTiff(out.file("planted.tif"), kSide, kPlanted);
             symlink(out.file("planted.tif").c_str(), in.file("b.tif").c_str());
             return in.path();
         },
         "", ""},
        {"tiles named together, one a link leading outside",
         [](const TemporaryFolder& in, const TemporaryFolder& out) {
             writeTiff(in.file("a.tif"), kSide, kGround);
             writeTiff(out.file("planted.tif"), kSide, kPlanted);
             symlink(out.file("planted.tif").c_str(), in.file("b.tif").c_str());
             return in.file("a.tif") + "\n" + in.file("b.tif");
         },
         "", ""},
        {"tiles named together, one with a header linked outside",
         [](const TemporaryFolder& in, const TemporaryFolder& out) {
             writeTiff(in.file("a.tif"), kSide, kGround);
             writeTiff(out.file("heights.bil"), kSide, kPlanted, "EHdr");
             writeTiff(in.file("heights.bil"), kSide, kGround, "EHdr");
             std::filesystem::remove(in.file("heights.hdr"));
             symlink(out.file("heights.hdr").c_str(), in.file("heights.hdr").c_str());
             return in.file("a.tif") + "\n" + in.file("heights.bil");
         },
         "not a raster GDAL reads here", ""},
        {"a VRT naming a file outside",
         [](const TemporaryFolder& in, const TemporaryFolder& out) {
             writeTiff(out.file("planted.tif"), kSide, kPlanted);
             const std::string vrt =
                 "<VRTDataset rasterXSize=\"64\" rasterYSize=\"64\"><VRTRasterBand "
                 "dataType=\"Float32\"><SimpleSource><SourceFilename>" +
                 out.file("planted.tif") +
                 "</SourceFilename></SimpleSource></VRTRasterBand>"
                 "</VRTDataset>";
             writeFile(in.file("dem.vrt"), Bytes(vrt.begin(), vrt.end()));
             return in.file("dem.vrt");
         },
         outsideVrt, outsideVrt},
        // The owner builds a transformation to latitude and longitude from what the reader
        // says the coordinate system is, outside the jail: no grid it names is opened there.
        {"a VRT's coordinate system naming a grid outside",
         [](const TemporaryFolder& in, const TemporaryFolder& out) {
             writeTiff(out.file("shift.gsb"), kSide, kPlanted);
             return vrtInCrs(
                 in, "+proj=longlat +datum=WGS84 +nadgrids=" + out.file("shift.gsb") + " +no_defs");
         },
         outsideProj + "/", outsideProj + "/"},
        {"a .prj beside a .bil naming a FIFO for its grid",
         [](const TemporaryFolder& in, const TemporaryFolder&) {
             writeTiff(in.file("heights.bil"), kSide, kGround, "EHdr");
             mkfifo(in.file("shift.gsb").c_str(), 0600);
             writeText(in.file("heights.prj"), wktWithGrid(in.file("shift.gsb")));
             return in.file("heights.bil");
         },
         outsideProj + "/", stalled},
        {"an ENVI header's coordinate system naming a vertical grid by URL",
         [](const TemporaryFolder& in, const TemporaryFolder&) {
             writeTiff(in.file("heights.dat"), kSide, kGround, "ENVI");
             Bytes header = readFile(in.file("heights.hdr"));
             const std::string crs =
                 "coordinate system string = {COMPD_CS[\"x\",GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\","
                 "SPHEROID[\"WGS 84\",6378137,298.257223563]],PRIMEM[\"Greenwich\",0],UNIT["
                 "\"degree\",0.0174532925199433]],VERT_CS[\"h\",VERT_DATUM[\"d\",2005,EXTENSION["
                 "\"PROJ4_GRIDS\",\"https://127.0.0.1:9/g.tif\"]],UNIT[\"metre\",1]]]}\n";
             header.insert(header.end(), crs.begin(), crs.end());
             writeFile(in.file("heights.hdr"), header);
             return in.file("heights.dat");
         },
         outsideProj + "https://", outsideProj + "https://"},
        {"a VRT's coordinate system naming a grid beside it",
         [](const TemporaryFolder& in, const TemporaryFolder&) {
             writeTiff(in.file("shift.gsb"), kSide, kPlanted);
             return vrtInCrs(in, "+proj=longlat +datum=WGS84 +nadgrids=@shift.gsb +no_defs");
         },
         outsideProj + "@shift.gsb", outsideProj + "@shift.gsb"},
        {"a VRT's coordinate system with PROJ's own null grid",
         [](const TemporaryFolder& in, const TemporaryFolder&) {
             return vrtInCrs(in, "+proj=longlat +datum=WGS84 +nadgrids=@null +no_defs");
         },
         "", ""},
        // Read rights are the files a source names, not its folder.
        {"a home folder's hidden key named by a VRT",
         [](const TemporaryFolder& in, const TemporaryFolder&) {
             std::filesystem::create_directory(in.file(".ssh"));
             writeTiff(in.file(".ssh/id_ed25519"), kSide, kPlanted, "ENVI");
             writeText(in.file("home.vrt"),
                       "<VRTDataset rasterXSize=\"64\" rasterYSize=\"64\"><VRTRasterBand "
                       "dataType=\"Float32\" subClass=\"VRTRawRasterBand\"><SourceFilename "
                       "relativeToVRT=\"1\">.ssh/id_ed25519</SourceFilename><PixelOffset>4"
                       "</PixelOffset><LineOffset>256</LineOffset></VRTRasterBand></VRTDataset>");
             return in.file("home.vrt");
         },
         "is hidden", "is hidden"},
        {"an overview that is a VRT naming a sibling",
         [](const TemporaryFolder& in, const TemporaryFolder&) {
             writeTiff(in.file("dem.tif"), kSide, kGround);
             writeTiff(in.file("planted.tif"), kSide / 8, kPlanted);
             writeText(in.file("dem.tif.ovr"),
                       "<VRTDataset rasterXSize=\"8\" rasterYSize=\"8\"><VRTRasterBand "
                       "dataType=\"Float32\"><SimpleSource><SourceFilename relativeToVRT=\"1\">"
                       "planted.tif</SourceFilename></SimpleSource></VRTRasterBand></VRTDataset>");
             return in.file("dem.tif");
         },
         "dem.tif.ovr beside it is a VRT", "dem.tif.ovr beside it is a VRT"},
        {"an HFA raster whose spill file is an unrelated sibling",
         [](const TemporaryFolder& in, const TemporaryFolder&) {
             for (const auto& [name, value] :
                  {std::pair{"dem.img", kGround}, {"src.img", kPlanted}}) {
                 const char* options[] = {"USE_SPILL=YES", nullptr};
                 GDALDatasetH made =
                     GDALCreate(GDALGetDriverByName("HFA"), in.file(name).c_str(), kSide, kSide, 1,
                                GDT_Float32, const_cast<char**>(options));
                 EXPECT_NE(made, nullptr);
                 GDALFillRaster(GDALGetRasterBand(made, 1), value, 0.0);
                 GDALClose(made);
             }
             Bytes header = readFile(in.file("dem.img"));
             const std::string spill = "dem.ige";
             const auto at = std::search(header.begin(), header.end(), spill.begin(), spill.end());
             EXPECT_NE(at, header.end());
             std::copy_n("src", 3, at);
             writeFile(in.file("dem.img"), header);
             std::filesystem::remove(in.file("dem.ige"));
             std::filesystem::remove(in.file("src.img"));
             return in.file("dem.img");
         },
         "cannot read", "", true},
    };
    JailLimits limits;
    limits.stallSeconds = 1;
    for (const int abi : abisToTry()) {
        for (const Route& route : routes) {
            SCOPED_TRACE(std::string(route.name) + ", Landlock ABI " + std::to_string(abi));
            TemporaryFolder in;
            TemporaryFolder out;
            const std::string path = route.make(in, out);
            const auto before = contents(in.path());
            const auto outsideBefore = contents(out.path());
            const LandlockAbi lowered(abi);
            const Outcome outcome = readJailed(path, kSide / 8, limits);

            const std::string& expected = abi > 0 ? route.jailed : route.unjailed;
            const bool planted = std::find(outcome.samples.begin(), outcome.samples.end(),
                                           kPlanted) != outcome.samples.end();
            EXPECT_TRUE(!planted || (abi == 0 && route.onlyLandlockHolds));
            if (expected.empty()) {
                EXPECT_EQ(outcome.refusal, "");
            } else {
                EXPECT_NE(outcome.refusal.find(expected), std::string::npos) << outcome.refusal;
                EXPECT_EQ(outcome.refusal.find('\n'), std::string::npos);
            }
            // The stall itself shows in the refusal above; this only catches a watchdog that lets
            // a read drag on, at a bound no loaded machine reaches.
            EXPECT_LT(outcome.seconds, 30.0);
            EXPECT_EQ(contents(in.path()), before);
            EXPECT_EQ(contents(out.path()), outsideBefore);
        }
    }
}

// Every way a coordinate system names a file for PROJ to open: only bare names of files in PROJ's
// own data folder pass, whether in a PROJ string, GDAL's WKT or WKT2.
TEST(CrsPolicy, NamesEveryGridOutsideProjsDataFolder) {
    // A grid PROJ ships where the system has one, so that the way in is tried too.
    std::string shipped;
    for (const auto& entry : std::filesystem::directory_iterator(raster::projDataFolder())) {
        const std::string name = entry.path().filename().string();
        if (entry.is_regular_file() &&
            (name.size() > 4 &&
             (name.substr(name.size() - 4) == ".gsb" || name.substr(name.size() - 4) == ".tif"))) {
            shipped = name;
            break;
        }
    }
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"+proj=longlat +datum=WGS84 +no_defs", ""},
        {"+proj=longlat +datum=WGS84 +nadgrids=@null +no_defs", ""},
        {"+proj=longlat +init=epsg:4326", ""},
        {"+proj=longlat +nadgrids=/tmp/x.gsb", "/tmp/x.gsb"},
        {"+proj=longlat +nadgrids=@null,@/tmp/x.gsb", "@/tmp/x.gsb"},
        {"proj=longlat geoidgrids=../g.gtx", "../g.gtx"},
        {"+proj=longlat +nadgrids=~/g.gsb", "~/g.gsb"},
        {"+proj=longlat +nadgrids=https://127.0.0.1:9/g.tif", "https://127.0.0.1:9/g.tif"},
        {"+proj=longlat +nadgrids=beside.gsb", "beside.gsb"},
        {"+proj=longlat +init=/home/me/defs:1", "/home/me/defs:1"},
        {"+proj=longlat +nadgrids=", "\"\""},
        {"CONVERSION[\"PROJ-based coordinate operation\",METHOD[\"PROJ-based operation method: "
         "+proj=pipeline +step +proj=deformation +xy_grids=/d.tif +t_epoch=2000\"]]",
         "/d.tif"},
        {"CONVERSION[\"x\",METHOD[\"PROJ-based operation method: +proj=tinshift "
         "+file=/t.json\"]]",
         "/t.json"},
        {"ABRIDGEDTRANSFORMATION[\"x\",METHOD[\"NTv2\"],PARAMETERFILE[\"Latitude and longitude "
         "difference file\",\"/tmp/a \"\"b\"\".gsb\",ID[\"EPSG\",8656]]]",
         "/tmp/a \"b\".gsb"},
        {"parameterfile[\"f\",\"x.gsb\"]", "x.gsb"},
        {wktWithGrid("/tmp/e.gsb"), "/tmp/e.gsb"},
        {"VERT_DATUM[\"d\",2005,EXTENSION[\"PROJ4\",\"+proj=longlat +geoidgrids=/g.gtx\"]]",
         "/g.gtx"},
        {"VERTCRS[\"h\",VDATUM[\"d\"],GEOIDMODEL[\"/srv/g.gtx\"]]", "/srv/g.gtx"},
        {"VERTCRS[\"h\",VDATUM[\"d\"],GEOIDMODEL[\"g2018.tif\"]]", "g2018.tif"},
        {"VERTCRS[\"h\",VDATUM[\"d\"],GEOIDMODEL[\"GEOID12B\",ID[\"EPSG\",6326]]]", ""},
    };
    for (const auto& [crs, named] : cases) {
        SCOPED_TRACE(crs);
        EXPECT_EQ(raster::gridOutsideProjData(crs), named);
    }
    if (!shipped.empty()) {
        EXPECT_EQ(raster::gridOutsideProjData("+proj=longlat +nadgrids=@" + shipped), "");
        EXPECT_EQ(raster::gridOutsideProjData("PARAMETERFILE[\"f\",\"" + shipped + "\"]"), "");
    }
    EXPECT_THROW(raster::refuseGridsOutsideProjData(wktWithGrid("/x"), "dem.tif"),
                 raster::RasterError);
}

// The walls themselves, tried from a child process after it confined itself.
TEST(Jail, TheReaderCanNeitherWriteNorConnectNorRunAProgram) {
    TemporaryFolder in;
    TemporaryFolder out;
    writeFile(in.file("mine"), Bytes(4, 1));
    writeFile(in.file("sibling"), Bytes(4, 3));
    writeFile(out.file("secret"), Bytes(4, 2));
    struct Attempt {
        const char* name;
        std::function<bool()> succeeds;
        bool withLandlock;
        bool withoutLandlock;
    };
    const std::vector<Attempt> attempts = {
        {"reading its own folder", [&] { return open(in.file("mine").c_str(), O_RDONLY) >= 0; },
         true, true},
        {"reading another folder", [&] { return open(out.file("secret").c_str(), O_RDONLY) >= 0; },
         false, true},
        {"reading a file beside its own it was not given",
         [&] { return open(in.file("sibling").c_str(), O_RDONLY) >= 0; }, false, true},
        {"listing its own folder",
         [&] {
             DIR* listing = opendir(in.path().c_str());
             return listing != nullptr && closedir(listing) == 0;
         },
         true, true},
        {"reading GDAL's data",
         [] { return open(raster::gdalDataFolder().c_str(), O_RDONLY) >= 0; }, true, true},
        {"making a file",
         [&] { return open(in.file("made").c_str(), O_CREAT | O_WRONLY, 0600) >= 0; }, false, true},
        {"writing a file",
         [&] {
             const int fd = open(out.file("secret").c_str(), O_WRONLY | O_APPEND);
             return fd >= 0 && write(fd, "x", 1) == 1;
         },
         false, false},
        {"opening a socket", [] { return socket(AF_INET, SOCK_STREAM, 0) >= 0; }, false, false},
        {"running a program",
         [] {
             char* const argv[] = {const_cast<char*>("true"), nullptr};
             execv("/bin/true", argv);
             return errno != EPERM;
         },
         false, false},
    };
    for (const int abi : abisToTry()) {
        for (const Attempt& attempt : attempts) {
            SCOPED_TRACE(std::string(attempt.name) + ", Landlock ABI " + std::to_string(abi));
            const LandlockAbi lowered(abi);
            const pid_t child = fork();
            if (child == 0) {
                try {
                    raster::confineReader({in.path()}, JailLimits{});
                    raster::narrowReader({in.file("mine")}, {in.path()});
                } catch (...) {
                    _exit(3);
                }
                _exit(attempt.succeeds() ? 0 : 1);
            }
            int status = 0;
            waitpid(child, &status, 0);
            ASSERT_TRUE(WIFEXITED(status));
            const bool expected = abi > 0 ? attempt.withLandlock : attempt.withoutLandlock;
            EXPECT_EQ(WEXITSTATUS(status), expected ? 0 : 1);
        }
    }
    std::filesystem::remove(in.file("made"));
}

namespace {

// A Float32 GeoTIFF in UTM 32N (or placed by transform), nodata -9999, heights from height(x, y)
// in cells; NaN there is no data.
void writeHeights(const std::string& path, int width, int height,
                  const std::function<double(int, int)>& at,
                  std::array<double, 6> transform = {500000, 30, 0, 5000000, 0, -30},
                  GDALDataType type = GDT_Float32) {
    raster::useGdal();
    GDALDatasetH made =
        GDALCreate(GDALGetDriverByName("GTiff"), path.c_str(), width, height, 1, type, nullptr);
    ASSERT_NE(made, nullptr) << path;
    GDALSetGeoTransform(made, transform.data());
    OGRSpatialReferenceH utm = OSRNewSpatialReference(nullptr);
    OSRImportFromEPSG(utm, 32632);
    GDALSetSpatialRef(made, utm);
    OSRDestroySpatialReference(utm);
    GDALRasterBandH band = GDALGetRasterBand(made, 1);
    GDALSetRasterNoDataValue(band, -9999);
    std::vector<double> values;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double value = at(x, y);
            values.push_back(std::isnan(value) ? -9999 : value);
        }
    }
    ASSERT_EQ(GDALRasterIO(band, GF_Write, 0, 0, width, height, values.data(), width, height,
                           GDT_Float64, 0, 0),
              CE_None);
    GDALClose(made);
}

long long countOf(const HeightField& field, SampleKind kind) {
    return std::count_if(field.kinds.begin(), field.kinds.end(),
                         [kind](SampleKind k) { return k == kind; });
}

}  // namespace

// What the user gave is what the grid holds: every sample, its own spacings, no data never made
// up beyond a small void, the sea told from land without data.
TEST(ElevationGrid, KeepsEverySampleAndTellsVoidsSeaAndMissingApart) {
    constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
    const double turn = 30.0 * 3.141592653589793 / 180.0;
    struct Case {
        const char* name;
        int width, height;
        std::function<double(int, int)> at;
        std::array<double, 6> transform;
        int columns, rows;   // samples kept
        double east, south;  // extents in metres, within 1 %
        int voids, sea, missing;
        double seaShare, missingShare;  // of all samples, within 2 points
    };
    const auto coast = [](int x, int y) {
        const double shore = 80 + 10 * std::sin(y / 9.0);
        if (x < shore || (x >= 150 && x < 153 && y >= 60 && y < 63)) {
            return kNan;  // the sea, and one small void inland
        }
        return 0.5 + (x - shore) * 2.0;
    };
    const auto country = [](int x, int y) {  // with a pit in the middle, below its border
        const double pit = 300 * std::exp(-(std::pow(x - 100, 2) + std::pow(y - 100, 2)) / 400);
        return std::hypot(x - 100, y - 100) < 80 ? 300 + 2.0 * x - pit : kNan;
    };
    const std::vector<Case> cases = {
        {"a coast",
         200,
         160,
         coast,
         {500000, 30, 0, 5000000, 0, -30},
         200,
         160,
         199 * 30.0,
         159 * 30.0,
         1,
         1,
         0,
         0.42,
         0.0},
        {"a country",
         200,
         200,
         country,
         {500000, 30, 0, 5000000, 0, -30},
         200,
         200,
         199 * 30.0,
         199 * 30.0,
         0,
         0,
         1,
         0.0,
         1 - 3.14159 * 80 * 80 / 40000},
        {"a rotated raster",
         100,
         60,
         [](int x, int) { return 500.0 + x; },
         {500000, 30 * std::cos(turn), 30 * std::sin(turn), 5000000, 30 * std::sin(turn),
          -30 * std::cos(turn)},
         0,
         0,
         30 * (100 * std::cos(turn) + 60 * std::sin(turn)),
         30 * (100 * std::sin(turn) + 60 * std::cos(turn)),
         0,
         0,
         -1,
         -1,
         -1},
        {"two columns",
         2,
         1000,
         [](int, int y) { return 100.0 + y; },
         {500000, 30, 0, 5000000, 0, -30},
         2,
         1000,
         30.0,
         999 * 30.0,
         0,
         0,
         0,
         0.0,
         0.0},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        TemporaryFolder folder;
        writeHeights(folder.file("dem.tif"), test.width, test.height, test.at, test.transform);
        const raster::ElevationGrid grid = raster::readElevation(folder.file("dem.tif"));
        const HeightField& field = grid.field;
        if (test.columns > 0) {
            EXPECT_EQ(field.columns, test.columns);
            EXPECT_EQ(field.rows, test.rows);
        }
        EXPECT_NEAR(field.width(), test.east, 0.01 * test.east);
        EXPECT_NEAR(field.depth(), test.south, 0.01 * test.south);
        if (test.voids < 0 || test.missing < 0) {
            // Turned north-up, the corners the source does not cover hold no data.
            EXPECT_GT(grid.noData.missingSamples, 0);
            EXPECT_EQ(grid.noData.seaSamples, 0);
            continue;
        }
        EXPECT_EQ(grid.noData.voidsFilled, test.voids);
        EXPECT_EQ(grid.noData.seaRegions, test.sea);
        EXPECT_EQ(grid.noData.missingRegions, test.missing);
        const double all = static_cast<double>(field.heights.size());
        EXPECT_NEAR(countOf(field, SampleKind::sea) / all, test.seaShare, 0.02);
        EXPECT_NEAR(countOf(field, SampleKind::missing) / all,
                    test.missing > 0 ? test.missingShare : 0.0, 0.02);
        for (int r = 0; r < field.rows; ++r) {
            for (int c = 0; c < field.columns; ++c) {
                if (field.kind(c, r) == SampleKind::sea) {
                    ASSERT_EQ(field.at(c, r), 0.0f);  // the water's level
                } else if (field.kind(c, r) == SampleKind::filled) {
                    // Smoothly between the void's shore, the ramp at 2 m a column.
                    EXPECT_GT(field.at(c, r), field.at(149, r) - 1.0f);
                    EXPECT_LT(field.at(c, r), field.at(153, r) + 1.0f);
                } else if (field.kind(c, r) == SampleKind::missing) {
                    // The floor at the lowest height on its rim: the country's west edge.
                    ASSERT_EQ(field.at(c, r), field.at(21, 100));
                }
            }
        }
    }
}

// Whole-metre sources are shaded as smoothly as float ones: a hill stored as Int16 and as
// Float32 gives the same relief, level for level.
TEST(ElevationGrid, WholeMetreSourcesShowNoTerraces) {
    const auto hill = [](int x, int y) {
        return 1000 + 400 * std::exp(-(std::pow(x - 150, 2) + std::pow(y - 150, 2)) / 3000.0);
    };
    TemporaryFolder folder;
    writeHeights(folder.file("float.tif"), 300, 300, hill, {500000, 30, 0, 5000000, 0, -30});
    writeHeights(
        folder.file("whole.tif"), 300, 300, [&](int x, int y) { return std::round(hill(x, y)); },
        {500000, 30, 0, 5000000, 0, -30}, GDT_Int16);
    const auto relief = [&](const char* name) {
        const raster::ElevationGrid grid = raster::readElevation(folder.file(name));
        return raster::reliefImage(grid.field, 512);
    };
    const GroundImage smooth = relief("float.tif");
    const GroundImage whole = relief("whole.tif");
    ASSERT_EQ(smooth.rgb.size(), whole.rgb.size());
    std::size_t close = 0;
    for (std::size_t texel = 0; texel < smooth.rgb.size() / 3; ++texel) {
        bool near = true;
        for (int channel = 0; channel < 3; ++channel) {
            near = near &&
                   std::abs(smooth.rgb[texel * 3 + channel] - whole.rgb[texel * 3 + channel]) <= 2;
        }
        close += near;
    }
    EXPECT_GE(close, smooth.rgb.size() / 3 * 99 / 100);
}
