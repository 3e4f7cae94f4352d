#pragma once
// Runs the built groundtool binary in a given folder and collects what it printed, for the
// tests that check the command line as a user meets it, and writes the rasters it reads.

#include <gdal.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

struct ToolRun {
    int status = -1;  // exit status, or -1 when the tool did not exit normally
    std::string out;
    std::string err;
    bool timedOut = false;  // killed for running past its time limit
};

// Runs the tool in folder ("." is the test's own working folder), with environment's "NAME=value"
// entries over this process's variables. A run still going after limit is killed, so a tool that
// waits forever fails its test instead of stalling the suite.
ToolRun runTool(const std::vector<std::string>& arguments, const std::string& folder = ".",
                std::chrono::seconds limit = std::chrono::seconds(120),
                const std::vector<std::string>& environment = {});

// The names in a folder, sorted, hidden ones included: what a failed command must not add to.
std::vector<std::string> folderContents(const std::string& folder);

using HeightAt = std::function<double(int x, int y)>;  // pixel x east, y south; NaN: nodata

struct Raster {
    const char* driver;
    int width;
    int height;
    GDALDataType type;
    std::vector<double> placement;  // GDAL's geotransform; empty for none
    int epsg;                       // 0 for no coordinate system
    double nodata;                  // written where height is NaN, and declared unless 0
    const char* unit = "";          // the band's unit type ("cm", "km"); empty for none
};

// Writes height(x, y) for every pixel through GDAL's driver, by way of an in-memory copy so
// that drivers which only copy can write too.
void writeRaster(const std::string& path, const Raster& raster, const HeightAt& height);
