#include "elevation_pointer.h"

#include <cstdlib>

#include "elevation_frame.h"
#include "pick.h"

namespace {

// A drag across the view's height turns the view by its field of view: the ground under the
// cursor stays under it.
double radiansPerPixel(int height) {
    return kElevationFieldOfViewDegrees * kRadiansPerDegree / (height > 0 ? height : 1);
}

}  // namespace

PointerAction ElevationPointer::press(Walker& walker, PointerButton button, bool shift, int x,
                                      int y, int width, int height) {
    switch (button) {
        case PointerButton::wheelUp:
            walker.walk(1);
            return PointerAction::moved;
        case PointerButton::wheelDown:
            walker.walk(-1);
            return PointerAction::moved;
        case PointerButton::right:
            hold_ = Hold::none;
            return PointerAction::clearPick;
        case PointerButton::left:
        case PointerButton::middle:
            break;
    }
    hold_ = button == PointerButton::middle || shift ? Hold::orbit : Hold::look;
    dragging_ = false;
    startX_ = lastX_ = x;
    startY_ = lastY_ = y;
    pivot_.reset();
    if (hold_ == Hold::orbit) {
        pivot_ = raster::groundHit(walker.field(), walker.eye(),
                                   raster::viewRay(walker, width, height, x + 0.5, y + 0.5));
    }
    return PointerAction::none;
}

PointerAction ElevationPointer::drag(Walker& walker, int x, int y, int height) {
    if (hold_ == Hold::none) {
        return PointerAction::none;
    }
    if (!dragging_ && std::abs(x - startX_) <= kClickSlopPixels &&
        std::abs(y - startY_) <= kClickSlopPixels) {
        return PointerAction::none;
    }
    dragging_ = true;
    const double right = (x - lastX_) * radiansPerPixel(height);
    const double up = (lastY_ - y) * radiansPerPixel(height);
    lastX_ = x;
    lastY_ = y;
    if (hold_ == Hold::look) {
        walker.lookAround(right, up);
    } else if (pivot_) {
        // The ground follows the hand: dragging right swings the eye left round the pivot,
        // dragging up lowers it.
        walker.orbit(*pivot_, -right, -up);
    }
    return PointerAction::moved;
}

PointerAction ElevationPointer::release(PointerButton button) {
    const bool click = hold_ == Hold::look && !dragging_ && button == PointerButton::left;
    if (button == PointerButton::left || button == PointerButton::middle) {
        hold_ = Hold::none;
        dragging_ = false;
    }
    return click ? PointerAction::pick : PointerAction::none;
}
