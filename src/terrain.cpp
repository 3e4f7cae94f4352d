#include "terrain.h"

#include <GL/gl.h>

#include <memory>
#include <string>
#include <utility>

#include "byte_source.h"
#include "diag.h"
#include "world.h"

namespace {

namespace format = terrain_format;

// The value a single-character read yields at the end of the file, stored as a byte.
constexpr std::int8_t kMissingTextureNumber = -1;

// A file without its texture number can't name a bitmap; neither the viewer nor its files rely
// on more than that it reads as -1.
std::int8_t headerByte(const std::uint8_t* header, std::size_t arrived, std::size_t offset,
                       std::int8_t ifMissing) {
    return offset < arrived ? static_cast<std::int8_t>(header[offset]) : ifMissing;
}

// A tile of 0 would divide by zero; such a terrain repeats its texture once per cell.
float reciprocalTile(int tile) {
    return tile != 0 ? 1.0f / static_cast<float>(tile) : 1.0f;
}

std::string logEntry(const std::string& message, long value) {
    return message + "|" + std::to_string(value);
}

}  // namespace

std::string Terrain::textureFileName(int textureNumber) {
    return world::textureFileName(textureNumber);
}

void Terrain::load(const std::string& path) {
    writeMessages(loadFile(path).messages);
}

TerrainReport parseTerrainFile(const std::string& path, TerrainGrid& grid) {
    const std::string name = world::nameOf(path);
    std::string failure;
    std::unique_ptr<FileSource> file = FileSource::open(path, &failure);
    if (!file) {
        TerrainReport report;
        report.openFailure = failure;
        report.toErrorLog("Unable to find file|" + name);
        return report;
    }
    return parseTerrain(*file, openerInFolder(world::folderOf(path)), grid);
}

TerrainReport parseTerrain(ByteSource& source, const SourceOpener& openTexture, TerrainGrid& grid) {
    TerrainReport report;
    report.found = true;
    report.fileBytes = source.size();
    report.bytesNeeded = static_cast<std::int64_t>(format::kHeaderBytes);
    std::uint8_t header[format::kHeaderBytes] = {};
    const std::size_t arrived = source.read(header, format::kHeaderBytes);
    report.headerBytes = static_cast<std::int64_t>(arrived);
    report.bytesSupplied = report.headerBytes;

    // Bytes the file does not have keep the values of the previous load.
    report.header.type = headerByte(header, arrived, format::kTypeOffset, 0);
    report.header.rows = headerByte(header, arrived, format::kRowsOffset, grid.rows);
    report.header.columns = headerByte(header, arrived, format::kColumnsOffset, grid.columns);
    report.header.textureNumber =
        headerByte(header, arrived, format::kTextureNumberOffset, kMissingTextureNumber);
    report.header.tileX = headerByte(header, arrived, format::kTileXOffset, grid.tileX);
    report.header.tileY = headerByte(header, arrived, format::kTileYOffset, grid.tileY);

    if (arrived < 3 || header[0] != format::kMagic0 || header[1] != format::kMagic1) {
        report.toErrorLog("not a 3d thing");
        return report;
    }
    if (report.header.type != format::kTypeTerrain) {
        report.toErrorLog(logEntry("unknown type; 1 (terrain) expected", report.header.type));
        return report;
    }
    if (report.header.rows < 0) {
        report.toErrorLog(logEntry("rows out of range; 0 to 127 expected", report.header.rows));
        return report;
    }
    if (report.header.columns < 0) {
        report.toErrorLog(
            logEntry("columns out of range; 0 to 127 expected", report.header.columns));
        return report;
    }
    report.accepted = true;
    grid.rows = static_cast<std::int8_t>(report.header.rows);
    grid.columns = static_cast<std::int8_t>(report.header.columns);
    grid.textureNumber = static_cast<std::int8_t>(report.header.textureNumber);
    grid.tileX = static_cast<std::int8_t>(report.header.tileX);
    grid.tileY = static_cast<std::int8_t>(report.header.tileY);

    grid.heights.resize(grid.rows);
    for (std::vector<float>& row : grid.heights) {
        row.resize(grid.columns, 0.0f);
    }

    if (grid.textureNumber == 0) {
        report.toStandardError("must have texture");
    }
    if (grid.tileX <= 0) {
        report.toStandardError("tex_tile_x must be positive");
    }
    if (grid.tileY <= 0) {
        report.toStandardError("tex_tile_y must be positive");
    }

    report.textureName = world::textureFileName(grid.textureNumber);
    std::unique_ptr<ByteSource> texture =
        openTexture(report.textureName, report.texture.openFailure);
    if (texture) {
        report.texture = grid.bitmap.loadFrom(*texture, report.textureName);
        report.messages.insert(report.messages.end(), report.texture.messages.begin(),
                               report.texture.messages.end());
    }

    // Heights the file does not have read as 0.
    std::uint8_t samples[format::kMaxGridSize * format::kMaxGridSize] = {};
    const std::size_t sampleCount = static_cast<std::size_t>(grid.rows) * grid.columns;
    const std::size_t samplesArrived = source.read(samples, sampleCount);
    report.bytesNeeded += static_cast<std::int64_t>(sampleCount);
    report.bytesSupplied += static_cast<std::int64_t>(samplesArrived);
    for (int r = 0; r < grid.rows; ++r) {
        for (int c = 0; c < grid.columns; ++c) {
            grid.heights[r][c] = static_cast<std::int8_t>(samples[r * grid.columns + c]);
        }
    }
    return report;
}

TerrainReport Terrain::loadFile(const std::string& path) {
    TerrainReport report = parseTerrainFile(path, grid_);
    if (report.accepted) {
        createTexture();
    }
    return report;
}

TerrainReport Terrain::loadFrom(ByteSource& source, const SourceOpener& openTexture) {
    TerrainReport report = parseTerrain(source, openTexture, grid_);
    if (report.accepted) {
        createTexture();
    }
    return report;
}

void Terrain::show(TerrainGrid grid) {
    grid_ = std::move(grid);
    createTexture();
}

void Terrain::createTexture() {
    textureId_ = uploadTexture(grid_.bitmap, textureId_);
}

unsigned uploadTexture(const Bitmap& bitmap, unsigned textureId) {
    if (textureId == 0) {
        glGenTextures(1, &textureId);
    }
    glBindTexture(GL_TEXTURE_2D, textureId);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    // The upload's outcome is left to the frame's error check: a size OpenGL refuses ends the
    // viewer there with the error's status.
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, bitmap.width(), bitmap.height(), 0, GL_RGB,
                 GL_UNSIGNED_BYTE, bitmap.pixels());
    return textureId;
}

void Terrain::draw(float originX, float originZ, float heightScale, float spacing) const {
    glBindTexture(GL_TEXTURE_2D, textureId_);
    const float sStep = reciprocalTile(grid_.tileX);
    const float tStep = reciprocalTile(grid_.tileY);
    // Texture coordinates accumulate in single precision: s restarts every strip, t runs on.
    float t = 0.0f;
    for (int i = 0; i + 1 < grid_.rows; ++i) {
        const std::vector<float>& upper = grid_.heights[i + 1];
        const std::vector<float>& lower = grid_.heights[i];
        const float upperX = originX + spacing * static_cast<float>(i + 1);
        const float lowerX = originX + spacing * static_cast<float>(i);
        float s = 0.0f;
        glBegin(GL_TRIANGLE_STRIP);
        {
            for (int j = 0; j < grid_.columns; ++j) {
                const float z = originZ + spacing * static_cast<float>(j);
                glTexCoord2f(s, t);
                glVertex3f(upperX, scene::worldHeight(upper[j], heightScale), z);
                glTexCoord2f(s, t - tStep);
                glVertex3f(lowerX, scene::worldHeight(lower[j], heightScale), z);
                s += sStep;
            }
        }
        glEnd();
        t += tStep;
    }
}

void drawScene(const Terrain& terrain, float heightScale) {
    constexpr float kLineWidth = 2.0f;

    glColor3f(1.0f, 1.0f, 1.0f);
    glEnable(GL_TEXTURE_2D);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    terrain.draw(scene::kOrigin, scene::kOrigin, heightScale, scene::kSpacing);

    glDisable(GL_TEXTURE_2D);
    glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
    glLineWidth(kLineWidth);
    glColor3f(0.0f, 0.0f, 0.0f);
    terrain.draw(scene::kOrigin, scene::kOrigin, heightScale, scene::kSpacing);

    glFlush();
}
