#include "window_visual.h"

#include <GL/glx.h>
#include <X11/Xutil.h>

int depthBufferBits(Display* display, Window window) {
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display, window, &attributes) == 0) {
        return -1;
    }
    XVisualInfo pattern;
    pattern.visualid = XVisualIDFromVisual(attributes.visual);
    int count = 0;
    XVisualInfo* info = XGetVisualInfo(display, VisualIDMask, &pattern, &count);
    if (info == nullptr) {
        return -1;
    }
    int bits = -1;
    if (glXGetConfig(display, info, GLX_DEPTH_SIZE, &bits) != 0) {
        bits = -1;
    }
    XFree(info);
    return bits;
}
