#include "viewer_check.h"

#include <GL/gl.h>

#include "terrain.h"

std::vector<std::string> viewerLoad(Terrain& terrain, const std::string& path) {
    std::vector<std::string> said;
    for (const LoadMessage& message : terrain.loadFile(path).messages) {
        const bool logged = message.channel == LoadMessage::Channel::ErrorLog;
        said.push_back((logged ? "log: " : "stderr: ") + message.text);
    }
    const GLenum error = glGetError();
    if (error != GL_NO_ERROR) {
        said.push_back("OpenGL error " + std::to_string(error));
    }
    return said;
}
