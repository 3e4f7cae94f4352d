#pragma once
// What both grounds draw where the source has no data, built from one grid of vertices: the sea
// flat at 0 m in a plain water colour, any other hole as a flat neutral floor with a faint grid,
// and walls in the ground's own texture from the ground's edge down to either, so no ground
// floats and no sky shows below the horizon.

#include <GL/gl.h>

#include <cstddef>
#include <vector>

#include "height_field.h"

// The sea's plain colour: a deep blue-green that no relief tint uses.
constexpr GLubyte kWaterRgb[3] = {46, 88, 118};
// The no-data floor's: a neutral grey, darker on its grid lines.
constexpr GLubyte kFloorRgb[3] = {128, 128, 128};
// Full-resolution cells between the floor's grid lines.
constexpr int kFloorGridCells = 8;

// The water, floor and walls of an across x down grid, as triangles of three x y z vertices,
// metres. A cell whose four corners are drawn (data or filled) is ground and none of these; any
// other is water at 0 m when a corner is sea, and otherwise floor at the lowest of its corners
// without data. Each side of such a cell whose two ends are drawn drops a wall from those ends
// to the cell's level: where the cell beside it is ground, the wall meets that ground's edge.
struct NoDataSurfaces {
    std::vector<float> water, floor, walls;

    long long triangles() const;
    std::size_t bytes() const;
};

// The triangles noDataSurfaces would make from kinds, counted without building them.
long long noDataTriangles(int across, int down, const std::vector<SampleKind>& kinds);

// xyz holds at least across * down vertices, rows north to south, each west to east, heights
// as drawn (a sample without data at its placeholder: the floor's height); kinds theirs.
NoDataSurfaces noDataSurfaces(int across, int down, const std::vector<float>& xyz,
                              const std::vector<SampleKind>& kinds);

// Turns texture on for what follows, modulating the current colour, its coordinates s and t
// generated from object x and z by the planes sPlane and tPlane.
void textureByPlace(GLuint texture, const GLfloat sPlane[4], const GLfloat tPlane[4]);

// A new texture in texture, mipmapped and filtered linearly, from width x height texels of format
// (GL_RGB or GL_LUMINANCE, rows packed), wrapping as wrap says. Returns gluBuild2DMipmaps' error,
// 0 when none.
GLint uploadMipmapped(GLuint& texture, GLenum format, int width, int height,
                      const unsigned char* texels, GLint wrap);

// A mipmapped repeating texture of the floor's grid, one line a repeat; needs a current context.
GLuint makeFloorGridTexture();

// Draws the water and the floor of each of surfaces, the floor's grid lines every gridEast and
// gridSouth metres, with client vertex arrays enabled and face culling off. Leaves texturing and
// its coordinate generation off.
void drawWaterAndFloor(const std::vector<const NoDataSurfaces*>& surfaces, GLuint floorGrid,
                       double gridEast, double gridSouth);
