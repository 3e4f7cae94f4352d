// The terrain's strips as OpenGL receives them, read back vertex by vertex through feedback mode.

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

#include "byte_source.h"
#include "headless_gl.h"
#include "terrain.h"
#include "test_files.h"

namespace {

struct FedVertex {
    float x, y, z;  // world units, undone from the window transform
    float s, t;
};

// World coordinates scaled by 1/256 and an identity projection map a grid of up to 127 cells
// into the unit cube without clipping; a 2 x 2 viewport then turns x, y into window x, y + 1.
constexpr float kWorldScale = 256.0f;

class StripFeedback : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(gl.ok()) << gl.error();
        glViewport(0, 0, 2, 2);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glScalef(1 / kWorldScale, 1 / kWorldScale, 1 / kWorldScale);
        glDisable(GL_CULL_FACE);
        glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    }

    // No texture: these tests look at vertices, and the working folder is not theirs to read.
    void loadTerrain(const Bytes& bytes) {
        MemorySource source(bytes);
        terrain.loadFrom(source, [](const std::string&, std::string& failure) {
            failure = "not served";
            return std::unique_ptr<ByteSource>();
        });
    }

    // The vertices of every strip in the order they were sent, rebuilt from the triangles:
    // a strip's first triangle gives its first three vertices, each later one adds its last.
    std::vector<std::vector<FedVertex>> drawAndCollect(float originX, float originZ,
                                                       float heightScale, float spacing) {
        std::vector<GLfloat> buffer(1 << 20);
        glFeedbackBuffer(static_cast<GLsizei>(buffer.size()), GL_3D_COLOR_TEXTURE, buffer.data());
        glRenderMode(GL_FEEDBACK);
        terrain.draw(originX, originZ, heightScale, spacing);
        const GLint used = glRenderMode(GL_RENDER);
        EXPECT_GE(used, 0) << "feedback buffer overflow";

        std::vector<FedVertex> triangles;
        for (GLint i = 0; i < used;) {
            EXPECT_EQ(buffer[i], GL_POLYGON_TOKEN);
            const int count = static_cast<int>(buffer[i + 1]);
            EXPECT_EQ(count, 3);
            i += 2;
            for (int v = 0; v < count; ++v, i += 11) {  // xyz, rgba, strq
                const float* f = &buffer[i];
                triangles.push_back({(f[0] - 1) * kWorldScale, (f[1] - 1) * kWorldScale,
                                     (f[2] * 2 - 1) * kWorldScale, f[7], f[8]});
            }
        }
        // Each strip of c columns makes 2c - 2 triangles.
        const int perStrip = 2 * terrain.columns() - 2;
        std::vector<std::vector<FedVertex>> strips;
        for (std::size_t first = 0; perStrip > 0 && first < triangles.size() / 3;
             first += perStrip) {
            std::vector<FedVertex> strip(&triangles[first * 3], &triangles[first * 3 + 3]);
            for (int k = 1; k < perStrip; ++k) {
                strip.push_back(triangles[(first + k) * 3 + 2]);
            }
            strips.push_back(strip);
        }
        return strips;
    }

    HeadlessGL gl{8, 8};
    Terrain terrain;
};

TEST_F(StripFeedback, SendsRowIPlusOneFirstWithAccumulatedTextureCoordinates) {
    const int rows = 4, columns = 5, tileX = 3, tileY = 7;
    loadTerrain(terrainBytes(rows, columns, 1, tileX, tileY,
                             [](int r, int c) { return (r * 37 + c * 91) % 256 - 128; }));
    const float originX = -32, originZ = -32, heightScale = 0.3f, spacing = 1;
    const auto strips = drawAndCollect(originX, originZ, heightScale, spacing);
    ASSERT_EQ(strips.size(), std::size_t(rows - 1));

    const float sStep = 1.0f / tileX, tStep = 1.0f / tileY;
    float t = 0.0f;
    for (int i = 0; i < rows - 1; ++i) {
        ASSERT_EQ(strips[i].size(), std::size_t(2 * columns));
        float s = 0.0f;
        for (int j = 0; j < columns; ++j) {
            const FedVertex& upper = strips[i][2 * j];
            const FedVertex& lower = strips[i][2 * j + 1];
            const float z = originZ + j;
            EXPECT_NEAR(upper.x, originX + (i + 1), 1e-3) << i << "," << j;
            EXPECT_NEAR(lower.x, originX + i, 1e-3) << i << "," << j;
            EXPECT_NEAR(upper.z, z, 1e-3);
            EXPECT_NEAR(lower.z, z, 1e-3);
            EXPECT_NEAR(upper.y, terrain.heights()[i + 1][j] / 127.0f * heightScale, 1e-4);
            EXPECT_NEAR(lower.y, terrain.heights()[i][j] / 127.0f * heightScale, 1e-4);
            // Texture coordinates are passed through untouched, so they compare exactly.
            EXPECT_EQ(upper.s, s);
            EXPECT_EQ(lower.s, s);
            EXPECT_EQ(upper.t, t);
            EXPECT_EQ(lower.t, t - tStep);
            s += sStep;
        }
        t += tStep;
    }
}

TEST_F(StripFeedback, TilesOfFourRepeatEveryFourCells) {
    loadTerrain(terrainBytes(64, 64, 1, 4, 4, [](int, int) { return 0; }));
    const auto strips = drawAndCollect(-32, -32, 0.3f, 1);
    ASSERT_EQ(strips.size(), 63u);
    EXPECT_EQ(strips[0][0].t, 0.0f);
    EXPECT_EQ(strips[0][1].t, -0.25f);
    EXPECT_EQ(strips[0][8].s, 1.0f);  // column 4
    EXPECT_NEAR(strips[62][0].x, 31, 1e-3);
    EXPECT_NEAR(strips[0][1].x, -32, 1e-3);
    EXPECT_NEAR(strips[0].back().z, 31, 1e-3);
}

TEST_F(StripFeedback, SmallAndEmptyGridsDrawNothing) {
    EXPECT_TRUE(drawAndCollect(-32, -32, 0.3f, 1).empty());  // nothing loaded
    loadTerrain(terrainBytes(1, 50, 1, 1, 1, [](int, int) { return 5; }));
    EXPECT_TRUE(drawAndCollect(-32, -32, 0.3f, 1).empty());
    loadTerrain(terrainBytes(0, 50, 1, 1, 1, Bytes{}));
    EXPECT_TRUE(drawAndCollect(-32, -32, 0.3f, 1).empty());
    loadTerrain(terrainBytes(20, 0, 1, 1, 1, Bytes{}));
    EXPECT_TRUE(drawAndCollect(-32, -32, 0.3f, 1).empty());
}

TEST_F(StripFeedback, ZeroTilesKeepEveryCoordinateFinite) {
    loadTerrain(terrainBytes(3, 3, 1, 0, 0, [](int r, int c) { return r + c; }));
    const auto strips = drawAndCollect(-32, -32, 0.3f, 1);
    ASSERT_EQ(strips.size(), 2u);
    for (const auto& strip : strips) {
        for (const FedVertex& v : strip) {
            EXPECT_TRUE(std::isfinite(v.s) && std::isfinite(v.t));
        }
    }
    // One repeat per cell.
    EXPECT_EQ(strips[1][2].s, 1.0f);
    EXPECT_EQ(strips[1][0].t, 1.0f);
    EXPECT_EQ(strips[1][1].t, 0.0f);

    // Negative tiles stay as they are: the texture runs the other way.
    loadTerrain(terrainBytes(2, 2, 1, -2, -4, [](int, int) { return 0; }));
    const auto mirrored = drawAndCollect(-32, -32, 0.3f, 1);
    EXPECT_EQ(mirrored[0][2].s, -0.5f);
    EXPECT_EQ(mirrored[0][1].t, 0.25f);
}

TEST(Scene, LeavesTheWireFrameStateBehind) {
    HeadlessGL gl(8, 8);
    ASSERT_TRUE(gl.ok()) << gl.error();
    Terrain terrain;
    drawScene(terrain);
    GLint modes[2];
    glGetIntegerv(GL_POLYGON_MODE, modes);
    EXPECT_EQ(modes[0], GL_LINE);
    EXPECT_EQ(modes[1], GL_LINE);
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
    GLfloat colour[4], width = 0;
    glGetFloatv(GL_CURRENT_COLOR, colour);
    EXPECT_EQ(colour[0] + colour[1] + colour[2], 0.0f);
    glGetFloatv(GL_LINE_WIDTH, &width);
    EXPECT_EQ(width, 2.0f);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

}  // namespace
