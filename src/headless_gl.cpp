#include "headless_gl.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <dlfcn.h>
#include <link.h>

#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace {

// Every HeadlessGL in a process shares the one surfaceless display; the count of those alive says
// when the last one goes. Guarded, as contexts may be made on more than one thread.
std::mutex displayMutex;
int contextsAlive = 0;
bool driverKept = false;

std::set<std::string> loadedObjects() {
    std::set<std::string> names;
    dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void* found) {
            if (info->dlpi_name != nullptr && info->dlpi_name[0] != '\0') {
                static_cast<std::set<std::string>*>(found)->insert(info->dlpi_name);
            }
            return 0;
        },
        &names);
    return names;
}

// Initialises the display, the first time in the process keeping what that loads (Mesa's driver,
// LLVM) loaded for good. Terminating the display would unload them: the next context would load
// and set them up again, and a leak checker could no longer name the library that holds memory
// the driver keeps for the life of the process.
bool initialise(EGLDisplay display) {
    if (driverKept) {
        return eglInitialize(display, nullptr, nullptr);
    }
    const std::set<std::string> before = loadedObjects();
    if (!eglInitialize(display, nullptr, nullptr)) {
        return false;
    }
    for (const std::string& name : loadedObjects()) {
        if (before.count(name) == 0) {
            dlopen(name.c_str(), RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
        }
    }
    driverKept = true;
    return true;
}

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
    {
        const std::lock_guard<std::mutex> lock(displayMutex);
        if (display == EGL_NO_DISPLAY || !initialise(display)) {
            error_ = "no surfaceless EGL display";
            return;
        }
        ++contextsAlive;
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
    // Terminating the display ends the threads Mesa keeps for it: llvmpipe's rasterisers and
    // compute pool and the shader cache's writer. Left to the end of the process, they are still
    // running, or being torn down by Mesa's own exit handler, while whatever runs at exit runs;
    // LeakSanitizer's check there stops and scans every thread and can crash on one that is
    // going. Only the last HeadlessGL alive terminates it: the display is shared, and
    // terminating it would break the contexts still on it.
    const std::lock_guard<std::mutex> lock(displayMutex);
    if (--contextsAlive == 0) {
        eglTerminate(display_);
    }
}
