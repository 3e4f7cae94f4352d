#include "tool_runner.h"

#include <gtest/gtest.h>
#include <ogr_srs_api.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <optional>

#include "child_process.h"

ToolRun runTool(const std::vector<std::string>& arguments, const std::string& folder,
                std::chrono::seconds limit, const std::vector<std::string>& environment) {
    ChildOptions options;
    options.executable = GROUNDTOOL_PATH;
    options.arguments = arguments;
    options.workingFolder = folder;
    options.environment = environment;
    ChildProcess tool(options);

    ToolRun run;
    std::optional<ExitStatus> status = tool.waitForExit(limit);
    if (!status) {
        tool.kill();
        run.timedOut = true;
    } else if (status->exited) {
        run.status = status->code;
    }
    run.out = tool.standardOutput();
    run.err = tool.standardError();
    return run;
}

std::vector<std::string> folderContents(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

void writeRaster(const std::string& path, const Raster& raster, const HeightAt& height) {
    GDALAllRegister();
    GDALDatasetH memory = GDALCreate(GDALGetDriverByName("MEM"), "", raster.width, raster.height, 1,
                                     raster.type, nullptr);
    std::vector<double> values;
    for (int y = 0; y < raster.height; ++y) {
        for (int x = 0; x < raster.width; ++x) {
            values.push_back(std::isnan(height(x, y)) ? raster.nodata : height(x, y));
        }
    }
    GDALRasterBandH band = GDALGetRasterBand(memory, 1);
    ASSERT_EQ(GDALRasterIO(band, GF_Write, 0, 0, raster.width, raster.height, values.data(),
                           raster.width, raster.height, GDT_Float64, 0, 0),
              CE_None);
    if (!raster.placement.empty()) {
        std::vector<double> placement = raster.placement;
        GDALSetGeoTransform(memory, placement.data());
    }
    if (raster.epsg != 0) {
        OGRSpatialReferenceH crs = OSRNewSpatialReference(nullptr);
        OSRImportFromEPSG(crs, raster.epsg);
        OSRSetAxisMappingStrategy(crs, OAMS_TRADITIONAL_GIS_ORDER);
        GDALSetSpatialRef(memory, crs);
        OSRDestroySpatialReference(crs);
    }
    if (raster.nodata != 0.0) {
        GDALSetRasterNoDataValue(band, raster.nodata);
    }
    GDALSetRasterUnitType(band, raster.unit);
    GDALDatasetH file = GDALCreateCopy(GDALGetDriverByName(raster.driver), path.c_str(), memory,
                                       FALSE, nullptr, nullptr, nullptr);
    ASSERT_NE(file, nullptr) << CPLGetLastErrorMsg();
    GDALClose(file);
    GDALClose(memory);
}
