#pragma once
// The one headless OpenGL context every drawing and loading benchmark shares: a 1024 x 768
// pbuffer without a depth buffer, as the viewer's window has on the dummy X server.

class HeadlessGL;

namespace bench {

constexpr int kScreenWidth = 1024;
constexpr int kScreenHeight = 768;

// Created on first use and current from then on; check ok() before drawing.
HeadlessGL& sharedContext();

}  // namespace bench
