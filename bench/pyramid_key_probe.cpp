// pyramid_key_probe: the time the viewer takes, at each open of a source without overviews, to
// find whether its pyramid is current: every file the reader reads stat'ed, each VRT among them
// hashed, the cache listed for stale pyramids. Prints the median of N checks in ms, one line;
// bench/pyramid_bench holds it to its budget.
//
// pyramid_key_probe SOURCE [N]

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <vector>

#include "pyramid_cache.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: pyramid_key_probe SOURCE [N]\n";
        return 64;
    }
    const int count = argc > 2 ? std::max(1, std::atoi(argv[2])) : 9;
    std::vector<double> times;
    try {
        for (int i = 0; i < count; ++i) {
            const auto start = std::chrono::steady_clock::now();
            raster::existingPyramid({argv[1]}, 1);
            times.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count());
        }
    } catch (const std::exception& error) {
        std::cerr << "pyramid_key_probe: " << error.what() << "\n";
        return 1;
    }
    std::sort(times.begin(), times.end());
    std::cout << times[times.size() / 2] << "\n";
    return 0;
}
