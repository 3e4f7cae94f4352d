#pragma once
// groundtool's findings about short and overlong files are worked out from a loader's byte counts,
// so they must hold for any input: a file can't supply more than it holds or than was asked of it.

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "load_report.h"

inline void requireCountsWithinFile(const LoadReport& report, std::int64_t size,
                                    const char* which) {
    if (report.fileBytes != size || report.bytesSupplied < 0 ||
        report.bytesSupplied > report.bytesNeeded || report.bytesSupplied > size) {
        std::fprintf(stderr, "%s: %lld of %lld bytes supplied from a file of %lld, known as %lld\n",
                     which, static_cast<long long>(report.bytesSupplied),
                     static_cast<long long>(report.bytesNeeded), static_cast<long long>(size),
                     static_cast<long long>(report.fileBytes));
        std::abort();
    }
}
