#pragma once
// Loading a ".3dt" with the viewer's own loader, for commands that report what the viewer would
// make of a file. The viewer opens the texture from its working folder, which is where its
// "ground.3dt" lives; here the terrain file's own folder takes that place. What the viewer would
// print on standard error or append to "errorlog.txt" is collected instead of written.

#include <cstdint>
#include <string>
#include <vector>

class Terrain;

namespace groundtool {

struct ViewerMessage {
    enum class Channel { ErrorLog, StandardError };
    Channel channel;
    std::string text;
};

// "errorlog.txt: not a 3d thing", "standard error: must have texture".
std::string describe(const ViewerMessage& message);

struct ViewerLoad {
    std::vector<ViewerMessage> messages;  // in the order the viewer would write them
    bool opened = false;                  // the terrain file could be opened
    int openError = 0;                    // errno when it could not
    std::int64_t bytesRead = 0;           // bytes the loader took from the file
    std::int64_t bytesLeft = 0;           // bytes after those, which the viewer never reads
    bool accepted = false;  // the loader passed its file checks and read the header and heights
    bool endsAtFirstFrame = false;  // an OpenGL error would end the viewer
};

// Needs a current OpenGL context set up as the viewer sets it. Includes the error check that
// starts the viewer's first frame: an OpenGL error left by the texture upload shows as the two
// entries the viewer would log just before it exits.
ViewerLoad loadAsViewer(Terrain& terrain, const std::string& path);

// What the viewer's bitmap reader makes of a texture file, including what it does not say: the
// header bytes it saw and how many pixel bytes the file really holds.
struct TextureLook {
    bool found = false;     // the file could be opened
    int openError = 0;      // errno when it could not
    bool accepted = false;  // the reader left pixels (24-bit, uncompressed, not too large)
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0;          // the low byte the reader checks
    int compression = 0;           // the low byte the reader checks
    std::int64_t dataOffset = -1;  // where the file says its pixels start; -1 if it does not say
    std::int64_t pixelBytesExpected = 0;
    std::int64_t pixelBytesRead = 0;
};

// The viewer's reader always takes the pixels from directly after this header.
constexpr std::int64_t kBitmapHeaderBytes = 54;

// Reads the file with the viewer's bitmap reader; its messages are dropped (loadAsViewer has
// them already).
TextureLook lookAtTexture(const std::string& path);

// The OpenGL error check that starts every viewer frame, with the entries it would log (none
// when no error is pending; the viewer would exit after logging them).
std::vector<ViewerMessage> frameErrorCheck();

// The folder a path's file is in: "." for a bare file name.
std::string folderOf(const std::string& path);

// Makes a folder the working folder while it lives; the viewer's loader opens the texture
// relative to it.
class WorkingFolder {
  public:
    // entered() is false when the folder cannot be entered; nothing changes then.
    explicit WorkingFolder(const std::string& folder);
    ~WorkingFolder();
    WorkingFolder(const WorkingFolder&) = delete;
    WorkingFolder& operator=(const WorkingFolder&) = delete;
    bool entered() const { return entered_; }

  private:
    std::string previous_;
    bool entered_ = false;
};

}  // namespace groundtool
