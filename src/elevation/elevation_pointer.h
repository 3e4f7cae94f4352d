#pragma once
// The mouse in elevation mode: left-drag looks around, middle-drag or Shift+left-drag orbits round
// the ground point under the cursor, the wheel walks, a click without dragging asks for a pick and
// a right-click clears it. Positions are pixels from the view's top-left corner; the window system
// is translated in main.

#include <optional>

#include "walker.h"

enum class PointerButton { left, middle, right, wheelUp, wheelDown };

enum class PointerAction {
    none,
    moved,      // the walker moved or turned: the picture changes
    pick,       // pick the ground at the position released
    clearPick,  // forget the pick
};

class ElevationPointer {
  public:
    // A press closer than this to its release, in pixels along each axis, is a click.
    static constexpr int kClickSlopPixels = 3;

    PointerAction press(Walker& walker, PointerButton button, bool shift, int x, int y, int width,
                        int height);
    PointerAction drag(Walker& walker, int x, int y, int height);
    PointerAction release(PointerButton button);

  private:
    enum class Hold { none, look, orbit };
    Hold hold_ = Hold::none;
    bool dragging_ = false;
    int startX_ = 0, startY_ = 0;  // the press
    int lastX_ = 0, lastY_ = 0;
    std::optional<Point3> pivot_;  // orbits round it; none over the sky
};
