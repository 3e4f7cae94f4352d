#include "relief_colours.h"

#include <cpl_vsi.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <exception>
#include <sstream>
#include <string>
#include <thread>

#include "angles.h"
#include "gdal_raster.h"

namespace raster {

namespace {

constexpr double kSunAzimuth = 315.0;
constexpr double kSunAltitude = 45.0;
// GDAL's hillshade of level ground, 1 + 254 sin(altitude): the shade that leaves a tint as it is.
const double kLevelShade = 1.0 + 254.0 * std::sin(kSunAltitude * kRadiansPerDegree);

struct TintStop {
    double share;  // of the way from the lowest height to the highest
    std::uint8_t r, g, b;
};
// Lowland green through tan and brown to grey rock and snow.
constexpr std::array<TintStop, 7> kTint = {{{0.00, 72, 130, 74},
                                            {0.12, 110, 158, 88},
                                            {0.30, 178, 190, 118},
                                            {0.50, 205, 180, 130},
                                            {0.70, 168, 128, 92},
                                            {0.88, 170, 160, 150},
                                            {1.00, 245, 245, 245}}};

// A colour file for gdaldem color-relief spanning range, in /vsimem/ while it lives.
class TintFile {
  public:
    explicit TintFile(HeightRange range)
        : name_("/vsimem/groundview-tint-" + std::to_string(++count_) + ".txt") {
        // A flat source still needs rising entries.
        const double span = range.high > range.low ? range.high - range.low : 1.0;
        std::ostringstream text;
        text.precision(17);
        for (const TintStop& stop : kTint) {
            text << range.low + stop.share * span << ' ' << int{stop.r} << ' ' << int{stop.g} << ' '
                 << int{stop.b} << '\n';
        }
        text_ = text.str();
        VSIFCloseL(VSIFileFromMemBuffer(name_.c_str(), reinterpret_cast<GByte*>(text_.data()),
                                        text_.size(), FALSE));
    }
    ~TintFile() { VSIUnlink(name_.c_str()); }
    TintFile(const TintFile&) = delete;
    TintFile& operator=(const TintFile&) = delete;
    const std::string& name() const { return name_; }

  private:
    // A name of its own, so that images made at the same time keep their colours apart.
    static inline std::atomic<unsigned> count_{0};
    std::string name_;
    std::string text_;
};

}  // namespace

std::vector<std::uint8_t> reliefColours(std::vector<double>& heights, int width, int height,
                                        const std::vector<double>& placement, TextureKind kind,
                                        HeightRange range) {
    // The shading and the tint are made at once, on two threads, each with its own view of the
    // heights: GDAL's datasets are not shared between threads.
    std::vector<std::uint8_t> colours;
    std::exception_ptr tintFailure;
    std::thread tinting;
    if (kind != TextureKind::hillshade) {
        tinting = std::thread([&] {
            try {
                const Dataset raster = rasterOver(heights, width, height, placement);
                const TintFile tintFile(range);
                const Dataset tint =
                    demProcessing(raster.get(), "color-relief", {}, tintFile.name());
                colours = readBytes(tint.get(), 3);
            } catch (...) {
                tintFailure = std::current_exception();
            }
        });
    }
    std::vector<std::uint8_t> shade;
    std::exception_ptr shadeFailure;
    if (kind != TextureKind::tint) {
        try {
            const Dataset raster = rasterOver(heights, width, height, placement);
            const Dataset shading =
                demProcessing(raster.get(), "hillshade",
                              {"-compute_edges", "-az", std::to_string(kSunAzimuth), "-alt",
                               std::to_string(kSunAltitude)});
            shade = readBytes(shading.get(), 1);
        } catch (...) {
            shadeFailure = std::current_exception();
        }
    }
    if (tinting.joinable()) {
        tinting.join();
    }
    for (const std::exception_ptr& failure : {shadeFailure, tintFailure}) {
        if (failure) {
            std::rethrow_exception(failure);
        }
    }
    if (kind == TextureKind::hillshade) {
        colours.resize(shade.size() * 3);
        for (std::size_t i = 0; i < shade.size(); ++i) {
            std::fill_n(colours.begin() + static_cast<std::ptrdiff_t>(3 * i), 3, shade[i]);
        }
    }
    if (kind == TextureKind::relief) {
        // Every tint level lit by every shade, worked out once: the image has millions of texels.
        std::vector<std::uint8_t> lit(256 * 256);
        for (int light = 0; light < 256; ++light) {
            for (int level = 0; level < 256; ++level) {
                lit[light * 256 + level] = static_cast<std::uint8_t>(
                    std::lround(std::min(255.0, level * (light / kLevelShade))));
            }
        }
        for (std::size_t i = 0; i < colours.size(); ++i) {
            colours[i] = lit[shade[i / 3] * 256u + colours[i]];
        }
    }
    return colours;
}

}  // namespace raster
