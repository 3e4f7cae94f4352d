#include "vrt_sources.h"

#include <cpl_conv.h>
#include <cpl_minixml.h>
#include <cpl_string.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <memory>
#include <set>
#include <unordered_map>

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
// GDAL reads a nested VRT's sources anew at every mention of it, so nine small VRTs each naming
// the next ten times make it read a billion sources. A mosaic of a million tiles is read; no
// more, counting a nested VRT's sources once for each time it is named.
constexpr long long kMaxSourcesRead = 1LL << 20;

// Elements that make GDAL do work or read files no terrain needs, and why each is refused.
constexpr const char* kRefusedElements[][2] = {
    // Work in the square of the kernel's side for every pixel: a 101 x 101 kernel takes minutes.
    {"KernelFilteredSource", "filters a source through a kernel"},
    // A pixel function is code run for every pixel, in Python when GDAL allows it.
    {"PixelFunctionType", "computes its pixels with a function"},
    {"PixelFunctionLanguage", "computes its pixels with a function"},
    {"PixelFunctionCode", "computes its pixels with a function"},
    {"PixelFunctionArguments", "computes its pixels with a function"},
    // A driver's open options can move where a source reads from (ROOT_PATH for a VRT).
    {"OpenOptions", "gives a source open options"},
};

struct XmlDeleter {
    void operator()(CPLXMLNode* node) const { CPLDestroyXMLNode(node); }
};

std::string realPath(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : std::string();
}

// Elements naming a file to open: every simple, complex or averaged source, a
// VRTRawRasterBand's data, a pansharpened band, an overview, and a warped VRT's dataset.
bool namesFile(const CPLXMLNode* node) {
    return node->eType == CXT_Element &&
           (EQUAL(node->pszValue, "SourceFilename") || EQUAL(node->pszValue, "SourceDataset"));
}

// Why an element is refused, or nothing. GDAL matches names and attributes regardless of case.
std::string refusal(const CPLXMLNode* node) {
    if (node->eType != CXT_Element) {
        return {};
    }
    for (const auto& [name, reason] : kRefusedElements) {
        if (EQUAL(node->pszValue, name)) {
            return std::string("it ") + reason + " (<" + name + ">)";
        }
    }
    if (EQUAL(CPLGetXMLValue(node, "subClass", ""), "VRTDerivedRasterBand")) {
        return "it computes its pixels with a function (VRTDerivedRasterBand)";
    }
    return {};
}

// What checking one VRT found, kept so that a VRT named many times is read and checked once.
struct Checked {
    int levels = 1;             // VRTs on its longest chain of nesting, itself included
    long long sourcesRead = 0;  // sources GDAL opens for it, as kMaxSourcesRead counts them
};

// A source named by a VRT and found to be a regular file inside the VRT's folder.
struct Source {
    std::string realPath;
    bool vrt = false;
};

class Checker {
  public:
    std::vector<std::string> run(const std::string& path) {
        open_.insert(realPath(path));
        check(path, 0);
        return std::vector<std::string>(named_.begin(), named_.end());
    }

  private:
    // Checks the VRT at path, depth VRTs below the one opened, and each VRT it names.
    Checked check(const std::string& path, int depth) {
        Vrt vrt{path, world::folderOf(path), {}, depth, {}};
        struct stat status {};
        if (stat(path.c_str(), &status) != 0 || status.st_size > kMaxVrtBytes) {
            refuse(vrt, "larger than any VRT read here");
        }
        CPLErrorReset();
        const std::unique_ptr<CPLXMLNode, XmlDeleter> root(CPLParseXMLFile(path.c_str()));
        if (!root) {
            refuse(vrt, "not XML that GDAL reads (" + gdalMessage() + ")");
        }
        vrt.realFolder = realPath(vrt.folder);
        walk(vrt, root.get());
        return vrt.found;
    }

    struct Vrt {
        std::string path;
        std::string folder;
        std::string realFolder;
        int depth;
        Checked found;
    };

    [[noreturn]] static void refuse(const Vrt& vrt, const std::string& reason) {
        throw RasterError("cannot read " + printable(vrt.path) + ": " + reason);
    }

    void walk(Vrt& vrt, const CPLXMLNode* node) {
        for (; node != nullptr; node = node->psNext) {
            if (const std::string why = refusal(node); !why.empty()) {
                refuse(vrt, why + ", which is not read here");
            }
            if (namesFile(node)) {
                checkSource(vrt, node);
            }
            if (node->eType == CXT_Element) {
                walk(vrt, node->psChild);
            }
        }
    }

    void checkSource(Vrt& vrt, const CPLXMLNode* node) {
        const std::string name = CPLGetXMLValue(node, nullptr, "");
        const std::string shown = "its source \"" + printable(name) + "\"";
        if (name.empty()) {
            refuse(vrt, "a source names no file");
        }
        if (isVirtualPath(name) || isConnectionString(name) || name.front() == '<') {
            refuse(vrt, shown + " is no plain file path");
        }
        // GDAL reads the flag as a number in some places and a yes or no in others; on these
        // two they agree.
        const std::string relative = CPLGetXMLValue(node, "relativeToVRT", "0");
        if (relative != "0" && relative != "1") {
            refuse(vrt, shown + " has relativeToVRT=\"" + printable(relative) + "\"; write 0 or 1");
        }
        // GDAL takes a source relative to the VRT only when told so, otherwise relative to the
        // working folder; and by its own rule of what is relative ("\name" is not, to GDAL).
        const std::string path = relative == "1" && CPLIsFilenameRelative(name.c_str())
                                     ? world::inFolder(vrt.folder, name)
                                     : name;
        const Source source = resolve(vrt, path, shown);
        if (source.vrt) {
            if (vrt.depth >= kMaxNesting) {
                refuse(vrt, shown + " is a VRT nested more than " + std::to_string(kMaxNesting) +
                                " deep");
            }
            const Checked nested = checkNested(vrt, source.realPath, path, shown);
            vrt.found.levels = std::max(vrt.found.levels, nested.levels + 1);
            vrt.found.sourcesRead += nested.sourcesRead;
        }
        vrt.found.sourcesRead += 1;
        if (vrt.found.sourcesRead > kMaxSourcesRead) {
            refuse(vrt, "it names more than " + std::to_string(kMaxSourcesRead) +
                            " sources, counting a nested VRT's sources each time it is named");
        }
    }

    // The source at path, once it is known to be a regular file in the VRT's folder or below.
    Source resolve(const Vrt& vrt, const std::string& path, const std::string& shown) {
        const std::string key = vrt.realFolder + '\n' + path;
        if (const auto known = resolved_.find(key); known != resolved_.end()) {
            return known->second;
        }
        if (const std::string why = world::regularFileProblem(path); !why.empty()) {
            refuse(vrt, shown + ": " + why);
        }
        // The folder's own path with its separator: "/data/dem" must not take "/data/dem2/x".
        const std::string inside = world::inFolder(vrt.realFolder, "");
        const std::string real = realPath(path);
        if (vrt.realFolder.empty() || real.rfind(inside, 0) != 0) {
            refuse(vrt, shown +
                            " lies outside the VRT's folder; a VRT may only name files in its "
                            "own folder or below");
        }
        if (real.find("/.", inside.size() - 1) != std::string::npos) {
            refuse(vrt, shown +
                            " is hidden (a name in its path starts with \".\"); hidden files "
                            "are not read");
        }
        named_.insert(real);
        return resolved_[key] = Source{real, looksLikeVrt(path)};
    }

    Checked checkNested(const Vrt& vrt, const std::string& real, const std::string& path,
                        const std::string& shown) {
        if (const auto known = checked_.find(real); known != checked_.end()) {
            if (vrt.depth + known->second.levels > kMaxNesting) {
                refuse(vrt, shown + " is a VRT nested more than " + std::to_string(kMaxNesting) +
                                " deep");
            }
            return known->second;
        }
        if (!open_.insert(real).second) {
            refuse(vrt, shown + " leads back to a VRT that names it");
        }
        const Checked nested = check(path, vrt.depth + 1);
        open_.erase(real);
        return checked_[real] = nested;
    }

    // Each VRT checked so far by its real path, and those being checked: a VRT naming one of
    // these names itself.
    std::unordered_map<std::string, Checked> checked_;
    std::set<std::string> open_;
    // Each path named so far, by the real folder of the VRT naming it.
    std::unordered_map<std::string, Source> resolved_;
    // The real path of every source found, each once.
    std::set<std::string> named_;
};

}  // namespace

std::vector<std::string> checkVrtSources(const std::string& path) {
    return Checker().run(path);
}

}  // namespace raster
