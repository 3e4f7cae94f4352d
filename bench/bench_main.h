#pragma once
// What every benchmark program does around its benchmarks: a private folder, the files written
// into it once, the machine named in the output's context.

#include <string>

namespace bench {

// Runs the registered benchmarks with Google Benchmark's command line, after prepare has filled a
// fresh folder, which also takes any error log; returns the process's exit status.
int runBenchmarks(int argc, char** argv, void (*prepare)(const std::string& folder));

// The folder of this run, while runBenchmarks runs.
const std::string& runFolder();

}  // namespace bench
