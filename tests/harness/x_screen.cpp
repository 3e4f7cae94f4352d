#include "x_screen.h"

#include <X11/XKBlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <cstdint>
#include <stdexcept>

namespace {

// The shift that brings a channel mask's lowest bit to bit 0, and the mask's width.
struct Channel {
    int shift = 0;
    int bits = 0;
};

Channel channelOf(unsigned long mask) {
    Channel channel;
    if (mask == 0) {
        return channel;
    }
    while ((mask & 1u) == 0) {
        mask >>= 1;
        ++channel.shift;
    }
    while ((mask & 1u) != 0) {
        mask >>= 1;
        ++channel.bits;
    }
    return channel;
}

std::uint8_t channelValue(unsigned long value, Channel channel) {
    const unsigned long raw = (value >> channel.shift) & ((1ul << channel.bits) - 1);
    if (channel.bits >= 8) {
        return static_cast<std::uint8_t>(raw >> (channel.bits - 8));
    }
    return static_cast<std::uint8_t>(raw * 255 / ((1ul << channel.bits) - 1));
}

// Windows come and go under the tests' feet; Xlib's default handler would end the whole test
// program on the BadWindow that asking about a vanished one gives.
int ignoreError(Display* /*display*/, XErrorEvent* /*error*/) {
    return 0;
}

}  // namespace

XScreen::XScreen(const std::string& display) {
    XSetErrorHandler(ignoreError);
    display_ = XOpenDisplay(display.c_str());
    if (display_ == nullptr) {
        throw std::runtime_error("cannot connect to the X display " + display);
    }
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    hasXTest_ = XTestQueryExtension(display_, &eventBase, &errorBase, &major, &minor) != 0;
}

XScreen::~XScreen() {
    XCloseDisplay(display_);
}

int XScreen::width() const {
    return DisplayWidth(display_, DefaultScreen(display_));
}

int XScreen::height() const {
    return DisplayHeight(display_, DefaultScreen(display_));
}

Picture XScreen::capture() const {
    const Window root = DefaultRootWindow(display_);
    XImage* image = XGetImage(display_, root, 0, 0, static_cast<unsigned>(width()),
                              static_cast<unsigned>(height()), AllPlanes, ZPixmap);
    if (image == nullptr) {
        throw std::runtime_error("XGetImage of the root window failed");
    }
    const Channel red = channelOf(image->red_mask);
    const Channel green = channelOf(image->green_mask);
    const Channel blue = channelOf(image->blue_mask);
    Picture picture(image->width, image->height);
    const bool packed32 = image->bits_per_pixel == 32 && image->byte_order == LSBFirst;
    for (int y = 0; y < image->height; ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(
            image->data + static_cast<std::ptrdiff_t>(y) * image->bytes_per_line);
        for (int x = 0; x < image->width; ++x) {
            const unsigned long value = packed32 ? row[x] : XGetPixel(image, x, y);
            picture.at(x, y) = Pixel{channelValue(value, red), channelValue(value, green),
                                     channelValue(value, blue)};
        }
    }
    XDestroyImage(image);
    return picture;
}

std::vector<WindowGeometry> XScreen::topLevelWindows() const {
    const Window root = DefaultRootWindow(display_);
    Window rootReturn = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    std::vector<WindowGeometry> windows;
    if (XQueryTree(display_, root, &rootReturn, &parent, &children, &count) == 0) {
        return windows;
    }
    for (unsigned i = 0; i < count; ++i) {
        XWindowAttributes attributes;
        if (XGetWindowAttributes(display_, children[i], &attributes) == 0) {
            continue;
        }
        WindowGeometry geometry;
        geometry.id = children[i];
        Window child = 0;
        XTranslateCoordinates(display_, children[i], root, 0, 0, &geometry.x, &geometry.y, &child);
        geometry.width = attributes.width;
        geometry.height = attributes.height;
        geometry.mapped = attributes.map_state == IsViewable;
        windows.push_back(geometry);
    }
    XFree(children);
    return windows;
}

bool XScreen::tapKey(unsigned long keysym) const {
    const KeyCode code = XKeysymToKeycode(display_, keysym);
    if (code == 0 || !hasXTest_) {
        return false;
    }
    // Level 1 of a key is its shifted symbol; the unshifted level needs no modifier.
    const bool shifted = XkbKeycodeToKeysym(display_, code, 0, 0) != keysym &&
                         XkbKeycodeToKeysym(display_, code, 0, 1) == keysym;
    const KeyCode shift = XKeysymToKeycode(display_, XK_Shift_L);
    if (shifted) {
        XTestFakeKeyEvent(display_, shift, True, CurrentTime);
    }
    XTestFakeKeyEvent(display_, code, True, CurrentTime);
    XTestFakeKeyEvent(display_, code, False, CurrentTime);
    if (shifted) {
        XTestFakeKeyEvent(display_, shift, False, CurrentTime);
    }
    XSync(display_, False);
    return true;
}
