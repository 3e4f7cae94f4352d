#include "reference_frame.h"

#include <GL/gl.h>

#include <filesystem>
#include <vector>

#include "app.h"
#include "camera.h"
#include "headless_gl.h"
#include "terrain.h"

namespace {

// The terrain loader names its texture relative to the working folder.
class WorkingFolder {
  public:
    explicit WorkingFolder(const std::string& folder) : previous_(std::filesystem::current_path()) {
        std::filesystem::current_path(folder);
    }
    ~WorkingFolder() { std::filesystem::current_path(previous_); }
    WorkingFolder(const WorkingFolder&) = delete;
    WorkingFolder& operator=(const WorkingFolder&) = delete;

  private:
    std::filesystem::path previous_;
};

bool hasEightBitsPerChannel() {
    GLint red = 0, green = 0, blue = 0;
    glGetIntegerv(GL_RED_BITS, &red);
    glGetIntegerv(GL_GREEN_BITS, &green);
    glGetIntegerv(GL_BLUE_BITS, &blue);
    return red == 8 && green == 8 && blue == 8;
}

}  // namespace

ReferenceFrame renderSteadyFrame(const std::string& folder, const Camera& camera, int width,
                                 int height, int depthBits) {
    ReferenceFrame frame;
    HeadlessGL context(width, height, depthBits > 0);
    if (!context.ok()) {
        frame.error = context.error();
        return frame;
    }
    if (!hasEightBitsPerChannel()) {
        frame.error = "the headless context does not have 8 bits a channel like the screen";
        return frame;
    }
    app::setFixedState();
    app::enableFixedFeatures();
    glViewport(0, 0, width, height);
    Terrain terrain;
    {
        WorkingFolder inFolder(folder);
        terrain.load(app::kTerrainFileName);
    }
    app::drawFrame(camera, terrain);
    app::drawFrame(camera, terrain);
    glFinish();

    std::vector<Pixel> rows(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, rows.data());
    if (glGetError() != GL_NO_ERROR) {
        frame.error = "reading the off-screen frame failed";
        return frame;
    }
    // OpenGL's rows run bottom-up, the screen's top-down.
    frame.picture = Picture(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            frame.picture.at(x, y) = rows[static_cast<std::size_t>(height - 1 - y) * width + x];
        }
    }
    return frame;
}
