#pragma once
// A process's resident memory sampled over a run, and the figures that tell whether it stays
// flat.

#include <sys/types.h>

#include <vector>

// VmRSS from /proc/PID/status in KiB, or -1 when the process is gone.
long residentKiB(pid_t pid);

struct MemorySample {
    double seconds;  // since the run began
    long kib;
};

struct MemoryFigures {
    long startKiB = -1;
    double baselineSeconds = 0;
    long baselineKiB = -1;  // the first sample at or after the baseline time
    long endKiB = -1;
    long firstHalfPeakKiB = -1;
    long secondHalfPeakKiB = -1;
    double secondHalfSlopeKiBPerMinute = 0;  // least squares
};

// Figures of samples taken over a run of the given length, with the baseline at baselineSeconds
// or half-way, whichever comes first.
MemoryFigures memoryFigures(const std::vector<MemorySample>& samples, double seconds,
                            double baselineSeconds);
