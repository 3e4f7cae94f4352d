#include "bench_main.h"

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <fstream>
#include <thread>

#include "diag.h"
#include "test_files.h"

namespace bench {

namespace {

std::string folderOfRun;

std::string cpuModel() {
    std::ifstream cpuinfo("/proc/cpuinfo");
    for (std::string line; std::getline(cpuinfo, line);) {
        if (line.rfind("model name", 0) == 0 && line.find(':') != std::string::npos) {
            return line.substr(line.find(':') + 2);
        }
    }
    return "unknown";
}

}  // namespace

int runBenchmarks(int argc, char** argv, void (*prepare)(const std::string& folder)) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 2;
    }
    // glibc raises its mmap threshold after the first large free, so whether a reader's buffer
    // arrives as fresh pages or as recycled heap would depend on what ran before it. A fixed
    // threshold gives every large buffer fresh pages, as the viewer's one load at start-up gets.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    TemporaryFolder folder;
    folderOfRun = folder.path();
    // A load that logs must not leave errorlog.txt wherever the benchmark was started.
    setErrorLogFolder(folderOfRun);
    prepare(folderOfRun);
    benchmark::AddCustomContext("cpu_model", cpuModel());
    benchmark::AddCustomContext("cores", std::to_string(std::thread::hardware_concurrency()));
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    setErrorLogFolder(".");
    folderOfRun.clear();
    return 0;
}

const std::string& runFolder() {
    return folderOfRun;
}

}  // namespace bench
