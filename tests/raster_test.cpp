// The raster library's own tests: the jailed reader tried as an attacker would, with small
// sources made here and a value planted outside their folder that must never come back.

#include <fcntl.h>
#include <gdal.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

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
        const ElevationSource source(path, limits);
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
    };
    const std::string stalled = "stalled (a FIFO or a device in its way?)";
    const std::string outsideVrt = "lies outside the VRT's folder";
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
         stalled, stalled},
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
            EXPECT_FALSE(planted);
            if (expected.empty()) {
                EXPECT_EQ(outcome.refusal, "");
            } else {
                EXPECT_NE(outcome.refusal.find(expected), std::string::npos) << outcome.refusal;
                EXPECT_EQ(outcome.refusal.find('\n'), std::string::npos);
            }
            EXPECT_LT(outcome.seconds, limits.stallSeconds + 2.0);
            EXPECT_EQ(contents(in.path()), before);
            EXPECT_EQ(contents(out.path()), outsideBefore);
        }
    }
}

// The walls themselves, tried from a child process after it confined itself.
TEST(Jail, TheReaderCanNeitherWriteNorConnectNorRunAProgram) {
    TemporaryFolder in;
    TemporaryFolder out;
    writeFile(in.file("mine"), Bytes(4, 1));
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
