#include "crs_policy.h"

#include <cpl_conv.h>
#include <cpl_string.h>
#include <ogr_srs_api.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <vector>

#include "printable.h"
#include "raster_error.h"
#include "raster_open.h"

namespace raster {

namespace {

// PROJ string parameters whose values are files PROJ opens: horizontal and vertical grids, a
// pipeline step's grids, a triangulation or deformation model, an init file.
constexpr const char* kFileParameters[] = {"nadgrids", "geoidgrids", "grids", "xy_grids",
                                           "z_grids",  "file",       "model", "init"};
// Init names PROJ resolves from its database rather than a file.
constexpr const char* kInitAuthorities[] = {"epsg", "esri", "ignf", "iau_2015"};
// Endings of the grid files a GEOIDMODEL name may be taken for.
constexpr const char* kGridEndings[] = {".tif", ".tiff", ".gtx", ".gsb",  ".gvb", ".byn",
                                        ".las", ".los",  ".gri", ".json", ".ct2", ".txt"};
// The grid PROJ makes up in memory: no shift at all.
constexpr const char* kNullGrid = "null";

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool endsWith(const std::string& text, const char* ending) {
    const std::size_t size = std::strlen(ending);
    return text.size() >= size && text.compare(text.size() - size, size, ending) == 0;
}

bool isRegularFile(const std::string& path) {
    struct stat status {};
    return lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

// A name PROJ looks up in its data folder alone: no folder in it, no home folder, no URL.
bool isBareName(const std::string& name) {
    return !name.empty() && name.find('/') == std::string::npos &&
           name.find('\\') == std::string::npos && name.front() != '~' && name.front() != '.' &&
           name.find(':') == std::string::npos;
}

// Whether PROJ, looking for name (one entry of a list, "@" marking it optional), opens nothing
// but a file of its own data folder.
bool staysInProjData(const std::string& parameter, std::string name) {
    if (!name.empty() && name.front() == '@') {
        name.erase(0, 1);
    }
    if (name == kNullGrid) {
        return true;
    }
    if (parameter == "init") {
        const std::size_t colon = name.find(':');
        const std::string file = lower(name.substr(0, colon));
        if (colon != std::string::npos &&
            std::find(std::begin(kInitAuthorities), std::end(kInitAuthorities), file) !=
                std::end(kInitAuthorities)) {
            return true;
        }
        name = name.substr(0, colon);
    }
    return isBareName(name) && isRegularFile(projDataFolder() + "/" + name);
}

// Each entry of a comma-separated list.
std::vector<std::string> entries(const std::string& list) {
    std::vector<std::string> each;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = list.find(',', start);
        each.push_back(list.substr(start, comma - start));
        if (comma == std::string::npos) {
            return each;
        }
        start = comma + 1;
    }
}

// The first entry of list that leaves PROJ's data folder, or nothing.
std::string firstOutside(const std::string& parameter, const std::string& list) {
    for (const std::string& name : entries(list)) {
        if (!staysInProjData(parameter, name)) {
            return name.empty() ? "\"\"" : name;
        }
    }
    return {};
}

bool parameterStart(const std::string& text, std::size_t at) {
    return at == 0 || text[at - 1] == '+' || std::isspace(static_cast<unsigned char>(text[at - 1]));
}

// PROJ string parameters anywhere in text, as a PROJ string or a WKT's PROJ-based method holds
// them: "+nadgrids=a,@b".
std::string outsideInParameters(const std::string& text) {
    const std::string folded = lower(text);
    for (const char* parameter : kFileParameters) {
        const std::string key = std::string(parameter) + "=";
        for (std::size_t at = folded.find(key); at != std::string::npos;
             at = folded.find(key, at + 1)) {
            if (!parameterStart(folded, at)) {
                continue;
            }
            const std::size_t from = at + key.size();
            std::size_t to = from;
            while (to < text.size() && !std::isspace(static_cast<unsigned char>(text[to])) &&
                   text[to] != '"' && text[to] != ']') {
                ++to;
            }
            if (std::string found = firstOutside(parameter, text.substr(from, to - from));
                !found.empty()) {
                return found;
            }
        }
    }
    return {};
}

// The quoted strings of the WKT element starting at open (its '['), doubled quotes undone, up
// to its first nested element or its end.
std::vector<std::string> quotedValues(const std::string& text, std::size_t open) {
    std::vector<std::string> values;
    std::size_t at = open + 1;
    while (at < text.size() && text[at] != ']' && text[at] != '[') {
        if (text[at] != '"') {
            ++at;
            continue;
        }
        std::string value;
        for (++at; at < text.size(); ++at) {
            if (text[at] == '"') {
                if (at + 1 < text.size() && text[at + 1] == '"') {
                    value += '"';
                    ++at;
                    continue;
                }
                break;
            }
            value += text[at];
        }
        values.push_back(value);
        ++at;
    }
    return values;
}

// The WKT elements that name files: PARAMETERFILE["name","file"], EXTENSION["PROJ4_GRIDS",
// "files"], EXTENSION["PROJ4","string"] and a GEOIDMODEL whose name is a grid file's.
std::string outsideInWkt(const std::string& text) {
    const std::string folded = lower(text);
    const auto each = [&](const char* keyword, auto&& look) -> std::string {
        const std::string key = std::string(keyword) + "[";
        for (std::size_t at = folded.find(key); at != std::string::npos;
             at = folded.find(key, at + 1)) {
            if (std::string found = look(quotedValues(text, at + key.size() - 1)); !found.empty()) {
                return found;
            }
        }
        return {};
    };
    const auto file = [](const std::vector<std::string>& values) -> std::string {
        return values.size() >= 2 ? firstOutside("grids", values[1]) : std::string();
    };
    const auto extension = [](const std::vector<std::string>& values) -> std::string {
        if (values.size() < 2) {
            return {};
        }
        if (lower(values[0]) == "proj4_grids") {
            return firstOutside("grids", values[1]);
        }
        return lower(values[0]) == "proj4" ? outsideInParameters(values[1]) : std::string();
    };
    const auto geoid = [](const std::vector<std::string>& values) -> std::string {
        if (values.empty()) {
            return {};
        }
        const std::string name = lower(values[0]);
        const bool fileName =
            !isBareName(values[0]) ||
            std::any_of(std::begin(kGridEndings), std::end(kGridEndings),
                        [&](const char* ending) { return endsWith(name, ending); });
        return fileName ? firstOutside("grids", values[0]) : std::string();
    };
    for (const std::string& found :
         {each("parameterfile", file), each("extension", extension), each("geoidmodel", geoid)}) {
        if (!found.empty()) {
            return found;
        }
    }
    return {};
}

std::string folderSetting(const char* fixed) {
    char resolved[PATH_MAX];
    return realpath(fixed, resolved) != nullptr ? std::string(resolved) : std::string(fixed);
}

bool sameFolder(const char* setting, const std::string& folder) {
    char resolved[PATH_MAX];
    return realpath(setting, resolved) != nullptr && folder == resolved;
}

bool switchedOn(const char* setting) {
    return setting != nullptr && (EQUAL(setting, "ON") || EQUAL(setting, "YES") ||
                                  EQUAL(setting, "TRUE") || EQUAL(setting, "1"));
}

}  // namespace

const std::string& gdalDataFolder() {
    static const std::string folder = folderSetting(GROUNDVIEW_GDAL_DATA);
    return folder;
}

const std::string& projDataFolder() {
    static const std::string folder = folderSetting(GROUNDVIEW_PROJ_DATA);
    return folder;
}

void keepProjLocal() {
    // What the environment or GDAL's configuration files asked for, and was not done.
    std::string ignored;
    const auto ignore = [&](const char* name, const char* value) {
        ignored += (ignored.empty() ? "" : ", ") + std::string(name) + "=" + printable(value);
    };
    for (const char* name : {"GDAL_DATA", "PROJ_DATA", "PROJ_LIB"}) {
        const std::string& folder =
            std::strcmp(name, "GDAL_DATA") == 0 ? gdalDataFolder() : projDataFolder();
        const char* const settings[] = {std::getenv(name), CPLGetConfigOption(name, nullptr)};
        for (const char* value : settings) {
            if (value != nullptr && *value != '\0' && !sameFolder(value, folder)) {
                ignore(name, value);
                break;
            }
        }
        CPLSetConfigOption(name, folder.c_str());
    }
    const char* network = CPLGetConfigOption("PROJ_NETWORK", std::getenv("PROJ_NETWORK"));
    if (switchedOn(network)) {
        ignore("PROJ_NETWORK", network);
    }
    CPLSetConfigOption("PROJ_NETWORK", "OFF");
    const char* const paths[] = {projDataFolder().c_str(), nullptr};
    OSRSetPROJSearchPaths(paths);
    OSRSetPROJEnableNetwork(FALSE);
    if (!ignored.empty()) {
        std::cerr << "warning: ignored " << ignored << ": GDAL and PROJ read their data from "
                  << gdalDataFolder() << " and " << projDataFolder()
                  << " alone, and PROJ never reaches the network" << std::endl;
    }
}

std::string gridOutsideProjData(const std::string& crs) {
    std::string found = outsideInParameters(crs);
    if (found.empty()) {
        found = outsideInWkt(crs);
    }
    return printable(found);
}

void refuseGridsOutsideProjData(const std::string& crs, const std::string& shown) {
    useGdal();  // PROJ's data folder and network set before any transformation is built
    if (const std::string grid = gridOutsideProjData(crs); !grid.empty()) {
        throw RasterError("cannot read " + shown +
                          ": its coordinate system names a coordinate grid outside PROJ's data "
                          "folder: " +
                          grid);
    }
}

}  // namespace raster
