#include "noise.h"

#include <cmath>

namespace groundtool {

std::uint64_t mix64(std::uint64_t value) {
    value += 0x9E3779B97F4A7C15ull;
    value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ull;
    value = (value ^ (value >> 27)) * 0x94D049BB133111EBull;
    return value ^ (value >> 31);
}

std::uint64_t SplitMix64::next() {
    const std::uint64_t result = mix64(state_);
    state_ += 0x9E3779B97F4A7C15ull;
    return result;
}

namespace {

// Quintic fade: the blend's first and second derivatives vanish at the lattice points, so no
// grid shows in the result.
double fade(double t) {
    return t * t * t * (t * (t * 6.0 - 15.0) + 10.0);
}

std::int64_t wrap(std::int64_t value, std::int64_t period) {
    const std::int64_t r = value % period;
    return r < 0 ? r + period : r;
}

}  // namespace

FractalNoise::FractalNoise(std::uint64_t seed, int basePeriod, int octaves, double persistence)
    : seed_(seed), basePeriod_(basePeriod), octaves_(octaves), persistence_(persistence) {}

double FractalNoise::lattice(int octave, std::int64_t x, std::int64_t y) const {
    const std::int64_t period = static_cast<std::int64_t>(basePeriod_) << octave;
    std::uint64_t key = mix64(seed_ ^ static_cast<std::uint64_t>(octave));
    key = mix64(key ^ static_cast<std::uint64_t>(wrap(x, period)));
    key = mix64(key ^ static_cast<std::uint64_t>(wrap(y, period)));
    // The top 53 bits as a double in [0, 1), then stretched to [-1, 1).
    return static_cast<double>(key >> 11) * (2.0 / 9007199254740992.0) - 1.0;
}

double FractalNoise::octave(int octave, double u, double v) const {
    const double period = static_cast<double>(static_cast<std::int64_t>(basePeriod_) << octave);
    const double x = u * period;
    const double y = v * period;
    const double cellX = std::floor(x);
    const double cellY = std::floor(y);
    const auto ix = static_cast<std::int64_t>(cellX);
    const auto iy = static_cast<std::int64_t>(cellY);
    const double fx = fade(x - cellX);
    const double fy = fade(y - cellY);
    const double top = lattice(octave, ix, iy) * (1.0 - fx) + lattice(octave, ix + 1, iy) * fx;
    const double bottom =
        lattice(octave, ix, iy + 1) * (1.0 - fx) + lattice(octave, ix + 1, iy + 1) * fx;
    return top * (1.0 - fy) + bottom * fy;
}

double FractalNoise::at(double u, double v) const {
    double sum = 0.0;
    double amplitude = 1.0;
    double total = 0.0;
    for (int k = 0; k < octaves_; ++k) {
        sum += amplitude * octave(k, u, v);
        total += amplitude;
        amplitude *= persistence_;
    }
    return total > 0.0 ? sum / total : 0.0;
}

}  // namespace groundtool
