#include "bench_gl.h"

#include <GL/gl.h>

#include <cstdlib>

#include "headless_gl.h"

namespace bench {

HeadlessGL& sharedContext() {
    static HeadlessGL context(kScreenWidth, kScreenHeight);
    return context;
}

std::vector<unsigned char> readPicture(int width, int height) {
    std::vector<unsigned char> pixels(static_cast<std::size_t>(width) * height * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
    return pixels;
}

double differingShare(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b,
                      int tolerance) {
    std::size_t differing = 0;
    for (std::size_t pixel = 0; pixel < a.size() / 3; ++pixel) {
        for (int k = 0; k < 3; ++k) {
            if (std::abs(a[pixel * 3 + k] - b[pixel * 3 + k]) > tolerance) {
                ++differing;
                break;
            }
        }
    }
    return static_cast<double>(differing) / static_cast<double>(a.size() / 3);
}

}  // namespace bench
