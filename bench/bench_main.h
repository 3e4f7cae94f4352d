#pragma once
// What every benchmark program does around its benchmarks: a private working folder, the files
// written into it once, the machine named in the output's context.

#include <string>

namespace bench {

// Runs the registered benchmarks with Google Benchmark's command line in a fresh working folder
// that prepare fills first; returns the process's exit status.
int runBenchmarks(int argc, char** argv, void (*prepare)(const std::string& folder));

}  // namespace bench
