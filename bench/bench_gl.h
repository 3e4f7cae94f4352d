#pragma once
// The one headless OpenGL context every drawing and loading benchmark shares: a 1024 x 768
// pbuffer without a depth buffer, as the viewer's window has on the dummy X server.

#include <vector>

class HeadlessGL;

namespace bench {

constexpr int kScreenWidth = 1024;
constexpr int kScreenHeight = 768;

// Created on first use and current from then on; check ok() before drawing.
HeadlessGL& sharedContext();

// The current framebuffer's picture, width x height RGB, bottom row first.
std::vector<unsigned char> readPicture(int width, int height);
// The share of pixels in which some channel differs by more than tolerance levels.
double differingShare(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b,
                      int tolerance);

}  // namespace bench
