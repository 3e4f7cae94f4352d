#include "jail.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <linux/landlock.h>
#include <seccomp.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <mutex>

#include "crs_policy.h"
#include "raster_error.h"

namespace raster {

namespace {

// Landlock's rights by the ABI that brought them; the system's header may predate the later ones.
constexpr std::uint64_t kFsRightsAbi1 = (1ULL << 13) - 1;  // execute ... make_sym
constexpr std::uint64_t kFsRefer = 1ULL << 13;             // ABI 2
constexpr std::uint64_t kFsTruncate = 1ULL << 14;          // ABI 3
constexpr std::uint64_t kFsIoctlDev = 1ULL << 15;          // ABI 5
constexpr std::uint64_t kNetBindTcp = 1ULL << 0;           // ABI 4
constexpr std::uint64_t kNetConnectTcp = 1ULL << 1;
constexpr std::uint64_t kScopeAbstractUnixSocket = 1ULL << 0;  // ABI 6
constexpr std::uint64_t kScopeSignal = 1ULL << 1;
constexpr int kAbiNet = 4;
constexpr int kAbiScope = 6;

constexpr std::uint64_t kReadFile = LANDLOCK_ACCESS_FS_READ_FILE;
constexpr std::uint64_t kReadDir = LANDLOCK_ACCESS_FS_READ_DIR;

// The ruleset attribute as the newest kernels take it; older ones are given its first fields.
struct RulesetAttr {
    std::uint64_t handledAccessFs;
    std::uint64_t handledAccessNet;
    std::uint64_t scoped;
};

struct PathBeneathAttr {
    std::uint64_t allowedAccess;
    std::int32_t parentFd;
} __attribute__((packed));

// Read-only system data: the libraries GDAL may load late (its plugins, iconv's converters);
// GDAL's and PROJ's own tables are in the folders fixed when the program was built.
constexpr const char* kSystemFolders[] = {"/usr/lib", "/lib", "/lib64"};
constexpr const char* kSystemFiles[] = {"/etc/ld.so.cache"};

// System calls the reader never needs: the network, other programs, other processes' memory,
// and the root-only ways past the file walls.
constexpr const char* kRefusedCalls[] = {"socket",
                                         "connect",
                                         "bind",
                                         "listen",
                                         "accept",
                                         "accept4",
                                         "execve",
                                         "execveat",
                                         "ptrace",
                                         "process_vm_readv",
                                         "process_vm_writev",
                                         "open_by_handle_at",
                                         "name_to_handle_at",
                                         "mount",
                                         "umount2",
                                         "pivot_root",
                                         "chroot",
                                         "unshare",
                                         "setns",
                                         "bpf",
                                         "perf_event_open",
                                         "init_module",
                                         "finit_module",
                                         "delete_module",
                                         "kexec_load",
                                         "kexec_file_load",
                                         "keyctl",
                                         "add_key",
                                         "request_key",
                                         "io_uring_setup"};

int kernelLandlockAbi() {
    const long abi =
        syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    return abi > 0 ? static_cast<int>(abi) : 0;
}

std::uint64_t handledFsRights(int abi) {
    std::uint64_t rights = kFsRightsAbi1;
    if (abi >= 2) {
        rights |= kFsRefer;
    }
    if (abi >= 3) {
        rights |= kFsTruncate;
    }
    if (abi >= 5) {
        rights |= kFsIoctlDev;
    }
    return rights;
}

[[noreturn]] void fail(const std::string& step) {
    throw RasterError("cannot start the raster reader's jail: " + step + ": " +
                      std::strerror(errno));
}

// What a rule lets the reader do with a path.
enum class Reading {
    everything,  // a folder: list it and read every file beneath it; a file: read it
    fileOnly,    // a regular file: read it; anything else is passed over
    listingOnly  // a folder: list it and those beneath it; anything else is passed over
};

// Adds a read-only rule for path when it exists.
void allowReading(int ruleset, const std::string& path, Reading reading = Reading::everything) {
    const int fd = open(path.c_str(), O_PATH | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    struct stat status {};
    const bool folder = fstat(fd, &status) == 0 && S_ISDIR(status.st_mode);
    const bool regular = S_ISREG(status.st_mode);
    if ((reading == Reading::fileOnly && !regular) ||
        (reading == Reading::listingOnly && !folder)) {
        close(fd);
        return;
    }
    PathBeneathAttr rule{};
    rule.parentFd = fd;
    rule.allowedAccess = reading == Reading::listingOnly ? kReadDir
                         : folder                        ? kReadFile | kReadDir
                                                         : kReadFile;
    const long added =
        syscall(SYS_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &rule, 0);
    const int error = errno;
    close(fd);
    if (added != 0) {
        errno = error;
        fail("adding " + path);
    }
}

// Whatever GDAL_DATA, PROJ_DATA or a gdalrc say, the reader reads the system's data alone.
std::vector<std::string> systemData() {
    std::vector<std::string> paths(std::begin(kSystemFolders), std::end(kSystemFolders));
    paths.insert(paths.end(), std::begin(kSystemFiles), std::end(kSystemFiles));
    paths.push_back(gdalDataFolder());
    paths.push_back(projDataFolder());
    return paths;
}

// A new ruleset handling every file right of abi, and the network and scopes when wall.
int newRuleset(int abi, bool wall) {
    RulesetAttr attr{};
    attr.handledAccessFs = handledFsRights(abi);
    std::size_t size = sizeof(attr.handledAccessFs);
    if (wall && abi >= kAbiNet) {
        attr.handledAccessNet = kNetBindTcp | kNetConnectTcp;
        size += sizeof(attr.handledAccessNet);
    }
    if (wall && abi >= kAbiScope) {
        attr.scoped = kScopeAbstractUnixSocket | kScopeSignal;
        size += sizeof(attr.scoped);
    }
    const long ruleset = syscall(SYS_landlock_create_ruleset, &attr, size, 0);
    if (ruleset < 0) {
        fail("landlock_create_ruleset");
    }
    return static_cast<int>(ruleset);
}

void restrict(int ruleset) {
    const long restricted = syscall(SYS_landlock_restrict_self, ruleset, 0);
    close(ruleset);
    if (restricted != 0) {
        fail("landlock_restrict_self");
    }
}

void landlock(int abi, const std::vector<std::string>& readable) {
    const int fd = newRuleset(abi, true);
    std::vector<std::string> paths = systemData();
    paths.insert(paths.end(), readable.begin(), readable.end());
    for (const std::string& path : paths) {
        allowReading(fd, path);
    }
    restrict(fd);
}

void refuseCalls() {
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ALLOW);
    if (filter == nullptr) {
        errno = ENOMEM;
        fail("seccomp_init");
    }
    for (const char* name : kRefusedCalls) {
        const int call = seccomp_syscall_resolve_name(name);
        if (call != __NR_SCMP_ERROR &&
            seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), call, 0) != 0) {
            seccomp_release(filter);
            errno = EINVAL;
            fail(std::string("refusing ") + name);
        }
    }
    const int loaded = seccomp_load(filter);
    seccomp_release(filter);
    if (loaded != 0) {
        errno = -loaded;
        fail("seccomp_load");
    }
}

// Root's capabilities would let the reader read past file permissions; it needs none.
void dropCapabilities() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capset, &header, data) != 0) {
        fail("dropping capabilities");
    }
}

void setLimit(int resource, rlim_t value, const char* name) {
    const rlimit limit{value, value};
    if (setrlimit(resource, &limit) != 0) {
        fail(name);
    }
}

void limit(const JailLimits& limits) {
    // An address-space limit defeats the sanitizers' shadow memory; their builds go without.
#if defined(__SANITIZE_ADDRESS__)
    static_cast<void>(limits.memoryBytes);
#elif defined(__has_feature)
#if !__has_feature(address_sanitizer)
    setLimit(RLIMIT_AS, limits.memoryBytes, "limiting memory");
#endif
#else
    setLimit(RLIMIT_AS, limits.memoryBytes, "limiting memory");
#endif
    setLimit(RLIMIT_CPU, limits.cpuSeconds, "limiting processor time");
    // Nothing is written to any file, and no core dump lands beside anything.
    std::signal(SIGXFSZ, SIG_IGN);
    setLimit(RLIMIT_FSIZE, 0, "limiting file sizes");
    setLimit(RLIMIT_CORE, 0, "refusing core dumps");
}

}  // namespace

int landlockAbi() {
    int abi = kernelLandlockAbi();
    if (const char* cap = std::getenv("GROUNDVIEW_LANDLOCK_ABI")) {
        char* end = nullptr;
        const long lower = std::strtol(cap, &end, 10);
        if (end != cap && *end == '\0' && lower >= 0 && lower < abi) {
            abi = static_cast<int>(lower);
        }
    }
    return abi;
}

namespace {

// Why the reader goes without Landlock: the kernel, or the variable that lowered it.
std::string whyNoLandlock() {
    return kernelLandlockAbi() == 0 ? "this kernel has no Landlock (Linux 5.13 or later)"
                                    : "GROUNDVIEW_LANDLOCK_ABI=0 turns this kernel's Landlock off";
}

}  // namespace

std::string jailDescription() {
    const int abi = landlockAbi();
    const std::string walls = abi >= kAbiScope ? "files, TCP, signals"
                              : abi >= kAbiNet ? "files, TCP"
                                               : "files";
    if (abi == 0) {
        return "rasters are read in a separate process with seccomp and memory and time limits; " +
               whyNoLandlock() +
               ", so only the open policy keeps the reader within the source's "
               "folder";
    }
    return "rasters are read in a jail: Landlock ABI " + std::to_string(abi) + " (" + walls +
           "), seccomp, memory and time limits";
}

void warnWithoutLandlock() {
    static std::once_flag said;
    std::call_once(said, [] {
        if (landlockAbi() == 0) {
            std::cerr << "warning: " << whyNoLandlock()
                      << ": the raster reader is kept within the source's folder by the open "
                         "policy alone"
                      << std::endl;
        }
    });
}

void confineReader(const std::vector<std::string>& readable, const JailLimits& limits) {
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        fail("no_new_privs");
    }
    limit(limits);
    if (const int abi = landlockAbi(); abi > 0) {
        landlock(abi, readable);
    }
    dropCapabilities();
    refuseCalls();
}

void narrowReader(const std::vector<std::string>& files, const std::vector<std::string>& folders) {
    const int abi = landlockAbi();
    if (abi == 0) {
        return;
    }
    const int fd = newRuleset(abi, false);
    for (const std::string& path : systemData()) {
        allowReading(fd, path);
    }
    for (const std::string& file : files) {
        allowReading(fd, file, Reading::fileOnly);
    }
    for (const std::string& folder : folders) {
        allowReading(fd, folder, Reading::listingOnly);
    }
    restrict(fd);
}

}  // namespace raster
