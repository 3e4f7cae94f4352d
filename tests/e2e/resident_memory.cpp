#include "resident_memory.h"

#include <algorithm>
#include <string>

#include "test_files.h"

long residentKiB(pid_t pid) {
    for (const std::string& line : readLines("/proc/" + std::to_string(pid) + "/status")) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

namespace {

double slopePerMinute(const std::vector<MemorySample>& samples) {
    if (samples.size() < 2) {
        return 0.0;
    }
    double meanT = 0, meanK = 0;
    for (const MemorySample& s : samples) {
        meanT += s.seconds;
        meanK += static_cast<double>(s.kib);
    }
    meanT /= static_cast<double>(samples.size());
    meanK /= static_cast<double>(samples.size());
    double covariance = 0, variance = 0;
    for (const MemorySample& s : samples) {
        covariance += (s.seconds - meanT) * (static_cast<double>(s.kib) - meanK);
        variance += (s.seconds - meanT) * (s.seconds - meanT);
    }
    return variance > 0 ? covariance / variance * 60.0 : 0.0;
}

}  // namespace

MemoryFigures memoryFigures(const std::vector<MemorySample>& samples, double seconds,
                            double baselineSeconds) {
    MemoryFigures figures;
    if (samples.empty()) {
        return figures;
    }
    figures.startKiB = samples.front().kib;
    figures.endKiB = samples.back().kib;
    const double baselineAt = std::min(baselineSeconds, seconds / 2);
    const auto baseline = std::find_if(samples.begin(), samples.end(), [&](const MemorySample& s) {
        return s.seconds >= baselineAt;
    });
    if (baseline != samples.end()) {
        figures.baselineSeconds = baseline->seconds;
        figures.baselineKiB = baseline->kib;
    }
    std::vector<MemorySample> secondHalf;
    for (const MemorySample& s : samples) {
        long& peak = s.seconds < seconds / 2 ? figures.firstHalfPeakKiB : figures.secondHalfPeakKiB;
        peak = std::max(peak, s.kib);
        if (s.seconds >= seconds / 2) {
            secondHalf.push_back(s);
        }
    }
    figures.secondHalfSlopeKiBPerMinute = slopePerMinute(secondHalf);
    return figures;
}
