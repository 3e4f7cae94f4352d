#pragma once
// The sea's plain colour: a deep blue-green that no relief tint uses.

#include <GL/gl.h>

constexpr GLubyte kWaterRgb[3] = {46, 88, 118};
