#pragma once
// A desktop OpenGL compatibility context with no window system: EGL on Mesa's surfaceless
// platform, drawing into a pbuffer of the given size. Fixed-function GL, glReadPixels and
// feedback mode all work in it.

#include <string>

class HeadlessGL {
  public:
    // Creates the context and makes it current; ok() says whether that worked and error() why not.
    HeadlessGL(int width, int height, bool depthBuffer = false);
    ~HeadlessGL();
    HeadlessGL(const HeadlessGL&) = delete;
    HeadlessGL& operator=(const HeadlessGL&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    int width() const { return width_; }
    int height() const { return height_; }

  private:
    void* display_ = nullptr;
    void* surface_ = nullptr;
    void* context_ = nullptr;
    int width_;
    int height_;
    std::string error_;
};
