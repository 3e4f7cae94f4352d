// groundtool pyramid: the cache it fills, against GDAL's own averages of the same source.

#include <fcntl.h>
#include <gdal.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <vector>

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
    EXPECT_EQ(fs::path(path).filename().string().size(), 16u + 4u) << path;
    EXPECT_EQ(folderContents(folder.path()), (std::vector<std::string>{"cache", "src.tif"}));
    EXPECT_EQ(folderContents(folder.file("cache/groundview")),
              std::vector<std::string>{fs::path(path).filename().string()});
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
    struct stat kept {};
    ASSERT_EQ(stat(path.c_str(), &kept), 0);
    EXPECT_EQ(kept.st_mtim.tv_nsec, built.st_mtim.tv_nsec);
    EXPECT_EQ(kept.st_mtim.tv_sec, built.st_mtim.tv_sec);

    const timespec times[2] = {{0, UTIME_OMIT}, {built.st_mtim.tv_sec + 5, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, folder.file("src.tif").c_str(), times, 0), 0);
    const ToolRun touched = pyramid();
    EXPECT_EQ(touched.status, 0) << touched.err;
    EXPECT_NE(touched.out, first.out);
    EXPECT_EQ(folderContents(folder.file("cache/groundview")).size(), 2u);
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
