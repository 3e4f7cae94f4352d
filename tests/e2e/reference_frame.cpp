#include "reference_frame.h"

#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>
#include <GL/glext.h>

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

// A pbuffer with 10 bits a channel rounds fog and texture colours differently from the screen's
// 8, so then the frame goes into renderbuffers of the screen's depth instead, stored top row
// first as window-system buffers are. They live as long as the context.
bool bindScreenLikeFramebuffer(int width, int height, int depthBits) {
    GLuint framebuffer = 0;
    GLuint colour = 0;
    glGenFramebuffers(1, &framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glGenRenderbuffers(1, &colour);
    glBindRenderbuffer(GL_RENDERBUFFER, colour);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGB8, width, height);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colour);
    glFramebufferParameteri(GL_FRAMEBUFFER, GL_FRAMEBUFFER_FLIP_Y_MESA, GL_TRUE);
    if (depthBits > 0) {
        GLuint depth = 0;
        glGenRenderbuffers(1, &depth);
        glBindRenderbuffer(GL_RENDERBUFFER, depth);
        glRenderbufferStorage(GL_RENDERBUFFER,
                              depthBits <= 16 ? GL_DEPTH_COMPONENT16 : GL_DEPTH_COMPONENT24, width,
                              height);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depth);
    }
    return glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE &&
           glGetError() == GL_NO_ERROR;
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
    frame.likeTheWindow = hasEightBitsPerChannel();
    if (!frame.likeTheWindow && !bindScreenLikeFramebuffer(width, height, depthBits)) {
        frame.error = "cannot set up an 8-bit framebuffer";
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
