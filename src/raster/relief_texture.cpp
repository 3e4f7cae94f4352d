#include "relief_texture.h"

#include <algorithm>
#include <cmath>

#include "elevation_source.h"
#include "gdal_raster.h"
#include "raster_error.h"

namespace raster {

namespace {

// Grid cells from the first sample's cell edge to the ground shown at texture coordinate 0: half
// a cell to the first sample's centre, plus along rows the row that t lags behind.
constexpr double kColumnLead = 0.5;
constexpr double kRowLead = 1.5;

// How one axis of the texture meets the grid's samples. The texture is computed as a raster in
// the source's own orientation whose texel i covers the cells [start + (i - 1) * texel,
// start + i * texel) from the window's edge; texture texel k shows raster texel (k + shift) mod
// side, so that texture coordinate c shows the ground lead + c * samples cells in.
struct TexelAxis {
    double texel;  // cells per texel
    int shift;
    double start;  // where raster texel 1 begins; texel 0 may begin outside the window
};

TexelAxis planAxis(int samples, int side, double lead) {
    const double texel = static_cast<double>(samples) / side;
    const int shift = static_cast<int>(std::ceil(lead / texel - 1e-9));
    return {texel, shift, lead - shift * texel + texel};
}

// Raster rows read at a time, so that GDAL's own buffers for resampling stay small.
constexpr int kStripRows = 256;

// The source's heights on the raster of both axes' plans, rows north to south. Where the source
// has no valid cell they are the filled grid's, interpolated: the ground the viewer draws there.
// (Filling the raster from its own valid texels takes seconds for a wide gap.) Texel 0 of each
// axis copies its neighbour: it may reach past the window, and it only ever lies beside the seam.
std::vector<double> textureHeights(const ElevationSource& source, const GridLayout& grid,
                                   std::vector<double> gridHeights, const TexelAxis& east,
                                   const TexelAxis& south, int side) {
    const auto stride = static_cast<std::size_t>(side);
    const double pixelsPerCellEast = grid.window.width / grid.rows;
    const double pixelsPerCellSouth = grid.window.height / grid.columns;
    std::vector<double> heights(stride * stride);
    std::vector<double> filled;
    Dataset filledGrid;
    for (int first = 1; first < side; first += kStripRows) {
        const int rows = std::min(kStripRows, side - first);
        SourceWindow cells;
        cells.x = east.start;
        cells.y = south.start + (first - 1) * south.texel;
        cells.width = (side - 1) * east.texel;
        cells.height = rows * south.texel;
        SourceWindow pixels;
        pixels.x = grid.window.x + cells.x * pixelsPerCellEast;
        pixels.y = grid.window.y + cells.y * pixelsPerCellSouth;
        pixels.width = cells.width * pixelsPerCellEast;
        pixels.height = cells.height * pixelsPerCellSouth;
        double* strip = heights.data() + first * stride + 1;
        source.read(pixels, side - 1, rows, strip, side);

        const auto end = strip + (rows - 1) * stride + side - 1;
        if (std::none_of(strip, end, [](double h) { return std::isnan(h); })) {
            continue;
        }
        if (!filledGrid) {
            filledGrid = rasterOver(gridHeights, grid.rows, grid.columns, {0, 1, 0, 0, 0, 1});
        }
        filled.resize(rows * stride);
        if (!readResampled(GDALGetRasterBand(filledGrid.get(), 1), cells, side - 1, rows,
                           filled.data(), side)) {
            throw RasterError("cannot fill the texture's missing heights: " + gdalMessage());
        }
        for (std::size_t i = 0; i < filled.size() && strip + i < end; ++i) {
            if (std::isnan(strip[i])) {
                strip[i] = filled[i];
            }
        }
    }
    for (std::size_t row = 1; row < stride; ++row) {
        heights[row * stride] = heights[row * stride + 1];
    }
    std::copy(heights.begin() + stride, heights.begin() + 2 * stride, heights.begin());
    return heights;
}

}  // namespace

TextureTiles textureTiles(const GridLayout& grid) {
    return {grid.columns, grid.rows};
}

std::vector<std::uint8_t> reliefTexture(const ElevationSource& source, const GridLayout& grid,
                                        const std::vector<double>& gridHeights, TextureKind kind,
                                        int side, HeightRange range) {
    const TexelAxis east = planAxis(grid.rows, side, kRowLead);
    const TexelAxis south = planAxis(grid.columns, side, kColumnLead);
    // The heights go as soon as they are coloured: at the largest size they are the biggest
    // buffer of all.
    const std::vector<std::uint8_t> colours = [&] {
        std::vector<double> heights = textureHeights(source, grid, gridHeights, east, south, side);
        // Texels measured in height units, so that gdaldem's slopes are the ground's own.
        const double perUnit = source.metresPerUnit();
        const GeoTransform placement = {0.0, grid.cellEast * east.texel / perUnit,   0.0, 0.0,
                                        0.0, -grid.cellNorth * south.texel / perUnit};
        return reliefColours(heights, side, side, placement, kind, range);
    }();

    // The raster's rows run south and its columns east; the texture's rows run along s (south)
    // and are stored bottom-up from t = 0 (west), so it is the raster turned and shifted.
    const auto stride = static_cast<std::size_t>(side);
    std::vector<std::uint8_t> rgb(stride * stride * 3);
    for (std::size_t y = 0; y < stride; ++y) {
        const std::size_t t = stride - 1 - y;
        const std::size_t rasterColumn = (t + static_cast<std::size_t>(east.shift)) % stride;
        for (std::size_t s = 0; s < stride; ++s) {
            const std::size_t rasterRow = (s + static_cast<std::size_t>(south.shift)) % stride;
            const auto from = colours.begin() +
                              static_cast<std::ptrdiff_t>(3 * (rasterRow * stride + rasterColumn));
            std::copy(from, from + 3,
                      rgb.begin() + static_cast<std::ptrdiff_t>(3 * (y * stride + s)));
        }
    }
    return rgb;
}

}  // namespace raster
