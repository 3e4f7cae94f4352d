#include "viewer_check.h"

#include <GL/gl.h>

#include "diag.h"
#include "terrain.h"
#include "test_files.h"

std::vector<std::string> viewerLoad(Terrain& terrain, const std::string& fileName) {
    std::vector<std::string> said;
    redirectErrorLog([&said](const std::string& entry) { said.push_back("log: " + entry); });
    {
        CapturedStderr captured;
        terrain.load(fileName);
        for (const std::string& line : captured.lines()) {
            said.push_back("stderr: " + line);
        }
    }
    redirectErrorLog(nullptr);
    const GLenum error = glGetError();
    if (error != GL_NO_ERROR) {
        said.push_back("OpenGL error " + std::to_string(error));
    }
    return said;
}
