#include "export_writers.h"

#include <cpl_conv.h>
#include <cpl_vsi.h>
#include <gdal.h>
#include <ogr_srs_api.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <sstream>
#include <stdexcept>

#include "gdal_errors.h"
#include "gdal_raster.h"
#include "raster_open.h"
#include "tool_error.h"

namespace groundtool {

namespace {

constexpr std::size_t kStlHeaderBytes = 80;
constexpr std::size_t kStlFacetBytes = 50;  // normal, three corners, attribute count
constexpr char kStlHeader[] = "binary STL written by groundtool export";

constexpr std::uint32_t kGlbMagic = 0x46546C67;  // "glTF"
constexpr std::uint32_t kGlbVersion = 2;
constexpr std::uint32_t kJsonChunk = 0x4E4F534A;    // "JSON"
constexpr std::uint32_t kBinaryChunk = 0x004E4942;  // "BIN\0"
constexpr int kGlFloat = 5126;
constexpr int kGlUnsignedInt = 5125;
constexpr int kGlArrayBuffer = 34962;
constexpr int kGlElementArrayBuffer = 34963;
constexpr int kGlLinear = 9729;
constexpr int kGlLinearMipmapLinear = 9987;
constexpr int kGlClampToEdge = 33071;

// The walls' and underside's plain colour, each of red, green and blue.
constexpr char kSidesGrey[] = "0.6";

constexpr double kMaxLevel = 65535.0;
constexpr double kFlatFieldSpanMetres = 1.0;

void putU16(std::uint8_t* out, std::uint32_t value) {
    out[0] = static_cast<std::uint8_t>(value);
    out[1] = static_cast<std::uint8_t>(value >> 8);
}

void putU32(std::uint8_t* out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

void putFloat(std::uint8_t* out, float value) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    putU32(out, bits);
}

void appendU32(Bytes& bytes, std::uint32_t value) {
    bytes.resize(bytes.size() + 4);
    putU32(bytes.data() + bytes.size() - 4, value);
}

// Shortest text that reads back as the same float.
void appendNumber(std::string& text, float value) {
    std::array<char, 32> digits{};
    const auto result = std::to_chars(digits.data(), digits.data() + digits.size(), value);
    text.append(digits.data(), result.ptr);
}

void appendNumber(std::string& text, std::uint64_t value) {
    std::array<char, 24> digits{};
    const auto result = std::to_chars(digits.data(), digits.data() + digits.size(), value);
    text.append(digits.data(), result.ptr);
}

// Shortest text that reads back as the same double, without an exponent, which some GIS readers
// take badly.
void appendNumber(std::string& text, double value) {
    std::array<char, 400> digits{};  // a double's widest fixed text is 309 digits and a sign
    const auto result = std::to_chars(digits.data(), digits.data() + digits.size(), value,
                                      std::chars_format::fixed);
    text.append(digits.data(), result.ptr);
}

std::string numberText(double value) {
    std::string text;
    appendNumber(text, value);
    return text;
}

// text as a JSON string, quotes included.
std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            constexpr char kHex[] = "0123456789abcdef";
            out += "\\u00";
            out += kHex[(c >> 4) & 0xF];
            out += kHex[c & 0xF];
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// GDAL's (x0, dx, 0, y0, 0, dy): pixel corners half a step before the first sample.
raster::GeoTransform geoTransform(const Georeference& place) {
    return {place.originX - place.stepX / 2.0, place.stepX, 0.0,
            place.originY - place.stepY / 2.0, 0.0,         place.stepY};
}

// One band of samples (width a row, of type) written by GDAL's driver into memory, placed as
// place says, and the file it made; nothing of it touches the disk.
Bytes throughGdal(const char* driver, GDALDataType type, int width, int height, const void* samples,
                  const Georeference& place, const double* noData,
                  const std::vector<std::string>& options) {
    raster::useGdal();
    const raster::Dataset memory(
        GDALCreate(GDALGetDriverByName("MEM"), "", width, height, 1, type, nullptr));
    if (!memory) {
        throw ToolError("cannot make a heightmap in memory: " + raster::gdalMessage());
    }
    GDALRasterBandH band = GDALGetRasterBand(memory.get(), 1);
    raster::GeoTransform transform = geoTransform(place);
    if (GDALRasterIO(band, GF_Write, 0, 0, width, height, const_cast<void*>(samples), width, height,
                     type, 0, 0) != CE_None ||
        (noData != nullptr && GDALSetRasterNoDataValue(band, *noData) != CE_None) ||
        (place.placed && GDALSetGeoTransform(memory.get(), transform.data()) != CE_None) ||
        (!place.crsWkt.empty() &&
         GDALSetProjection(memory.get(), place.crsWkt.c_str()) != CE_None)) {
        throw ToolError("cannot make a heightmap in memory: " + raster::gdalMessage());
    }
    static int made = 0;
    const std::string folder = "/vsimem/groundtool-export-" + std::to_string(++made);
    const std::string path = folder + "/heights";
    std::vector<char*> list;
    for (const std::string& option : options) {
        list.push_back(const_cast<char*>(option.c_str()));
    }
    list.push_back(nullptr);
    raster::Dataset written(GDALCreateCopy(GDALGetDriverByName(driver), path.c_str(), memory.get(),
                                           TRUE, list.data(), nullptr, nullptr));
    const std::string failure = written ? "" : raster::gdalMessage();
    written.reset();  // flushes the file
    vsi_l_offset size = 0;
    GByte* data = failure.empty() ? VSIGetMemFileBuffer(path.c_str(), &size, TRUE) : nullptr;
    Bytes bytes;
    if (data != nullptr) {
        bytes.assign(data, data + size);
        CPLFree(data);
    }
    VSIRmdirRecursive(folder.c_str());  // the sidecars GDAL made beside it
    if (bytes.empty()) {
        throw ToolError(std::string("cannot write a ") + driver +
                        " heightmap: " + (failure.empty() ? raster::gdalMessage() : failure));
    }
    return bytes;
}

std::size_t paddedToFour(std::size_t size) {
    return (size + 3) / 4 * 4;
}

}  // namespace

Bytes encodeStl(const SolidMesh& mesh) {
    const std::size_t facets = mesh.triangleCount();
    if (facets > std::numeric_limits<std::uint32_t>::max()) {
        throw std::length_error("too many facets for STL");
    }
    Bytes bytes(kStlHeaderBytes + 4 + facets * kStlFacetBytes, 0);
    std::memcpy(bytes.data(), kStlHeader, sizeof kStlHeader - 1);
    putU32(bytes.data() + kStlHeaderBytes, static_cast<std::uint32_t>(facets));
    std::uint8_t* out = bytes.data() + kStlHeaderBytes + 4;
    for (std::size_t facet = 0; facet < facets; ++facet, out += kStlFacetBytes) {
        std::array<std::array<float, 3>, 3> corner{};
        for (std::size_t k = 0; k < 3; ++k) {
            const float* p = &mesh.positions[mesh.triangles[facet * 3 + k] * std::size_t{3}];
            corner[k] = {p[0], -p[2], p[1]};
        }
        const double ux = corner[1][0] - corner[0][0];
        const double uy = corner[1][1] - corner[0][1];
        const double uz = corner[1][2] - corner[0][2];
        const double vx = corner[2][0] - corner[0][0];
        const double vy = corner[2][1] - corner[0][1];
        const double vz = corner[2][2] - corner[0][2];
        double nx = uy * vz - uz * vy;
        double ny = uz * vx - ux * vz;
        double nz = ux * vy - uy * vx;
        const double length = std::sqrt(nx * nx + ny * ny + nz * nz);
        if (length > 0.0) {
            nx /= length;
            ny /= length;
            nz /= length;
        }
        putFloat(out, static_cast<float>(nx));
        putFloat(out + 4, static_cast<float>(ny));
        putFloat(out + 8, static_cast<float>(nz));
        for (std::size_t k = 0; k < 3; ++k) {
            for (std::size_t axis = 0; axis < 3; ++axis) {
                putFloat(out + 12 + 12 * k + 4 * axis, corner[k][axis]);
            }
        }
    }
    return bytes;
}

Bytes encodeObj(const SolidMesh& mesh, const std::string& materialName) {
    std::string text = "# groundtool export: x east, y up, z south\nmtllib " + materialName + "\n";
    text.reserve(mesh.vertexCount() * 100 + mesh.triangleCount() * 40);
    const auto triples = [&text, &mesh](const char* prefix, const std::vector<float>& values) {
        for (std::size_t v = 0; v < mesh.vertexCount(); ++v) {
            text += prefix;
            for (std::size_t axis = 0; axis < 3; ++axis) {
                text += ' ';
                appendNumber(text, values[v * 3 + axis]);
            }
            text += '\n';
        }
    };
    triples("v", mesh.positions);
    triples("vn", mesh.normals);
    for (std::size_t v = 0; v < mesh.vertexCount(); ++v) {
        text += "vt ";
        appendNumber(text, mesh.textureCoordinates[v * 2]);
        text += ' ';
        appendNumber(text, 1.0f - mesh.textureCoordinates[v * 2 + 1]);
        text += '\n';
    }
    for (std::size_t facet = 0; facet < mesh.triangleCount(); ++facet) {
        if (facet == 0 || facet == mesh.topTriangles) {
            text += facet == 0 ? "usemtl ground\n" : "usemtl sides\n";
        }
        text += 'f';
        for (std::size_t k = 0; k < 3; ++k) {
            const std::uint64_t index = mesh.triangles[facet * 3 + k] + std::uint64_t{1};
            text += ' ';
            appendNumber(text, index);
            text += '/';
            appendNumber(text, index);
            text += '/';
            appendNumber(text, index);
        }
        text += '\n';
    }
    return Bytes(text.begin(), text.end());
}

Bytes encodeMaterial(const std::string& textureName) {
    const std::string text = "newmtl ground\nKa 1 1 1\nKd 1 1 1\nKs 0 0 0\nd 1\nillum 1\nmap_Kd " +
                             textureName + "\n\nnewmtl sides\nKa 1 1 1\nKd " + kSidesGrey + " " +
                             kSidesGrey + " " + kSidesGrey + "\nKs 0 0 0\nd 1\nillum 1\n";
    return Bytes(text.begin(), text.end());
}

Bytes encodeGlb(const SolidMesh& mesh, const Bytes& texturePng) {
    const std::size_t vertices = mesh.vertexCount();
    const std::size_t positionBytes = mesh.positions.size() * 4;  // and as many for the normals
    const std::size_t coordinateBytes = mesh.textureCoordinates.size() * 4;
    const std::size_t indexBytes = mesh.triangles.size() * 4;
    const std::size_t topIndexBytes = mesh.topTriangles * 3 * 4;
    const std::size_t coordinateOffset = 2 * positionBytes;
    const std::size_t indexOffset = coordinateOffset + coordinateBytes;
    const std::size_t imageOffset = indexOffset + indexBytes;
    const std::size_t binaryBytes = paddedToFour(imageOffset + texturePng.size());
    if (binaryBytes > std::numeric_limits<std::uint32_t>::max() / 2 || vertices == 0) {
        throw std::length_error("mesh too large for one glTF buffer");
    }

    // POSITION needs its exact bounds, so they are taken from the floats that are stored.
    std::array<float, 3> low{};
    std::array<float, 3> high{};
    for (std::size_t axis = 0; axis < 3; ++axis) {
        low[axis] = high[axis] = mesh.positions[axis];
    }
    for (std::size_t v = 0; v < vertices; ++v) {
        for (std::size_t axis = 0; axis < 3; ++axis) {
            low[axis] = std::min(low[axis], mesh.positions[v * 3 + axis]);
            high[axis] = std::max(high[axis], mesh.positions[v * 3 + axis]);
        }
    }
    const auto triple = [](const std::array<float, 3>& values) {
        std::string text = "[";
        for (std::size_t axis = 0; axis < 3; ++axis) {
            appendNumber(text, values[axis]);
            text += axis < 2 ? "," : "]";
        }
        return text;
    };

    const auto view = [](std::size_t offset, std::size_t bytes) {
        std::ostringstream text;
        text << R"({"buffer":0,"byteOffset":)" << offset << R"(,"byteLength":)" << bytes;
        return text.str();
    };
    std::ostringstream json;
    json << R"({"asset":{"version":"2.0","generator":"groundtool export"},)"
         << R"("scene":0,"scenes":[{"nodes":[0]}],"nodes":[{"mesh":0,"name":"ground"}],)"
         << R"("meshes":[{"primitives":[)"
         << R"({"attributes":{"POSITION":0,"NORMAL":1,"TEXCOORD_0":2},"indices":3,"material":0,)"
         << R"("mode":4},{"attributes":{"POSITION":0,"NORMAL":1},"indices":4,"material":1,)"
         << R"("mode":4}]}],)"
         << R"("materials":[{"name":"ground","pbrMetallicRoughness":{"baseColorTexture":)"
         << R"({"index":0},"metallicFactor":0,"roughnessFactor":1}},)"
         << R"({"name":"sides","pbrMetallicRoughness":{"baseColorFactor":[)" << kSidesGrey << ","
         << kSidesGrey << "," << kSidesGrey << R"(,1],"metallicFactor":0,"roughnessFactor":1}}],)"
         << R"("textures":[{"sampler":0,"source":0}],)"
         << R"("samplers":[{"magFilter":)" << kGlLinear << R"(,"minFilter":)"
         << kGlLinearMipmapLinear << R"(,"wrapS":)" << kGlClampToEdge << R"(,"wrapT":)"
         << kGlClampToEdge << "}],"
         << R"("images":[{"bufferView":4,"mimeType":"image/png"}],)"
         << R"("buffers":[{"byteLength":)" << binaryBytes << "}],"
         << R"("bufferViews":[)" << view(0, positionBytes) << R"(,"target":)" << kGlArrayBuffer
         << "}," << view(positionBytes, positionBytes) << R"(,"target":)" << kGlArrayBuffer << "},"
         << view(coordinateOffset, coordinateBytes) << R"(,"target":)" << kGlArrayBuffer << "},"
         << view(indexOffset, indexBytes) << R"(,"target":)" << kGlElementArrayBuffer << "},"
         << view(imageOffset, texturePng.size()) << "}],"
         << R"("accessors":[)"
         << R"({"bufferView":0,"componentType":)" << kGlFloat << R"(,"count":)" << vertices
         << R"(,"type":"VEC3","min":)" << triple(low) << R"(,"max":)" << triple(high) << "},"
         << R"({"bufferView":1,"componentType":)" << kGlFloat << R"(,"count":)" << vertices
         << R"(,"type":"VEC3"},)"
         << R"({"bufferView":2,"componentType":)" << kGlFloat << R"(,"count":)" << vertices
         << R"(,"type":"VEC2"},)"
         << R"({"bufferView":3,"componentType":)" << kGlUnsignedInt << R"(,"count":)"
         << mesh.topTriangles * 3 << R"(,"type":"SCALAR"},)"
         << R"({"bufferView":3,"byteOffset":)" << topIndexBytes << R"(,"componentType":)"
         << kGlUnsignedInt << R"(,"count":)" << mesh.triangles.size() - mesh.topTriangles * 3
         << R"(,"type":"SCALAR"}]})";
    std::string jsonText = json.str();
    jsonText.resize(paddedToFour(jsonText.size()), ' ');

    constexpr std::size_t kFileHeaderBytes = 12;
    constexpr std::size_t kChunkHeaderBytes = 8;
    const std::size_t total =
        kFileHeaderBytes + kChunkHeaderBytes + jsonText.size() + kChunkHeaderBytes + binaryBytes;
    Bytes glb;
    glb.reserve(total);
    appendU32(glb, kGlbMagic);
    appendU32(glb, kGlbVersion);
    appendU32(glb, static_cast<std::uint32_t>(total));
    appendU32(glb, static_cast<std::uint32_t>(jsonText.size()));
    appendU32(glb, kJsonChunk);
    glb.insert(glb.end(), jsonText.begin(), jsonText.end());
    appendU32(glb, static_cast<std::uint32_t>(binaryBytes));
    appendU32(glb, kBinaryChunk);
    const std::size_t binaryStart = glb.size();
    glb.resize(total, 0);
    std::uint8_t* out = glb.data() + binaryStart;
    for (const std::vector<float>* values :
         {&mesh.positions, &mesh.normals, &mesh.textureCoordinates}) {
        for (const float value : *values) {
            putFloat(out, value);
            out += 4;
        }
    }
    for (const std::uint32_t index : mesh.triangles) {
        putU32(out, index);
        out += 4;
    }
    std::copy(texturePng.begin(), texturePng.end(), out);
    return glb;
}

LevelRange levelRange(const HeightField& field, double exaggeration) {
    const HeightBounds bounds = field.drawnRange(true);
    LevelRange range{bounds.low * exaggeration, bounds.high * exaggeration};
    if (!(range.high > range.low)) {
        range.high = range.low + kFlatFieldSpanMetres;
    }
    return range;
}

std::vector<std::uint16_t> heightLevels(const HeightField& field, const TileSpan& span,
                                        double exaggeration, LevelRange range) {
    std::vector<std::uint16_t> levels;
    levels.reserve(static_cast<std::size_t>(span.columns()) * span.rows());
    const double perMetre = kMaxLevel / (range.high - range.low);
    for (int row = span.firstRow; row <= span.lastRow; ++row) {
        for (int column = span.firstColumn; column <= span.lastColumn; ++column) {
            const double level = (field.at(column, row) * exaggeration - range.low) * perMetre;
            levels.push_back(
                static_cast<std::uint16_t>(std::lround(std::clamp(level, 0.0, kMaxLevel))));
        }
    }
    return levels;
}

std::vector<float> tileHeights(const HeightField& field, const TileSpan& span) {
    std::vector<float> heights;
    heights.reserve(static_cast<std::size_t>(span.columns()) * span.rows());
    for (int row = span.firstRow; row <= span.lastRow; ++row) {
        for (int column = span.firstColumn; column <= span.lastColumn; ++column) {
            heights.push_back(field.drawn(column, row) && std::isfinite(field.at(column, row))
                                  ? field.at(column, row)
                                  : kNoDataMetres);
        }
    }
    return heights;
}

Bytes encodeGeoTiff(int width, int height, const std::vector<float>& heights,
                    const Georeference& place) {
    const double noData = kNoDataMetres;
    return throughGdal("GTiff", GDT_Float32, width, height, heights.data(), place, &noData,
                       {"COMPRESS=DEFLATE", "PREDICTOR=3", "TILED=YES"});
}

Bytes encodeAsciiGrid(int width, int height, const std::vector<float>& heights,
                      const Georeference& place) {
    const double noData = kNoDataMetres;
    // A float's own digits: the grid reads back as the heights written.
    return throughGdal("AAIGrid", GDT_Float32, width, height, heights.data(), place, &noData,
                       {"SIGNIFICANT_DIGITS=9"});
}

Bytes encodePng16(int width, int height, const std::vector<std::uint16_t>& levels,
                  const std::string& description) {
    if (width <= 0 || height <= 0 ||
        levels.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height)) {
        throw std::logic_error("level count does not match the heightmap size");
    }
    // Placed by the world file and .prj beside it, which more programs read than GDAL's own notes.
    return throughGdal("PNG", GDT_UInt16, width, height, levels.data(), Georeference{}, nullptr,
                       {"WORLDFILE=NO", "DESCRIPTION=" + description});
}

Bytes worldFile(const Georeference& place) {
    // Pixel size east, two rotations, pixel size south, then the centre of the first pixel.
    std::string text;
    for (const double value : {place.stepX, 0.0, 0.0, place.stepY, place.originX, place.originY}) {
        appendNumber(text, value);
        text += '\n';
    }
    return Bytes(text.begin(), text.end());
}

Bytes projectionFile(const std::string& wkt) {
    if (wkt.empty()) {
        return {};
    }
    OGRSpatialReferenceH crs = OSRNewSpatialReference(wkt.c_str());
    char* esri = nullptr;
    const char* options[] = {"FORMAT=WKT1_ESRI", nullptr};
    const bool written =
        crs != nullptr && OSRExportToWktEx(crs, &esri, options) == OGRERR_NONE && esri != nullptr;
    const std::string text = written ? esri : "";
    CPLFree(esri);
    OSRDestroySpatialReference(crs);
    return Bytes(text.begin(), text.end());
}

Bytes gdalNotes(const std::string& wkt) {
    if (wkt.empty()) {
        return {};
    }
    std::string text = "<PAMDataset>\n  <SRS>";
    for (const char c : wkt) {
        text += c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '>' ? "&gt;" : std::string(1, c);
    }
    text += "</SRS>\n</PAMDataset>\n";
    return Bytes(text.begin(), text.end());
}

Bytes enviHeader(int width, int height, const Georeference& place, const std::string& description) {
    std::string text = "ENVI\ndescription = {" + description +
                       "}\nsamples = " + std::to_string(width) +
                       "\nlines = " + std::to_string(height) +
                       "\nbands = 1\nheader offset = 0\nfile type = ENVI Standard\n"
                       "data type = 12\ninterleave = bsq\nbyte order = 0\n";
    if (place.placed && place.stepY < 0.0) {
        // Reference pixel (1, 1) is the outer corner of the north-west pixel; ENVI's sizes are
        // both positive, north up.
        const raster::GeoTransform corner = geoTransform(place);
        text += "map info = {Arbitrary, 1, 1, " + numberText(corner[0]) + ", " +
                numberText(corner[3]) + ", " + numberText(place.stepX) + ", " +
                numberText(-place.stepY) + "}\n";
        const Bytes prj = projectionFile(place.crsWkt);
        if (!prj.empty()) {
            text += "coordinate system string = {" + std::string(prj.begin(), prj.end()) + "}\n";
        }
    }
    return Bytes(text.begin(), text.end());
}

Bytes heightmapJson(int width, int height, LevelRange range, double exaggeration,
                    const HeightField& field, const Georeference& place) {
    std::string text =
        "{\n  \"low\": " + numberText(range.low) + ",\n  \"high\": " + numberText(range.high) +
        ",\n  \"exaggeration\": " + numberText(exaggeration) +
        ",\n  \"units\": \"m\",\n  \"crs\": " +
        (place.crsWkt.empty() ? "null" : jsonString(place.crsWkt)) + ",\n  \"samples\": [" +
        std::to_string(width) + ", " + std::to_string(height) + "],\n  \"spacing\": [" +
        numberText(field.spacingEast) + ", " + numberText(field.spacingSouth) +
        "],\n  \"level\": \"low + level * (high - low) / 65535\"\n}\n";
    return Bytes(text.begin(), text.end());
}

Bytes encodeRaw16(const std::vector<std::uint16_t>& levels) {
    Bytes bytes(levels.size() * 2);
    for (std::size_t i = 0; i < levels.size(); ++i) {
        putU16(&bytes[i * 2], levels[i]);
    }
    return bytes;
}

}  // namespace groundtool
