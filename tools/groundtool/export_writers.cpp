#include "export_writers.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <sstream>
#include <stdexcept>

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

void appendBigEndian32(Bytes& bytes, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        bytes.push_back(static_cast<std::uint8_t>(value >> shift));
    }
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

std::size_t paddedToFour(std::size_t size) {
    return (size + 3) / 4 * 4;
}

void appendPngChunk(Bytes& png, const char* type, const Bytes& data) {
    appendBigEndian32(png, static_cast<std::uint32_t>(data.size()));
    const std::size_t typeStart = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    const uLong crc = crc32(0L, png.data() + typeStart, static_cast<uInt>(png.size() - typeStart));
    appendBigEndian32(png, static_cast<std::uint32_t>(crc));
}

}  // namespace

Bytes encodeStl(const SolidMesh& mesh, double fieldDepth) {
    const std::size_t facets = mesh.triangleCount();
    if (facets > std::numeric_limits<std::uint32_t>::max()) {
        throw std::length_error("too many facets for STL");
    }
    Bytes bytes(kStlHeaderBytes + 4 + facets * kStlFacetBytes, 0);
    std::memcpy(bytes.data(), kStlHeader, sizeof kStlHeader - 1);
    putU32(bytes.data() + kStlHeaderBytes, static_cast<std::uint32_t>(facets));
    const float north = static_cast<float>(fieldDepth);
    std::uint8_t* out = bytes.data() + kStlHeaderBytes + 4;
    for (std::size_t facet = 0; facet < facets; ++facet, out += kStlFacetBytes) {
        std::array<std::array<float, 3>, 3> corner{};
        for (std::size_t k = 0; k < 3; ++k) {
            const float* p = &mesh.positions[mesh.triangles[facet * 3 + k] * std::size_t{3}];
            corner[k] = {p[0], north - p[2], p[1]};
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
    std::string text =
        "# groundtool export: x east, y up, z south\nmtllib " + materialName + "\nusemtl ground\n";
    text.reserve(mesh.vertexCount() * 64 + mesh.triangleCount() * 40);
    for (std::size_t v = 0; v < mesh.vertexCount(); ++v) {
        text += "v ";
        appendNumber(text, mesh.positions[v * 3]);
        text += ' ';
        appendNumber(text, mesh.positions[v * 3 + 1]);
        text += ' ';
        appendNumber(text, mesh.positions[v * 3 + 2]);
        text += '\n';
    }
    for (std::size_t v = 0; v < mesh.vertexCount(); ++v) {
        text += "vt ";
        appendNumber(text, mesh.textureCoordinates[v * 2]);
        text += ' ';
        appendNumber(text, 1.0f - mesh.textureCoordinates[v * 2 + 1]);
        text += '\n';
    }
    for (std::size_t facet = 0; facet < mesh.triangleCount(); ++facet) {
        text += 'f';
        for (std::size_t k = 0; k < 3; ++k) {
            const std::uint64_t index = mesh.triangles[facet * 3 + k] + std::uint64_t{1};
            text += ' ';
            appendNumber(text, index);
            text += '/';
            appendNumber(text, index);
        }
        text += '\n';
    }
    return Bytes(text.begin(), text.end());
}

Bytes encodeMaterial(const std::string& textureName) {
    const std::string text =
        "newmtl ground\nKa 1 1 1\nKd 1 1 1\nKs 0 0 0\nd 1\nillum 1\nmap_Kd " + textureName + "\n";
    return Bytes(text.begin(), text.end());
}

Bytes encodeGlb(const SolidMesh& mesh, const Bytes& texturePng) {
    const std::size_t vertices = mesh.vertexCount();
    const std::size_t positionBytes = mesh.positions.size() * 4;
    const std::size_t coordinateBytes = mesh.textureCoordinates.size() * 4;
    const std::size_t indexBytes = mesh.triangles.size() * 4;
    const std::size_t imageOffset = positionBytes + coordinateBytes + indexBytes;
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

    std::ostringstream json;
    json << R"({"asset":{"version":"2.0","generator":"groundtool export"},)"
         << R"("scene":0,"scenes":[{"nodes":[0]}],"nodes":[{"mesh":0,"name":"ground"}],)"
         << R"("meshes":[{"primitives":[{"attributes":{"POSITION":0,"TEXCOORD_0":1},)"
         << R"("indices":2,"material":0,"mode":4}]}],)"
         << R"("materials":[{"pbrMetallicRoughness":{"baseColorTexture":{"index":0},)"
         << R"("metallicFactor":0,"roughnessFactor":1}}],)"
         << R"("textures":[{"sampler":0,"source":0}],)"
         << R"("samplers":[{"magFilter":)" << kGlLinear << R"(,"minFilter":)"
         << kGlLinearMipmapLinear << R"(,"wrapS":)" << kGlClampToEdge << R"(,"wrapT":)"
         << kGlClampToEdge << "}],"
         << R"("images":[{"bufferView":3,"mimeType":"image/png"}],)"
         << R"("buffers":[{"byteLength":)" << binaryBytes << "}],"
         << R"("bufferViews":[)"
         << R"({"buffer":0,"byteOffset":0,"byteLength":)" << positionBytes << R"(,"target":)"
         << kGlArrayBuffer << "},"
         << R"({"buffer":0,"byteOffset":)" << positionBytes << R"(,"byteLength":)"
         << coordinateBytes << R"(,"target":)" << kGlArrayBuffer << "},"
         << R"({"buffer":0,"byteOffset":)" << positionBytes + coordinateBytes << R"(,"byteLength":)"
         << indexBytes << R"(,"target":)" << kGlElementArrayBuffer << "},"
         << R"({"buffer":0,"byteOffset":)" << imageOffset << R"(,"byteLength":)"
         << texturePng.size() << "}],"
         << R"("accessors":[)"
         << R"({"bufferView":0,"componentType":)" << kGlFloat << R"(,"count":)" << vertices
         << R"(,"type":"VEC3","min":)" << triple(low) << R"(,"max":)" << triple(high) << "},"
         << R"({"bufferView":1,"componentType":)" << kGlFloat << R"(,"count":)" << vertices
         << R"(,"type":"VEC2"},)"
         << R"({"bufferView":2,"componentType":)" << kGlUnsignedInt << R"(,"count":)"
         << mesh.triangles.size() << R"(,"type":"SCALAR"}]})";
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
    for (const float value : mesh.positions) {
        putFloat(out, value);
        out += 4;
    }
    for (const float value : mesh.textureCoordinates) {
        putFloat(out, value);
        out += 4;
    }
    for (const std::uint32_t index : mesh.triangles) {
        putU32(out, index);
        out += 4;
    }
    std::copy(texturePng.begin(), texturePng.end(), out);
    return glb;
}

LevelRange levelRange(const HeightField& field, double exaggeration) {
    const auto [lowest, highest] = std::minmax_element(field.heights.begin(), field.heights.end());
    LevelRange range{*lowest * exaggeration, *highest * exaggeration};
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

Bytes encodePng16(int width, int height, const std::vector<std::uint16_t>& levels) {
    constexpr std::uint8_t kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    constexpr std::uint8_t kBitDepth = 16;
    constexpr std::uint8_t kGreyscale = 0;
    constexpr std::uint8_t kSubFilter = 1;  // each byte less the one a sample to its left
    constexpr std::size_t kSampleBytes = 2;
    if (width <= 0 || height <= 0 ||
        levels.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height)) {
        throw std::logic_error("level count does not match the heightmap size");
    }
    const std::size_t rowBytes = 1 + static_cast<std::size_t>(width) * kSampleBytes;
    Bytes filtered(rowBytes * static_cast<std::size_t>(height));
    for (std::size_t row = 0; row < static_cast<std::size_t>(height); ++row) {
        std::uint8_t* line = &filtered[row * rowBytes];
        line[0] = kSubFilter;
        std::uint8_t previous[kSampleBytes] = {0, 0};
        for (std::size_t column = 0; column < static_cast<std::size_t>(width); ++column) {
            const std::uint16_t level = levels[row * static_cast<std::size_t>(width) + column];
            const std::uint8_t sample[kSampleBytes] = {static_cast<std::uint8_t>(level >> 8),
                                                       static_cast<std::uint8_t>(level)};
            for (std::size_t b = 0; b < kSampleBytes; ++b) {
                line[1 + column * kSampleBytes + b] =
                    static_cast<std::uint8_t>(sample[b] - previous[b]);
                previous[b] = sample[b];
            }
        }
    }
    uLongf packedSize = compressBound(static_cast<uLong>(filtered.size()));
    Bytes packed(packedSize);
    if (compress2(packed.data(), &packedSize, filtered.data(), static_cast<uLong>(filtered.size()),
                  Z_DEFAULT_COMPRESSION) != Z_OK) {
        throw std::runtime_error("PNG compression failed");
    }
    packed.resize(packedSize);

    Bytes header;
    appendBigEndian32(header, static_cast<std::uint32_t>(width));
    appendBigEndian32(header, static_cast<std::uint32_t>(height));
    header.insert(header.end(), {kBitDepth, kGreyscale, 0, 0, 0});
    Bytes png(std::begin(kSignature), std::end(kSignature));
    appendPngChunk(png, "IHDR", header);
    appendPngChunk(png, "IDAT", packed);
    appendPngChunk(png, "IEND", {});
    return png;
}

Bytes encodeRaw16(const std::vector<std::uint16_t>& levels) {
    Bytes bytes(levels.size() * 2);
    for (std::size_t i = 0; i < levels.size(); ++i) {
        putU16(&bytes[i * 2], levels[i]);
    }
    return bytes;
}

}  // namespace groundtool
