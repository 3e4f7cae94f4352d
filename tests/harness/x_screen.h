#pragma once
// A client connection to an X server for looking at and typing into whatever runs there: the
// root window's picture, the top-level windows, and key presses sent through XTest as if typed.

#include <X11/Xlib.h>

#include <string>
#include <vector>

#include "picture.h"

struct WindowGeometry {
    Window id = 0;
    int x = 0, y = 0;  // the inside's top-left corner on the screen
    int width = 0, height = 0;
    bool mapped = false;
};

class XScreen {
  public:
    // Connects to display (":N"); throws std::runtime_error when that fails.
    explicit XScreen(const std::string& display);
    ~XScreen();
    XScreen(const XScreen&) = delete;
    XScreen& operator=(const XScreen&) = delete;

    Display* display() const { return display_; }
    int width() const;
    int height() const;
    bool hasXTest() const { return hasXTest_; }

    // The whole screen as it shows now.
    Picture capture() const;

    // The root window's children, bottom to top.
    std::vector<WindowGeometry> topLevelWindows() const;

    // Presses and releases the key for keysym (XK_w, XK_Escape, XK_Left, ...), holding Shift when
    // the keysym sits on a key's shifted level (XK_W). Returns false when no key produces it.
    bool tapKey(unsigned long keysym) const;

  private:
    Display* display_ = nullptr;
    bool hasXTest_ = false;
};
