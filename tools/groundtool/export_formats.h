#pragma once
// The formats groundtool export writes and the names that choose them, as an --out extension or
// a --format value: the one table its help, its --format check, its messages and its choice of
// writer read.

#include <string>
#include <vector>

namespace groundtool {

enum class ExportFormat { stl, obj, glb, png, raw, tif, asc };

struct NamedFormat {
    const char* name;  // lower case, without the dot
    ExportFormat format;
    bool listed;  // named in the help and messages and taken by --format; the others are
                  // extensions taken as well
};

inline constexpr NamedFormat kExportFormats[] = {
    {"stl", ExportFormat::stl, true}, {"obj", ExportFormat::obj, true},
    {"glb", ExportFormat::glb, true}, {"png", ExportFormat::png, true},
    {"r16", ExportFormat::raw, true}, {"raw", ExportFormat::raw, true},
    {"tif", ExportFormat::tif, true}, {"tiff", ExportFormat::tif, false},
    {"asc", ExportFormat::asc, true},
};

// The listed names, for the --format check.
inline std::vector<std::string> exportFormatNames() {
    std::vector<std::string> names;
    for (const NamedFormat& named : kExportFormats) {
        if (named.listed) {
            names.emplace_back(named.name);
        }
    }
    return names;
}

// The listed names in the table's order, each after prefix, as a sentence lists them:
// "stl, obj, ... tif or asc".
inline std::string exportFormatList(const std::string& prefix) {
    const std::vector<std::string> names = exportFormatNames();
    std::string list;
    for (std::size_t i = 0; i < names.size(); ++i) {
        list += (i == 0 ? "" : i + 1 == names.size() ? " or " : ", ") + prefix + names[i];
    }
    return list;
}

}  // namespace groundtool
