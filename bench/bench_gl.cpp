#include "bench_gl.h"

#include "headless_gl.h"

namespace bench {

HeadlessGL& sharedContext() {
    static HeadlessGL context(kScreenWidth, kScreenHeight);
    return context;
}

}  // namespace bench
