#include "viewer_load.h"

#include <GL/gl.h>

#include <utility>

#include "diag.h"
#include "world.h"

namespace groundtool {

ViewerLoad loadAsViewer(Terrain& terrain, ClassicWorld world) {
    ViewerLoad load;
    load.report = std::move(world.report);
    if (load.report.accepted) {
        terrain.show(std::move(world.grid));
    }
    load.messages = load.report.messages;
    const std::vector<LoadMessage> errors = frameErrorCheck();
    load.messages.insert(load.messages.end(), errors.begin(), errors.end());
    load.endsAtFirstFrame = !errors.empty();
    return load;
}

std::vector<LoadMessage> frameErrorCheck() {
    std::vector<LoadMessage> messages;
    const GLenum code = glGetError();
    if (code != GL_NO_ERROR) {
        for (std::string& entry : glErrorEntries(code)) {
            messages.push_back({LoadMessage::Channel::ErrorLog, std::move(entry)});
        }
    }
    return messages;
}

std::string describe(const LoadMessage& message) {
    const char* channel =
        message.channel == LoadMessage::Channel::ErrorLog ? world::kErrorLogName : "standard error";
    return std::string(channel) + ": " + message.text;
}

std::string joined(const std::vector<LoadMessage>& messages) {
    std::string text;
    for (const LoadMessage& message : messages) {
        text += (text.empty() ? "" : " ") + message.text;
    }
    return text;
}

}  // namespace groundtool
