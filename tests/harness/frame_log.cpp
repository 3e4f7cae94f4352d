#include "frame_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

FrameGaps frameGaps(const std::vector<Span>& frames) {
    FrameGaps gaps;
    std::vector<double> values;
    for (std::size_t i = 1; i < frames.size(); ++i) {
        values.push_back(static_cast<double>(frames[i].start - frames[i - 1].end) / 1e6);
    }
    if (values.empty()) {
        return gaps;
    }
    std::sort(values.begin(), values.end());
    gaps.count = values.size();
    gaps.minMs = values.front();
    gaps.medianMs = values[values.size() / 2];
    gaps.maxMs = values.back();
    return gaps;
}

FrameLogFile::FrameLogFile(uid_t owner) {
    std::string pattern = "/tmp/groundview-frames-XXXXXX";
    const int file = mkostemp(pattern.data(), O_CLOEXEC);
    if (file < 0) {
        throw std::runtime_error(std::string("cannot create a frame log: ") + std::strerror(errno));
    }
    path_ = pattern;
    const bool owned = fchown(file, owner, static_cast<gid_t>(-1)) == 0;
    close(file);
    if (!owned) {
        unlink(path_.c_str());
        throw std::runtime_error("cannot hand the frame log " + path_ + " to user " +
                                 std::to_string(owner));
    }
}

FrameLogFile::~FrameLogFile() {
    unlink(path_.c_str());
}

FrameLog FrameLogFile::read() const {
    FrameLog log;
    std::ifstream in(path_);
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string kind;
        Span span;
        fields >> kind;
        if (kind == "gl") {
            fields >> log.depthBits;
            std::getline(fields >> std::ws, log.renderer);
        } else if ((kind == "frame" || kind == "display") && fields >> span.start >> span.end) {
            (kind == "frame" ? log.frames : log.displays).push_back(span);
        }
    }
    return log;
}

std::vector<std::string> FrameLogFile::viewerEnvironment(const std::string& shimPath) const {
    return {"LD_PRELOAD=" + shimPath, "GROUNDVIEW_FRAME_LOG=" + path_};
}
