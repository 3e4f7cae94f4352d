#include "disturbance.h"

#include <X11/keysym.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <stdexcept>

#include "app.h"

namespace {

const KeySym kKeys[] = {XK_w, XK_s, XK_a, XK_d, XK_o,    XK_p,     XK_W,  XK_S,
                        XK_A, XK_D, XK_O, XK_P, XK_Left, XK_Right, XK_Up, XK_Down};

double distanceFromStart(const Camera& camera) {
    return std::hypot(camera.eyeX() - app::kStartEye[0], camera.eyeZ() - app::kStartEye[2]);
}

// The keyboard callback gets the Latin-1 keysyms as characters; arrows never reach it.
void handle(Camera& camera, KeySym key) {
    if (key < 0x100) {
        app::handleKey(camera, static_cast<unsigned char>(key));
    }
}

}  // namespace

Disturbance::Disturbance(const XScreen& screen, Window viewerWindow, std::uint32_t seed)
    : screen_(screen), viewerWindow_(viewerWindow), random_(seed), camera_(app::startCamera()) {}

void Disturbance::pressKey() {
    // Turns and ignored keys are always allowed, and of each pair of opposite steps one leads
    // back, so this ends.
    for (;;) {
        const KeySym key = kKeys[below(static_cast<int>(std::size(kKeys)))];
        Camera after = camera_;
        handle(after, key);
        if (distanceFromStart(after) > kLeash) {
            continue;
        }
        if (!screen_.tapKey(key)) {
            throw std::runtime_error("no key for keysym " + std::to_string(key));
        }
        camera_ = after;
        furthest_ = std::max(furthest_, distanceFromStart(camera_));
        ++keys_;
        return;
    }
}

void Disturbance::exposeWindow() {
    Display* display = screen_.display();
    const int x = below(screen_.width() - 64);
    const int y = below(screen_.height() - 64);
    const auto width = static_cast<unsigned>(32 + below(256));
    const auto height = static_cast<unsigned>(32 + below(256));
    if (exposures_ % 2 == 0) {
        XClearArea(display, viewerWindow_, x, y, width, height, True);
    } else {
        // Override-redirect: mapped at once where asked, whatever manages the screen.
        XSetWindowAttributes attributes{};
        attributes.override_redirect = True;
        attributes.background_pixel = BlackPixel(display, DefaultScreen(display));
        const Window cover = XCreateWindow(display, DefaultRootWindow(display), x, y, width, height,
                                           0, CopyFromParent, InputOutput, CopyFromParent,
                                           CWOverrideRedirect | CWBackPixel, &attributes);
        XMapRaised(display, cover);
        XSync(display, False);
        XDestroyWindow(display, cover);
    }
    XSync(display, False);
    ++exposures_;
}
