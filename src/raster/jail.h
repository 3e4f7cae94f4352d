#pragma once
// The walls around the process that decodes a user's raster. A file a stranger sent may name any
// path, device or server through one of GDAL's many drivers; rather than list every way, the
// kernel holds the reader to the source's own folder and the system's read-only GDAL and PROJ
// data (Landlock, Linux 5.13 and later), refuses it sockets and new programs (seccomp), and
// bounds its memory and processor time.

#include <string>
#include <vector>

namespace raster {

struct JailLimits {
    unsigned long long memoryBytes = 4ULL << 30;  // address space; a 4097 x 4097 read is 134 MB
    unsigned long long cpuSeconds = 600;          // processor time over the reader's whole life
    int stallSeconds = 10;  // with no progress reported, the read is ended; the reader's
                            // GROUNDVIEW_STALL_SECONDS may shorten it, for a test
};

// The Landlock ABI the kernel offers, 0 without Landlock. GROUNDVIEW_LANDLOCK_ABI, when it names
// a smaller whole number, lowers it, so that older kernels' walls can be tried on a newer one.
int landlockAbi();

// What guards the reader on this kernel, on one line: "rasters are read in a jail: Landlock ABI 7
// (files, TCP, signals), seccomp, memory and time limits".
std::string jailDescription();

// Says once on standard error when the kernel has no Landlock: only the open policy then keeps a
// raster's reader within its folder.
void warnWithoutLandlock();

// Confines the calling process for the rest of its life: it reads only beneath the folders in
// readable and the system data GDAL and PROJ need, writes and makes nothing, opens no socket,
// starts no program, and keeps within limits. Throws RasterError when a wall the kernel offers
// can't be put up.
void confineReader(const std::vector<std::string>& readable, const JailLimits& limits);

// Narrows a confined reader's reading, for the rest of its life, to files, each by itself, the
// listing of folders (names only), and the system's data: a second Landlock layer over
// confineReader's, put up once the reader knows what its source names. Without Landlock it does
// nothing. Throws RasterError as confineReader does.
void narrowReader(const std::vector<std::string>& files, const std::vector<std::string>& folders);

}  // namespace raster
