#pragma once
// Seeded randomness that gives the same numbers on every machine and standard library: a
// splitmix64 generator and value noise built on it from plain arithmetic alone (no library
// distributions or transcendental functions, whose results may differ between platforms).

#include <cstdint>

namespace groundtool {

class SplitMix64 {
  public:
    explicit SplitMix64(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next();

  private:
    std::uint64_t state_;
};

// One splitmix64 step applied to a value: a cheap, well-mixed hash.
std::uint64_t mix64(std::uint64_t value);

// Smooth noise in [-1, 1] over the unit square that wraps at its edges, so a texture made from
// it repeats without seams. Octave k has a lattice of basePeriod * 2^k cells per side, and its
// amplitude is persistence^k: a larger persistence gives rougher results.
class FractalNoise {
  public:
    FractalNoise(std::uint64_t seed, int basePeriod, int octaves, double persistence);
    // u and v in any range; the noise repeats every 1.
    double at(double u, double v) const;

  private:
    double lattice(int octave, std::int64_t x, std::int64_t y) const;
    double octave(int octave, double u, double v) const;

    std::uint64_t seed_;
    int basePeriod_;
    int octaves_;
    double persistence_;
};

}  // namespace groundtool
