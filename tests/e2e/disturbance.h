#pragma once
// What a user and a busy desktop do to the viewer's window, at random: keys typed through XTest
// (the motion keys, their capitals and the arrows, never Esc) and exposures of the window, which
// make the X server send it display events.
//
// The walk is kept on a leash: what the viewer draws, and so the memory its renderer holds,
// depends on where the camera stands, so a walk wandering off the terrain would change the
// picture's load rather than test the viewer. A copy of the viewer's camera, moved by the same
// key handling, tells where it stands; a step beyond the leash is not taken.

#include <X11/Xlib.h>

#include <cstdint>
#include <random>

#include "camera.h"
#include "x_screen.h"

class Disturbance {
  public:
    Disturbance(const XScreen& screen, Window viewerWindow, std::uint32_t seed);

    // One random key, pressed and released; never a step that takes the camera further than
    // kLeash from where it started.
    void pressKey();
    // Alternately clears a random part of the viewer's window with exposures, and maps and
    // destroys a small window on top of it, uncovering what it hid.
    void exposeWindow();

    long keysPressed() const { return keys_; }
    // The furthest the camera has been from its start, in world units.
    double furthest() const { return furthest_; }

    static constexpr double kLeash = 12.0;
    long exposures() const { return exposures_; }

  private:
    int below(int bound) { return std::uniform_int_distribution<int>(0, bound - 1)(random_); }

    const XScreen& screen_;
    Window viewerWindow_;
    std::mt19937 random_;
    Camera camera_;
    double furthest_ = 0;
    long keys_ = 0;
    long exposures_ = 0;
};
