#pragma once
// What the window system granted a GLX window: the viewer asks for no depth buffer, but the X
// server may give it one anyway, and the picture differs where it does.

#include <X11/Xlib.h>

// The depth buffer bits of the window's visual, or -1 when GLX cannot tell.
int depthBufferBits(Display* display, Window window);
