#include "import.h"

#include <algorithm>
#include <cmath>
#include <ostream>

#include "file_output.h"
#include "terrain_file.h"

namespace groundtool {

namespace {

struct Tap {
    int index;
    double weight;
};

// For each of target samples, the source samples it draws on and their weights (summing to 1).
std::vector<std::vector<Tap>> resamplingTaps(int source, int target) {
    std::vector<std::vector<Tap>> taps(static_cast<std::size_t>(target));
    const double ratio = static_cast<double>(source) / target;
    for (int i = 0; i < target; ++i) {
        std::vector<Tap>& tap = taps[static_cast<std::size_t>(i)];
        if (target <= source) {
            // Each target sample covers [from, to) of the source; average what it covers.
            const double from = i * ratio;
            const double to = (i + 1) * ratio;
            for (int s = static_cast<int>(from); s < source && s < to; ++s) {
                const double overlap =
                    std::min(to, s + 1.0) - std::max(from, static_cast<double>(s));
                if (overlap > 0.0) {
                    tap.push_back({s, overlap / ratio});
                }
            }
        } else {
            // Sample centres line up: target centre i + 0.5 sits at source position (i + 0.5) *
            // ratio, measured from the first source centre.
            const double at =
                std::min(static_cast<double>(source - 1), std::max(0.0, (i + 0.5) * ratio - 0.5));
            const int s = static_cast<int>(at);
            const int next = std::min(s + 1, source - 1);
            const double fraction = at - s;
            tap.push_back({s, 1.0 - fraction});
            tap.push_back({next, fraction});
        }
    }
    return taps;
}

}  // namespace

GridShape gridShape(int imageWidth, int imageHeight) {
    const int longer = std::max(imageWidth, imageHeight);
    auto fit = [longer](int side) {
        const int scaled =
            longer > kMaxGridSize
                ? static_cast<int>(std::lround(static_cast<double>(side) * kMaxGridSize / longer))
                : side;
        return std::max(kMinGridSize, std::min(kMaxGridSize, scaled));
    };
    return {fit(imageHeight), fit(imageWidth)};
}

std::vector<std::int8_t> heightsFromImage(const GreyImage& image, GridShape shape) {
    const auto across = resamplingTaps(image.width, shape.columns);
    const auto down = resamplingTaps(image.height, shape.rows);

    // Along each image row first, then down the columns.
    std::vector<double> rows(static_cast<std::size_t>(image.height) * shape.columns);
    for (int y = 0; y < image.height; ++y) {
        const std::uint8_t* line = image.grey.data() + static_cast<std::size_t>(y) * image.width;
        for (int c = 0; c < shape.columns; ++c) {
            double sum = 0.0;
            for (const Tap& tap : across[static_cast<std::size_t>(c)]) {
                sum += tap.weight * line[tap.index];
            }
            rows[static_cast<std::size_t>(y) * shape.columns + c] = sum;
        }
    }
    std::vector<std::int8_t> heights;
    heights.reserve(static_cast<std::size_t>(shape.rows) * shape.columns);
    for (int r = 0; r < shape.rows; ++r) {
        for (int c = 0; c < shape.columns; ++c) {
            double grey = 0.0;
            for (const Tap& tap : down[static_cast<std::size_t>(r)]) {
                grey += tap.weight * rows[static_cast<std::size_t>(tap.index) * shape.columns + c];
            }
            const long height = std::lround(grey) - 128;
            heights.push_back(static_cast<std::int8_t>(std::min(127L, std::max(-128L, height))));
        }
    }
    return heights;
}

void runImport(const ImportOptions& options, std::ostream& out) {
    StagedOutput output(options.force);
    output.checkTarget(options.output);
    const GreyImage image = readGreyImage(options.image);
    const GridShape shape = options.size > 0 ? GridShape{options.size, options.size}
                                             : gridShape(image.width, image.height);

    TerrainHeader header;
    header.rows = shape.rows;
    header.columns = shape.columns;
    header.textureNumber = options.textureNumber;
    header.tileX = options.tile;
    header.tileY = options.tile;
    const std::vector<std::int8_t> heights = heightsFromImage(image, shape);
    output.stage(options.output, encodeTerrain(header, heights));
    output.commit();

    const auto [low, high] = std::minmax_element(heights.begin(), heights.end());
    out << "wrote " << options.output << " (" << shape.rows << " rows x " << shape.columns
        << " columns from " << image.width << " x " << image.height << " pixels, heights "
        << static_cast<int>(*low) << " to " << static_cast<int>(*high) << ", texture "
        << header.textureNumber << ".bmp, not written)\n";
}

}  // namespace groundtool
