#include "vrt_sources.h"

#include <cpl_minixml.h>
#include <cpl_string.h>
#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <memory>

#include "gdal_errors.h"
#include "local_file.h"
#include "printable.h"
#include "raster_error.h"
#include "world.h"

namespace raster {

namespace {

// A mosaic of thousands of tiles is a few megabytes of XML; far more is no VRT anyone writes.
constexpr long long kMaxVrtBytes = 64LL << 20;
// VRTs naming VRTs, each checked in turn; deeper nesting is refused rather than followed.
constexpr int kMaxNesting = 8;

struct XmlDeleter {
    void operator()(CPLXMLNode* node) const { CPLDestroyXMLNode(node); }
};

std::string realPath(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : std::string();
}

// Elements naming a file to open: every simple, complex, averaged or kernel-filtered source, a
// VRTRawRasterBand's data, a pansharpened band, and a warped VRT's dataset.
bool namesFile(const CPLXMLNode* node) {
    return node->eType == CXT_Element &&
           (EQUAL(node->pszValue, "SourceFilename") || EQUAL(node->pszValue, "SourceDataset"));
}

class Checker {
  public:
    Checker(const std::string& vrt, int depth) : vrt_(vrt), depth_(depth) {}

    void run() {
        struct stat status {};
        if (stat(vrt_.c_str(), &status) != 0 || status.st_size > kMaxVrtBytes) {
            refuse("larger than any VRT read here");
        }
        CPLErrorReset();
        const std::unique_ptr<CPLXMLNode, XmlDeleter> root(CPLParseXMLFile(vrt_.c_str()));
        if (!root) {
            refuse("not XML that GDAL reads (" + gdalMessage() + ")");
        }
        folder_ = world::folderOf(vrt_);
        realFolder_ = realPath(folder_);
        walk(root.get());
    }

  private:
    [[noreturn]] void refuse(const std::string& reason) const {
        throw RasterError("cannot read " + printable(vrt_) + ": " + reason);
    }

    void walk(const CPLXMLNode* node) {
        for (; node != nullptr; node = node->psNext) {
            if (namesFile(node)) {
                checkSource(CPLGetXMLValue(node, nullptr, ""),
                            CPLTestBool(CPLGetXMLValue(node, "relativeToVRT", "0")));
            }
            if (node->eType == CXT_Element) {
                walk(node->psChild);
            }
        }
    }

    void checkSource(const std::string& name, bool relativeToVrt) {
        const std::string shown = "its source \"" + printable(name) + "\"";
        if (name.empty()) {
            refuse("a source names no file");
        }
        if (isVirtualPath(name) || isConnectionString(name) || name.front() == '<') {
            refuse(shown + " is no plain file path");
        }
        // GDAL takes a source relative to the VRT only when told so, otherwise relative to the
        // working folder.
        const std::string path =
            relativeToVrt && name.front() != '/' ? world::inFolder(folder_, name) : name;
        if (const std::string why = world::regularFileProblem(path); !why.empty()) {
            refuse(shown + ": " + why);
        }
        // The folder's own path with its separator: "/data/dem" must not take "/data/dem2/x".
        const std::string inside = world::inFolder(realFolder_, "");
        if (realFolder_.empty() || realPath(path).rfind(inside, 0) != 0) {
            refuse(shown +
                   " lies outside the VRT's folder; a VRT may only name files in its "
                   "own folder or below");
        }
        if (looksLikeVrt(path)) {
            if (depth_ >= kMaxNesting) {
                refuse(shown + " is a VRT nested more than " + std::to_string(kMaxNesting) +
                       " deep");
            }
            Checker(path, depth_ + 1).run();
        }
    }

    std::string vrt_;
    int depth_;
    std::string folder_;
    std::string realFolder_;
};

}  // namespace

void checkVrtSources(const std::string& path) {
    Checker(path, 0).run();
}

}  // namespace raster
