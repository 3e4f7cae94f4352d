#pragma once
// The surface the relief is shaded from. Heights stored in whole steps (whole metres, or a scaled
// band's scale) rise in terraces a step high; shading them as they are draws contour-like bands
// where steps lie cells apart. Such heights are shaded from a smooth surface that keeps within
// half a step of every sample: the ground the steps were rounded from, as far as they tell.
// Drawn heights and picks always keep the field's own.

#include <optional>
#include <vector>

#include "height_field.h"

namespace raster {

// The step, metres, that every data sample of field lies a whole number of from every other; none
// when the heights are not quantised, all alike, or the step lies within float rounding.
std::optional<double> heightStep(const HeightField& field);

// field's heights (rows north to south, as stored) as the relief is shaded from them: with a
// step, smoothed within half a step of each drawn sample; samples not drawn keep their
// placeholders. Without one, the heights as they are.
std::vector<float> shadingHeights(const HeightField& field, std::optional<double> step);

}  // namespace raster
