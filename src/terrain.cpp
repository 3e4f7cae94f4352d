#include "terrain.h"

#include <GL/gl.h>

#include <iostream>
#include <memory>
#include <sstream>

#include "byte_source.h"
#include "diag.h"

namespace {

constexpr std::size_t kHeaderBytes = 8;
constexpr std::uint8_t kTypeTerrain = 1;
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

}  // namespace

std::string Terrain::textureFileName(int textureNumber) {
    std::ostringstream name;
    name << textureNumber << ".bmp";
    return name.str();
}

void Terrain::load(const std::string& fileName) {
    trace("starting load");
    std::unique_ptr<FileSource> file = FileSource::open(fileName);
    if (!file) {
        logError("Unable to find file", fileName);
        return;
    }
    loadFrom(*file, fileName);
}

void Terrain::loadFrom(ByteSource& source, const std::string& fileName) {
    trace("opening file", fileName);
    std::uint8_t header[kHeaderBytes] = {};
    const std::size_t arrived = source.read(header, kHeaderBytes);
    if (arrived < 3 || header[0] != '3' || header[1] != 'D') {
        logError("not a 3d thing");
        return;
    }
    const auto type = static_cast<std::int8_t>(header[2]);
    trace("type", type);
    if (type != kTypeTerrain) {
        logError("unknown type; 1 (terrain) expected", type);
        return;
    }

    // Bytes the file does not have keep the values of the previous load.
    const std::int8_t rows = headerByte(header, arrived, 3, rows_);
    const std::int8_t columns = headerByte(header, arrived, 4, columns_);
    if (rows < 0) {
        logError("rows out of range; 0 to 127 expected", rows);
        return;
    }
    if (columns < 0) {
        logError("columns out of range; 0 to 127 expected", columns);
        return;
    }
    rows_ = rows;
    columns_ = columns;
    textureNumber_ = headerByte(header, arrived, 5, kMissingTextureNumber);
    tileX_ = headerByte(header, arrived, 6, tileX_);
    tileY_ = headerByte(header, arrived, 7, tileY_);
    trace("x", rows_);
    trace("y", columns_);

    heights_.resize(rows_);
    for (std::vector<float>& row : heights_) {
        row.resize(columns_, 0.0f);
    }
    trace("tex file", textureNumber_);
    trace("tex x", tileX_);
    trace("tex y", tileY_);

    if (textureNumber_ == 0) {
        std::cerr << "must have texture" << std::endl;
    }
    if (tileX_ <= 0) {
        std::cerr << "tex_tile_x must be positive" << std::endl;
    }
    if (tileY_ <= 0) {
        std::cerr << "tex_tile_y must be positive" << std::endl;
    }

    bitmap_.load(textureFileName(textureNumber_));
    createTexture();

    // Heights the file does not have read as 0.
    std::uint8_t samples[kMaxGridSize * kMaxGridSize] = {};
    const std::size_t sampleCount = static_cast<std::size_t>(rows_) * columns_;
    source.read(samples, sampleCount);
    for (int r = 0; r < rows_; ++r) {
        for (int c = 0; c < columns_; ++c) {
            heights_[r][c] = static_cast<std::int8_t>(samples[r * columns_ + c]);
        }
    }
}

void Terrain::createTexture() {
    if (textureId_ == 0) {
        glGenTextures(1, &textureId_);
    }
    glBindTexture(GL_TEXTURE_2D, textureId_);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    // The upload's outcome is left to the frame's error check: a size OpenGL refuses ends the
    // viewer there with the error's status.
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, bitmap_.width(), bitmap_.height(), 0, GL_RGB,
                 GL_UNSIGNED_BYTE, bitmap_.pixels());
}

void Terrain::draw(float originX, float originZ, float heightScale, float spacing) const {
    glBindTexture(GL_TEXTURE_2D, textureId_);
    const float sStep = reciprocalTile(tileX_);
    const float tStep = reciprocalTile(tileY_);
    // Texture coordinates accumulate in single precision: s restarts every strip, t runs on.
    float t = 0.0f;
    for (int i = 0; i + 1 < rows_; ++i) {
        const std::vector<float>& upper = heights_[i + 1];
        const std::vector<float>& lower = heights_[i];
        const float upperX = originX + spacing * static_cast<float>(i + 1);
        const float lowerX = originX + spacing * static_cast<float>(i);
        float s = 0.0f;
        glBegin(GL_TRIANGLE_STRIP);
        {
            for (int j = 0; j < columns_; ++j) {
                const float z = originZ + spacing * static_cast<float>(j);
                glTexCoord2f(s, t);
                glVertex3f(upperX, upper[j] / 127.0f * heightScale, z);
                glTexCoord2f(s, t - tStep);
                glVertex3f(lowerX, lower[j] / 127.0f * heightScale, z);
                s += sStep;
            }
        }
        glEnd();
        t += tStep;
    }
}

void drawScene(const Terrain& terrain) {
    constexpr float kOriginX = -32.0f;
    constexpr float kOriginZ = -32.0f;
    constexpr float kHeightScale = 0.3f;
    constexpr float kSpacing = 1.0f;
    constexpr float kLineWidth = 2.0f;

    glColor3f(1.0f, 1.0f, 1.0f);
    glEnable(GL_TEXTURE_2D);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    terrain.draw(kOriginX, kOriginZ, kHeightScale, kSpacing);

    glDisable(GL_TEXTURE_2D);
    glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
    glLineWidth(kLineWidth);
    glColor3f(0.0f, 0.0f, 0.0f);
    terrain.draw(kOriginX, kOriginZ, kHeightScale, kSpacing);

    glFlush();
}
