#include "water.h"

#include <GL/glu.h>

#include <algorithm>
#include <array>

namespace {

constexpr int kFloatsPerVertex = 3;
// The floor's grid texture: texels a side, and the brightness of its lines against the rest
// (255), faint so the floor reads as flat.
constexpr int kGridTexels = 16;
constexpr GLubyte kGridLine = 220;

bool drawnKind(SampleKind kind) {
    return kind <= SampleKind::filled;
}

// Walks the cells of an across x down grid that are not ground and, for each, its sides whose two
// ends are drawn. cell(k, wet) is told of each such cell by its north-west vertex k; wall(a, b, k)
// of each such side, from vertex a to vertex b, of the cell at k.
template <typename Cell, typename Wall>
void walkNoData(int across, int down, const std::vector<SampleKind>& kinds, Cell cell, Wall wall) {
    const auto drawn = [&](int k) { return drawnKind(kinds[static_cast<std::size_t>(k)]); };
    for (int j = 0; j + 1 < down; ++j) {
        for (int i = 0; i + 1 < across; ++i) {
            const int nw = j * across + i, ne = nw + 1, sw = nw + across, se = sw + 1;
            if (drawn(nw) && drawn(ne) && drawn(sw) && drawn(se)) {
                continue;
            }
            const std::array<int, 4> corners = {nw, ne, se, sw};  // round the cell
            bool wet = false;
            for (const int k : corners) {
                wet = wet || kinds[static_cast<std::size_t>(k)] == SampleKind::sea;
            }
            cell(nw, wet);
            for (int side = 0; side < 4; ++side) {
                const int a = corners[side], b = corners[(side + 1) % 4];
                if (drawn(a) && drawn(b)) {
                    wall(a, b, nw);
                }
            }
        }
    }
}

}  // namespace

long long NoDataSurfaces::triangles() const {
    return static_cast<long long>((water.size() + floor.size() + walls.size()) / kFloatsPerVertex /
                                  3);
}

std::size_t NoDataSurfaces::bytes() const {
    return (water.capacity() + floor.capacity() + walls.capacity()) * sizeof(float);
}

long long noDataTriangles(int across, int down, const std::vector<SampleKind>& kinds) {
    long long triangles = 0;
    walkNoData(
        across, down, kinds, [&](int, bool) { triangles += 2; },
        [&](int, int, int) { triangles += 2; });
    return triangles;
}

NoDataSurfaces noDataSurfaces(int across, int down, const std::vector<float>& xyz,
                              const std::vector<SampleKind>& kinds) {
    NoDataSurfaces surfaces;
    const auto vertex = [&](int k) { return &xyz[static_cast<std::size_t>(k) * kFloatsPerVertex]; };
    // The level of the cell whose north-west vertex is k, and whether it is water.
    const auto levelOf = [&](int k, bool& wet) {
        const int corners[4] = {k, k + 1, k + across, k + across + 1};
        float level = 0.0f;
        bool first = true;
        wet = false;
        for (const int c : corners) {
            const SampleKind kind = kinds[static_cast<std::size_t>(c)];
            wet = wet || kind == SampleKind::sea;
            if (kind == SampleKind::missing) {
                level = first ? vertex(c)[1] : std::min(level, vertex(c)[1]);
                first = false;
            }
        }
        return wet ? 0.0f : level;
    };
    const auto put = [](std::vector<float>& to, const float* at, float y) {
        to.insert(to.end(), {at[0], y, at[2]});
    };
    walkNoData(
        across, down, kinds,
        [&](int nw, bool) {
            bool wet = false;
            const float level = levelOf(nw, wet);
            std::vector<float>& to = wet ? surfaces.water : surfaces.floor;
            const float *a = vertex(nw), *b = vertex(nw + 1), *c = vertex(nw + across),
                        *d = vertex(nw + across + 1);
            // Counter-clockwise from above, split as the ground's cells are.
            put(to, a, level), put(to, c, level), put(to, b, level);
            put(to, b, level), put(to, c, level), put(to, d, level);
        },
        [&](int a, int b, int nw) {
            bool wet = false;
            const float level = levelOf(nw, wet);
            const float *top0 = vertex(a), *top1 = vertex(b);
            put(surfaces.walls, top0, top0[1]), put(surfaces.walls, top1, level),
                put(surfaces.walls, top1, top1[1]);
            put(surfaces.walls, top0, top0[1]), put(surfaces.walls, top0, level),
                put(surfaces.walls, top1, level);
        });
    return surfaces;
}

void textureByPlace(GLuint texture, const GLfloat sPlane[4], const GLfloat tPlane[4]) {
    glTexGeni(GL_S, GL_TEXTURE_GEN_MODE, GL_OBJECT_LINEAR);
    glTexGeni(GL_T, GL_TEXTURE_GEN_MODE, GL_OBJECT_LINEAR);
    glTexGenfv(GL_S, GL_OBJECT_PLANE, sPlane);
    glTexGenfv(GL_T, GL_OBJECT_PLANE, tPlane);
    glEnable(GL_TEXTURE_GEN_S);
    glEnable(GL_TEXTURE_GEN_T);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glEnable(GL_TEXTURE_2D);
}

GLint uploadMipmapped(GLuint& texture, GLenum format, int width, int height,
                      const unsigned char* texels, GLint wrap) {
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, wrap);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, wrap);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    return gluBuild2DMipmaps(GL_TEXTURE_2D, static_cast<GLint>(format), width, height, format,
                             GL_UNSIGNED_BYTE, texels);
}

GLuint makeFloorGridTexture() {
    std::vector<GLubyte> texels(kGridTexels * kGridTexels, 255);
    for (int i = 0; i < kGridTexels; ++i) {
        texels[i] = kGridLine;                // the north line
        texels[i * kGridTexels] = kGridLine;  // the west line
    }
    GLuint texture = 0;
    uploadMipmapped(texture, GL_LUMINANCE, kGridTexels, kGridTexels, texels.data(), GL_REPEAT);
    return texture;
}

void drawWaterAndFloor(const std::vector<const NoDataSurfaces*>& surfaces, GLuint floorGrid,
                       double gridEast, double gridSouth) {
    glColor3ubv(kWaterRgb);
    for (const NoDataSurfaces* s : surfaces) {
        if (!s->water.empty()) {
            glVertexPointer(kFloatsPerVertex, GL_FLOAT, 0, s->water.data());
            glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(s->water.size() / kFloatsPerVertex));
        }
    }
    const GLfloat sPlane[4] = {static_cast<GLfloat>(1.0 / gridEast), 0, 0, 0};
    const GLfloat tPlane[4] = {0, 0, static_cast<GLfloat>(1.0 / gridSouth), 0};
    textureByPlace(floorGrid, sPlane, tPlane);
    glColor3ubv(kFloorRgb);
    for (const NoDataSurfaces* s : surfaces) {
        if (!s->floor.empty()) {
            glVertexPointer(kFloatsPerVertex, GL_FLOAT, 0, s->floor.data());
            glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(s->floor.size() / kFloatsPerVertex));
        }
    }
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_TEXTURE_GEN_S);
    glDisable(GL_TEXTURE_GEN_T);
}
