#pragma once
// Elevation data as drawn and exported: a grid of heights in metres on square cells. Sample
// (column, row) lies at x = column * spacing (east) and z = row * spacing (south), so the north
// edge is z = 0 and north lies along -z; y is up.

#include <cstddef>
#include <vector>

struct HeightField {
    int columns = 0;             // samples west to east, 2 or more
    int rows = 0;                // samples north to south, 2 or more
    double spacing = 1.0;        // metres between neighbouring samples, both ways
    std::vector<float> heights;  // metres, rows north to south, each west to east

    float at(int column, int row) const {
        return heights[static_cast<std::size_t>(row) * static_cast<std::size_t>(columns) +
                       static_cast<std::size_t>(column)];
    }
    double width() const { return (columns - 1) * spacing; }  // metres west to east
    double depth() const { return (rows - 1) * spacing; }     // metres north to south
};

// An RGB picture laid over a whole height field: texel rows north to south, each west to east,
// the first and last texel centres half a texel inside the field's edges.
struct GroundImage {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;  // width * height * 3
};
