#pragma once
// Index arrays of a grid of across x down vertices, rows north to south, as both grounds draw it.

#include <GL/gl.h>

#include <vector>

inline void addTriangle(std::vector<GLushort>& indices, int a, int b, int c) {
    indices.insert(indices.end(),
                   {static_cast<GLushort>(a), static_cast<GLushort>(b), static_cast<GLushort>(c)});
}

// Grid indices round the edge of an across x down grid, once round: north edge eastward, east
// edge southward, south edge westward, west edge northward.
inline std::vector<int> perimeter(int across, int down) {
    std::vector<int> loop;
    for (int i = 0; i + 1 < across; ++i) {
        loop.push_back(i);
    }
    for (int j = 0; j + 1 < down; ++j) {
        loop.push_back(j * across + across - 1);
    }
    for (int i = across - 1; i > 0; --i) {
        loop.push_back((down - 1) * across + i);
    }
    for (int j = down - 1; j > 0; --j) {
        loop.push_back(j * across);
    }
    return loop;
}
