#include "headless_gl.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <vector>

namespace {

EGLDisplay surfacelessDisplay() {
    auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
        eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (getPlatformDisplay == nullptr) {
        return EGL_NO_DISPLAY;
    }
    return getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
}

}  // namespace

HeadlessGL::HeadlessGL(int width, int height, bool depthBuffer) : width_(width), height_(height) {
    EGLDisplay display = surfacelessDisplay();
    if (display == EGL_NO_DISPLAY || !eglInitialize(display, nullptr, nullptr)) {
        error_ = "no surfaceless EGL display";
        return;
    }
    display_ = display;
    const EGLint configAttributes[] = {EGL_SURFACE_TYPE,
                                       EGL_PBUFFER_BIT,
                                       EGL_RENDERABLE_TYPE,
                                       EGL_OPENGL_BIT,
                                       EGL_RED_SIZE,
                                       8,
                                       EGL_GREEN_SIZE,
                                       8,
                                       EGL_BLUE_SIZE,
                                       8,
                                       EGL_DEPTH_SIZE,
                                       depthBuffer ? 24 : 0,
                                       EGL_NONE};
    // eglChooseConfig sorts deeper colour first; the viewer's window has 8 bits a channel, so
    // take the config that matches it exactly, or pictures differ by rounding.
    EGLint configCount = 0;
    if (!eglChooseConfig(display, configAttributes, nullptr, 0, &configCount) || configCount < 1) {
        error_ = "no EGL config for a desktop OpenGL pbuffer";
        return;
    }
    std::vector<EGLConfig> configs(static_cast<std::size_t>(configCount));
    eglChooseConfig(display, configAttributes, configs.data(), configCount, &configCount);
    EGLConfig config = configs[0];
    for (EGLConfig candidate : configs) {
        EGLint red = 0, green = 0, blue = 0;
        eglGetConfigAttrib(display, candidate, EGL_RED_SIZE, &red);
        eglGetConfigAttrib(display, candidate, EGL_GREEN_SIZE, &green);
        eglGetConfigAttrib(display, candidate, EGL_BLUE_SIZE, &blue);
        if (red == 8 && green == 8 && blue == 8) {
            config = candidate;
            break;
        }
    }
    const EGLint surfaceAttributes[] = {EGL_WIDTH, width, EGL_HEIGHT, height, EGL_NONE};
    EGLSurface surface = eglCreatePbufferSurface(display, config, surfaceAttributes);
    if (surface == EGL_NO_SURFACE) {
        error_ = "cannot create an EGL pbuffer";
        return;
    }
    surface_ = surface;
    if (!eglBindAPI(EGL_OPENGL_API)) {
        error_ = "EGL has no desktop OpenGL";
        return;
    }
    EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, nullptr);
    if (context == EGL_NO_CONTEXT) {
        error_ = "cannot create an OpenGL context";
        return;
    }
    context_ = context;
    if (!eglMakeCurrent(display, surface, surface, context)) {
        error_ = "cannot make the OpenGL context current";
    }
}

HeadlessGL::~HeadlessGL() {
    if (display_ == nullptr) {
        return;
    }
    eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    if (context_ != nullptr) {
        eglDestroyContext(display_, context_);
    }
    if (surface_ != nullptr) {
        eglDestroySurface(display_, surface_);
    }
    // The display stays initialised: Mesa shares it across contexts in one process, and
    // terminating it under a later context's feet would break that context.
}
