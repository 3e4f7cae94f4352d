// groundtool pyramid: the cache it fills, against GDAL's own averages of the same source.

#include "pyramid.h"

#include <fcntl.h>
#include <gdal.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "pyramid_cache.h"
#include "test_files.h"
#include "tool_runner.h"

namespace fs = std::filesystem;

namespace {

// 203 x 161 cells of 30 m, both sides odd: heights rising east and south, a void covering whole
// 2 x 2 boxes and, on its odd edges, half of others.
constexpr int kWidth = 203;
constexpr int kHeight = 161;
const Raster kSource = {"GTiff", kWidth, kHeight, GDT_Float32, {500000, 30, 0, 5100000, 0, -30},
                        32632,   -9999};

double heightAt(int x, int y) {
    const bool hole = x >= 41 && x < 50 && y >= 21 && y < 30;
    return hole ? NAN : 100.0 + 0.75 * x + 0.01 * y * y;
}

struct Level {
    int width = 0;
    int height = 0;
    std::vector<float> values;
};

// Band 1 of path, or its whole window averaged to width x height by GDAL.
Level readLevel(const std::string& path, int width = 0, int height = 0) {
    GDALAllRegister();
    GDALDatasetH dataset = GDALOpen(path.c_str(), GA_ReadOnly);
    EXPECT_NE(dataset, nullptr) << path;
    Level level;
    if (dataset == nullptr) {
        return level;
    }
    GDALRasterBandH band = GDALGetRasterBand(dataset, 1);
    const int sourceWidth = GDALGetRasterXSize(dataset);
    const int sourceHeight = GDALGetRasterYSize(dataset);
    level.width = width > 0 ? width : sourceWidth;
    level.height = height > 0 ? height : sourceHeight;
    level.values.resize(static_cast<std::size_t>(level.width) * level.height);
    GDALRasterIOExtraArg average;
    INIT_RASTERIO_EXTRA_ARG(average);
    average.eResampleAlg = GRIORA_Average;
    const int windowWidth = width > 0 ? 2 * width : sourceWidth;
    const int windowHeight = height > 0 ? 2 * height : sourceHeight;
    EXPECT_EQ(GDALRasterIOEx(band, GF_Read, 0, 0, windowWidth, windowHeight, level.values.data(),
                             level.width, level.height, GDT_Float32, 0, 0, &average),
              CE_None);
    GDALClose(dataset);
    return level;
}

std::string firstLine(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

// The pyramids in folder's cache, each as groundtool pyramid prints it; a record of its source
// beside each.
std::vector<std::string> cached(const TemporaryFolder& folder, const std::string& cache = "cache") {
    std::vector<std::string> pyramids;
    const std::string inside = folder.file(cache + "/groundview");
    if (!fs::is_directory(inside)) {
        return pyramids;
    }
    for (const std::string& name : folderContents(inside)) {
        const std::string stem = name.substr(0, name.size() - 4);
        if (name.size() > 4 && name.substr(name.size() - 4) == ".tif") {
            EXPECT_TRUE(fs::exists(inside + "/" + stem + ".source")) << name;
            pyramids.push_back(inside + "/" + name + "\n");
        }
    }
    return pyramids;
}

// A level's samples bit for bit, NaN included.
bool sameSamples(const Level& a, const Level& b) {
    return a.width == b.width && a.height == b.height &&
           std::memcmp(a.values.data(), b.values.data(), a.values.size() * sizeof(float)) == 0;
}

double raised(int x, int y) {
    return heightAt(x, y) + 7.25;
}

}  // namespace

TEST(Pyramid, HalvesTheSourceIntoTheCacheAsGdalAverages) {
    TemporaryFolder folder;
    writeRaster(folder.file("src.tif"), kSource, heightAt);
    const std::vector<std::string> environment = {"XDG_CACHE_HOME=" + folder.file("cache")};
    const ToolRun run =
        runTool({"pyramid", "src.tif"}, folder.path(), std::chrono::seconds(120), environment);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string path = run.out.substr(0, run.out.size() - 1);
    EXPECT_EQ(fs::path(path).parent_path(), fs::path(folder.file("cache/groundview")));
    EXPECT_EQ(fs::path(path).filename().string().size(), 16u + 1u + 16u + 4u) << path;
    EXPECT_EQ(folderContents(folder.path()), (std::vector<std::string>{"cache", "src.tif"}));
    EXPECT_EQ(cached(folder), std::vector<std::string>{run.out});
    EXPECT_EQ(fs::status(folder.file("cache/groundview")).permissions(), fs::perms::owner_all);

    // Level 1 against GDAL's average of the same boxes, away from the odd last column and row.
    const Level pyramid = readLevel(path);
    ASSERT_EQ(pyramid.width, (kWidth + 1) / 2);
    ASSERT_EQ(pyramid.height, (kHeight + 1) / 2);
    const Level gdal = readLevel(folder.file("src.tif"), kWidth / 2, kHeight / 2);
    int voids = 0;
    for (int y = 0; y < gdal.height; ++y) {
        for (int x = 0; x < gdal.width; ++x) {
            const float expected = gdal.values[static_cast<std::size_t>(y * gdal.width + x)];
            const float got = pyramid.values[static_cast<std::size_t>(y * pyramid.width + x)];
            if (expected == kSource.nodata) {  // GDAL writes the nodata value
                ++voids;
                EXPECT_TRUE(std::isnan(got)) << x << ", " << y;
            } else {
                EXPECT_NEAR(got, expected, 1e-4) << x << ", " << y;
            }
        }
    }
    EXPECT_EQ(voids, 4 * 4);  // the whole boxes of the 9 x 9 void
    // The last column's boxes are one cell wide, the last row's one cell high.
    const int lastX = pyramid.width - 1;
    const int lastY = pyramid.height - 1;
    for (int y = 0; y < lastY; ++y) {
        EXPECT_NEAR(pyramid.values[static_cast<std::size_t>(y * pyramid.width + lastX)],
                    (heightAt(kWidth - 1, 2 * y) + heightAt(kWidth - 1, 2 * y + 1)) / 2, 1e-4);
    }
    EXPECT_NEAR(pyramid.values[static_cast<std::size_t>(lastY * pyramid.width + 3)],
                (heightAt(6, kHeight - 1) + heightAt(7, kHeight - 1)) / 2, 1e-4);

    // Placed as the source with cells doubled, halved again down to 64 samples a side or fewer.
    GDALDatasetH dataset = GDALOpen(path.c_str(), GA_ReadOnly);
    ASSERT_NE(dataset, nullptr);
    double transform[6] = {};
    GDALGetGeoTransform(dataset, transform);
    EXPECT_EQ(std::vector<double>(transform, transform + 6),
              (std::vector<double>{500000, 60, 0, 5100000, 0, -60}));
    GDALRasterBandH band = GDALGetRasterBand(dataset, 1);
    ASSERT_EQ(GDALGetOverviewCount(band), 1);
    EXPECT_EQ(GDALGetRasterBandXSize(GDALGetOverview(band, 0)), 51);
    EXPECT_EQ(GDALGetRasterBandYSize(GDALGetOverview(band, 0)), 41);
    int hasNodata = 0;
    EXPECT_TRUE(std::isnan(GDALGetRasterNoDataValue(band, &hasNodata)) && hasNodata);
    GDALClose(dataset);

    // An overview's sample is the mean of its 2 x 2 box of level 1, clipped at the odd last row.
    const Level overview = readLevel("GTIFF_DIR:2:" + path);
    const auto at = [&pyramid](int x, int y) {
        return static_cast<double>(pyramid.values[static_cast<std::size_t>(y * pyramid.width + x)]);
    };
    EXPECT_EQ(overview.values[5 * 51 + 5],
              static_cast<float>((at(10, 10) + at(11, 10) + at(10, 11) + at(11, 11)) / 4));
    EXPECT_EQ(overview.values[40 * 51 + 5], static_cast<float>((at(10, 80) + at(11, 80)) / 2));

    // Of whole heights, the means rounded to quarters of a unit.
    const Raster whole = {"GTiff", kWidth, kHeight, GDT_Int16, kSource.placement, 32632, -9999};
    writeRaster(folder.file("whole.tif"), whole,
                [](int x, int y) { return std::round(3 * heightAt(x, y)); });
    const ToolRun wholeRun =
        runTool({"pyramid", "whole.tif"}, folder.path(), std::chrono::seconds(120), environment);
    ASSERT_EQ(wholeRun.status, 0) << wholeRun.err;
    const Level first = readLevel(firstLine(wholeRun.out));
    const Level second = readLevel("GTIFF_DIR:2:" + firstLine(wholeRun.out));
    int rounded = 0;
    // Boxes whole inside level 1: the last row and column may be clipped.
    for (int y = 0; y + 1 < second.height; ++y) {
        for (int x = 0; x + 1 < second.width; ++x) {
            double sum = 0;
            int count = 0;
            for (const int cell : {0, 1, first.width, first.width + 1}) {
                const float value =
                    first.values[static_cast<std::size_t>(2 * y * first.width + 2 * x + cell)];
                sum += std::isnan(value) ? 0 : value;
                count += std::isnan(value) ? 0 : 1;
            }
            const float got = second.values[static_cast<std::size_t>(y * second.width + x)];
            if (count > 0) {
                EXPECT_EQ(got, std::round(4 * sum / count) / 4) << x << ", " << y;
                rounded += got != static_cast<float>(sum / count) ? 1 : 0;
            }
        }
    }
    EXPECT_GT(rounded, 0);
}

TEST(Pyramid, BuiltOnceUntilTheSourceChanges) {
    TemporaryFolder folder;
    writeRaster(folder.file("src.tif"), kSource, heightAt);
    const std::vector<std::string> environment = {"XDG_CACHE_HOME=" + folder.file("cache")};
    const auto pyramid = [&] {
        return runTool({"pyramid", "src.tif"}, folder.path(), std::chrono::seconds(120),
                       environment);
    };
    const ToolRun first = pyramid();
    ASSERT_EQ(first.status, 0) << first.err;
    const std::string path = first.out.substr(0, first.out.size() - 1);
    struct stat built {};
    ASSERT_EQ(stat(path.c_str(), &built), 0);

    const ToolRun again = pyramid();
    EXPECT_EQ(again.status, 0);
    EXPECT_EQ(again.out, first.out);
    EXPECT_EQ(again.err, "groundtool: the pyramid of src.tif is up to date\n");
    struct stat used {};  // the last use, which the cache's eviction goes by
    ASSERT_EQ(stat(path.c_str(), &used), 0);
    EXPECT_GT(used.st_mtim.tv_sec * 1000000000LL + used.st_mtim.tv_nsec,
              built.st_mtim.tv_sec * 1000000000LL + built.st_mtim.tv_nsec);

    const timespec times[2] = {{0, UTIME_OMIT}, {built.st_mtim.tv_sec + 5, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, folder.file("src.tif").c_str(), times, 0), 0);
    const ToolRun touched = pyramid();
    EXPECT_EQ(touched.status, 0) << touched.err;
    EXPECT_NE(touched.out, first.out);
    EXPECT_EQ(cached(folder), std::vector<std::string>{touched.out});  // the stale one removed
}

TEST(Pyramid, UnreadableSourceLeavesTheCacheAlone) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"notes.txt", "groundtool: cannot read notes.txt: not a raster GDAL reads here"},
        {"absent.tif", "groundtool: cannot read absent.tif: No such file or directory\n"},
    };
    for (const auto& [name, message] : cases) {
        TemporaryFolder folder;
        writeFile(folder.file("notes.txt"), Bytes{'h', 'i', '\n'});
        const ToolRun run = runTool({"pyramid", name}, folder.path(), std::chrono::seconds(60),
                                    {"XDG_CACHE_HOME=" + folder.file("cache")});
        EXPECT_EQ(run.status, 1) << name;
        EXPECT_EQ(run.err.rfind(message, 0), 0u) << run.err;
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
        EXPECT_EQ(run.out, "") << name;
        EXPECT_EQ(folderContents(folder.path()), std::vector<std::string>{"notes.txt"}) << name;
    }
}

// The cache is made inside $XDG_CACHE_HOME or $HOME/.cache, each made itself when missing, and
// never above them: a home or a cache's parent that is not there is refused, nothing made.
TEST(Pyramid, MakesNoFolderAboveTheCacheOrTheHome) {
    struct Case {
        std::string name;
        std::vector<std::string> environment;  // "ROOT/" stands for the test's folder
        std::string cache;                     // where it is built, from the folder; "" refused
        std::vector<std::string> made;         // the folder's contents afterwards
    };
    const std::vector<Case> cases = {
        {"a cache folder to make",
         {"XDG_CACHE_HOME=ROOT/cache"},
         "cache/groundview",
         {"cache", "home", "src.tif"}},
        {"a home without .cache",
         {"XDG_CACHE_HOME=", "HOME=ROOT/home"},
         "home/.cache/groundview",
         {"home", "src.tif"}},
        {"a home that is not there",
         {"XDG_CACHE_HOME=", "HOME=ROOT/gone"},
         "",
         {"home", "src.tif"}},
        {"a cache whose parent is not there",
         {"XDG_CACHE_HOME=ROOT/gone/cache"},
         "",
         {"home", "src.tif"}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        TemporaryFolder folder;
        writeRaster(folder.file("src.tif"), kSource, heightAt);
        fs::create_directory(folder.file("home"));
        std::vector<std::string> environment;
        for (const std::string& setting : test.environment) {
            const std::size_t root = setting.find("ROOT/");
            environment.push_back(root == std::string::npos
                                      ? setting
                                      : setting.substr(0, root) +
                                            folder.file(setting.substr(5 + root)));
        }
        const ToolRun run =
            runTool({"pyramid", "src.tif"}, folder.path(), std::chrono::seconds(120), environment);
        EXPECT_EQ(folderContents(folder.path()), test.made);
        if (test.cache.empty()) {
            EXPECT_EQ(run.status, 1);
            EXPECT_EQ(run.out, "");
            EXPECT_EQ(run.err.rfind("groundtool: cannot make the folder " + folder.file("gone"), 0),
                      0u)
                << run.err;
            EXPECT_NE(run.err.find(": " + folder.file("gone") +
                                   " is no folder; groundview makes "
                                   "none above "),
                      std::string::npos)
                << run.err;
            EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
            EXPECT_EQ(folderContents(folder.file("home")), std::vector<std::string>{});
        } else {
            ASSERT_EQ(run.status, 0) << run.err;
            EXPECT_EQ(fs::path(run.out.substr(0, run.out.size() - 1)).parent_path(),
                      fs::path(folder.file(test.cache)));
            EXPECT_EQ(fs::status(folder.file(test.cache)).permissions(), fs::perms::owner_all);
        }
    }
}

// Every file the reader reads for a source names its pyramid: a tile of a folder or beneath a VRT
// edited, or a file replaced by one of the same size and modification time, makes the next run
// build anew what a fresh cache builds, and the stale pyramid goes.
TEST(Pyramid, RebuiltWhenAnyFileItReadsChanges) {
    const Raster east = {
        "GTiff", kWidth, kHeight, GDT_Float32, {500000 + 30 * kWidth, 30, 0, 5100000, 0, -30},
        32632,   -9999};
    struct Case {
        std::string name;
        std::string source;
        std::string changed;  // rewritten with other heights
        bool sameSizeAndTime;
    };
    const std::vector<Case> cases = {
        {"a tile of a folder", "tiles", "tiles/b.tif", false},
        {"a tile beneath a VRT", "tiles.vrt", "tiles/b.tif", false},
        {"a file replaced, same size and time", "tiles/a.tif", "tiles/a.tif", true},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        TemporaryFolder folder;
        fs::create_directory(folder.file("tiles"));
        writeRaster(folder.file("tiles/a.tif"), kSource, heightAt);
        writeRaster(folder.file("tiles/b.tif"), east, heightAt);
        ASSERT_EQ(std::system(("cd " + folder.path() +
                               " && gdalbuildvrt -q tiles.vrt tiles/a.tif tiles/b.tif")
                                  .c_str()),
                  0);
        const auto pyramid = [&](const std::string& cache) {
            return runTool({"pyramid", test.source}, folder.path(), std::chrono::seconds(120),
                           {"XDG_CACHE_HOME=" + folder.file(cache)});
        };
        const ToolRun first = pyramid("cache");
        ASSERT_EQ(first.status, 0) << first.err;
        struct stat before {};
        ASSERT_EQ(stat(folder.file(test.changed).c_str(), &before), 0);
        writeRaster(folder.file(test.changed), test.changed == "tiles/b.tif" ? east : kSource,
                    raised);
        if (test.sameSizeAndTime) {
            const timespec times[2] = {before.st_atim, before.st_mtim};
            ASSERT_EQ(utimensat(AT_FDCWD, folder.file(test.changed).c_str(), times, 0), 0);
            struct stat after {};
            ASSERT_EQ(stat(folder.file(test.changed).c_str(), &after), 0);
            ASSERT_EQ(after.st_size, before.st_size);
        }
        const ToolRun second = pyramid("cache");
        ASSERT_EQ(second.status, 0) << second.err;
        EXPECT_EQ(second.err.find("up to date"), std::string::npos) << second.err;
        EXPECT_NE(second.out, first.out);
        EXPECT_EQ(cached(folder), std::vector<std::string>{second.out});
        const ToolRun fresh = pyramid("fresh");
        ASSERT_EQ(fresh.status, 0) << fresh.err;
        EXPECT_TRUE(sameSamples(readLevel(firstLine(second.out)), readLevel(firstLine(fresh.out))));
        EXPECT_FALSE(fs::exists(firstLine(first.out)));
    }
}

// The cache holds at most its limit: the least recently used pyramid goes first; groundtool cache
// lists what is left and removes a source's pyramids or all of them.
TEST(PyramidCache, KeepsTheRecentlyUsedWithinItsLimitListsAndCleans) {
    TemporaryFolder folder;
    for (const char* name : {"a.tif", "b.tif", "c.tif"}) {
        writeRaster(folder.file(name), kSource, heightAt);
    }
    std::vector<std::string> environment = {"XDG_CACHE_HOME=" + folder.file("cache")};
    const auto tool = [&](const std::vector<std::string>& arguments) {
        return runTool(arguments, folder.path(), std::chrono::seconds(120), environment);
    };
    const std::string a = tool({"pyramid", "a.tif"}).out;
    const std::string b = tool({"pyramid", "b.tif"}).out;
    const std::string c = tool({"pyramid", "c.tif"}).out;
    EXPECT_EQ(tool({"pyramid", "a.tif"}).err, "groundtool: the pyramid of a.tif is up to date\n");
    EXPECT_EQ(cached(folder).size(), 3u);
    const auto bytes = fs::file_size(firstLine(a));  // each takes as many
    environment.push_back("GROUNDVIEW_CACHE_LIMIT=" + std::to_string(bytes * 5 / 2));
    EXPECT_EQ(tool({"pyramid", "c.tif"}).out, c);
    std::vector<std::string> kept = {a, c};
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(cached(folder), kept);  // b, the least recently used, went

    const ToolRun list = tool({"cache"});
    EXPECT_EQ(list.status, 0) << list.err;
    std::vector<std::string> sources;
    for (std::size_t at = 0; at < list.out.size(); at = list.out.find('\n', at) + 1) {
        sources.push_back(list.out.substr(at, list.out.find('\n', at) - at));
    }
    ASSERT_EQ(sources.size(), 3u) << list.out;
    EXPECT_EQ(sources[0].substr(sources[0].rfind("  ") + 2), folder.file("a.tif"));
    EXPECT_EQ(sources[1].substr(sources[1].rfind("  ") + 2), folder.file("c.tif"));
    EXPECT_EQ(sources[2].rfind("2 pyramids, ", 0), 0u) << sources[2];

    EXPECT_EQ(tool({"cache", "clean", "b.tif"}).out, "no pyramid of b.tif in the cache\n");
    EXPECT_EQ(tool({"cache", "clean", "a.tif"}).out.rfind("removed 1 pyramid, ", 0), 0u);
    EXPECT_EQ(cached(folder), std::vector<std::string>{c});
    EXPECT_EQ(tool({"cache", "clean"}).out.rfind("removed 1 pyramid, ", 0), 0u);
    EXPECT_EQ(folderContents(folder.file("cache/groundview")), std::vector<std::string>{});
}

// A source whose pyramid the cache can't hold is streamed from its own averaged reads: groundtool
// pyramid says why, render draws it all the same.
TEST(PyramidCache, SourceRendersWithoutAPyramidTheCacheCannotHold) {
    struct Case {
        std::string name;
        std::vector<std::string> environment;  // "ROOT/" stands for the test's folder
        std::string configured;                // the cache-limit file's text, if any
        std::string refusal;                   // the start of groundtool pyramid's error; "" built
        std::string note;
    };
    const std::vector<Case> cases = {
        {"a limit set below the pyramid",
         {"GROUNDVIEW_CACHE_LIMIT=1K"},
         "",
         "groundtool: the pyramid of src.tif would take about ",
         ""},
        {"a limit in the settings",
         {},
         "2k\n",
         "groundtool: the pyramid of src.tif would take ",
         ""},
        {"a limit that is no byte count",
         {"GROUNDVIEW_CACHE_LIMIT=lots"},
         "",
         "",
         "note: GROUNDVIEW_CACHE_LIMIT holds lots, no byte count (like 500M or 20G); the cache's "
         "default limit is used\n"},
        {"a cache that is a file",
         {"XDG_CACHE_HOME=ROOT/file"},
         "",
         "groundtool: cannot write ROOT/file/groundview/",
         ""},
        {"a read-only cache",
         {"XDG_CACHE_HOME=ROOT/locked"},
         "",
         "groundtool: cannot write ROOT/locked/groundview/",
         ""},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        if (test.name == "a read-only cache" && geteuid() == 0) {
            continue;  // the owner of every file writes anywhere
        }
        TemporaryFolder folder;
        writeRaster(folder.file("src.tif"), kSource, heightAt);
        fs::create_directories(folder.file("config/groundview"));
        fs::create_directories(folder.file("file"));
        writeFile(folder.file("file/groundview"), Bytes{'x'});
        fs::create_directories(folder.file("locked/groundview"));
        fs::permissions(folder.file("locked/groundview"),
                        fs::perms::owner_read | fs::perms::owner_exec);
        if (!test.configured.empty()) {
            writeFile(folder.file("config/groundview/cache-limit"),
                      Bytes(test.configured.begin(), test.configured.end()));
        }
        std::vector<std::string> environment;  // the first of a name holds
        for (const std::string& setting : test.environment) {
            const std::size_t root = setting.find("ROOT/");
            environment.push_back(root == std::string::npos
                                      ? setting
                                      : setting.substr(0, root) +
                                            folder.file(setting.substr(root + 5)));
        }
        environment.insert(environment.end(), {"XDG_CACHE_HOME=" + folder.file("cache"),
                                               "XDG_CONFIG_HOME=" + folder.file("config"),
                                               "GROUNDVIEW_STREAM_ABOVE=64"});
        std::string refusal = test.refusal;
        if (const std::size_t root = refusal.find("ROOT/"); root != std::string::npos) {
            refusal = refusal.substr(0, root) + folder.file(refusal.substr(root + 5));
        }
        const ToolRun pyramid =
            runTool({"pyramid", "src.tif"}, folder.path(), std::chrono::seconds(120), environment);
        const ToolRun render = runTool({"render", "src.tif", "--out", "src.png"}, folder.path(),
                                       std::chrono::seconds(120), environment);
        EXPECT_EQ(render.status, 0) << render.err;
        EXPECT_TRUE(fs::exists(folder.file("src.png")));
        if (refusal.empty()) {
            EXPECT_EQ(pyramid.status, 0) << pyramid.err;
            EXPECT_EQ(pyramid.err.rfind(test.note, 0), 0u) << pyramid.err;
            EXPECT_EQ(cached(folder).size(), 1u);
            continue;
        }
        EXPECT_EQ(pyramid.status, 1);
        EXPECT_EQ(pyramid.err.rfind(refusal, 0), 0u) << pyramid.err;
        // The picture is made without one, and says so on one line with the same reason.
        EXPECT_EQ(render.err.rfind("note: shown from averaged reads of the source, without a "
                                   "pyramid: " +
                                       refusal.substr(std::string("groundtool: ").size()),
                                   0),
                  0u)
            << render.err;
        EXPECT_EQ(render.err.find('\n'), render.err.size() - 1) << render.err;
        EXPECT_EQ(pyramid.err.find('\n'), pyramid.err.size() - 1) << pyramid.err;
        EXPECT_EQ(pyramid.out, "");
        EXPECT_EQ(cached(folder), std::vector<std::string>{});
    }
}

// The viewer stops a build by throwing from its progress: the throw comes through, from level 1's
// reading or from the overviews' halving, and nothing is left in the cache.
TEST(Pyramid, StoppedBuildLeavesNothing) {
    struct Stop {};
    for (const double at : {0.05, 0.9}) {
        SCOPED_TRACE(at);
        TemporaryFolder folder;
        writeRaster(folder.file("src.tif"), kSource, heightAt);
        const raster::ElevationSource source(folder.file("src.tif"));
        double reached = 0;
        EXPECT_THROW(raster::buildPyramid(source, folder.file("cache/groundview/p.tif"),
                                          [&](double share) {
                                              reached = share;
                                              if (share >= at) {
                                                  throw Stop{};
                                              }
                                          }),
                     Stop);
        EXPECT_GE(reached, at);
        EXPECT_EQ(folderContents(folder.file("cache/groundview")), std::vector<std::string>{});
    }
}
