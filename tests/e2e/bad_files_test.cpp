// The viewer in front of broken, odd and unreachable files: each gives its message on its channel
// exactly (the error log or standard error), never crashes, keeps drawing frames in one chain and
// leaves with status 0 on Esc; only a bitmap larger than OpenGL accepts ends the viewer, through
// the upload's error. An error log that is a link, a dangling link or a FIFO, and a standard
// error closed at start, cost the entries or messages that would go there and nothing else.
// Frames are counted by the frame-log shim preloaded into the viewer.

#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "bmp_format.h"
#include "counted_viewer.h"
#include "e2e_setup.h"
#include "reference_frame.h"
#include "resident_memory.h"
#include "scenes.h"
#include "test_files.h"
#include "window_visual.h"
#include "x_screen.h"

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;
using Writer = std::function<void(const std::string& folder)>;

const Milliseconds kFirstFramesTimeout = kHangGuard;
const Milliseconds kMoreFramesTimeout = kHangGuard;
const Milliseconds kPictureTimeout = kHangGuard;
const Milliseconds kExitTimeout = kHangGuard;
constexpr std::size_t kFirstFrames = 3;
// Well above the viewer's own needs with a small texture, well below one 16384 x 16384 texture.
constexpr long kSmallViewerKiB = 256 * 1024;

const std::string kMissingTerrain = "Unable to find file|ground.3dt";
const std::string kNotATerrain = "not a 3d thing";
const std::string kTileX = "tex_tile_x must be positive";
const std::string kTileY = "tex_tile_y must be positive";
const std::string kMinusOneNotABitmap = "File is not a bitmap: -1.bmp";

// The grid and texture of the checker scene, which the camera sees in the lower half.
constexpr int kGrid = 64;
constexpr int kTile = 8;

std::string path(const std::string& folder, const std::string& name) {
    return folder + "/" + name;
}

// A file next to the world folder, outside it.
std::string beside(const std::string& folder, const std::string& name) {
    return (fs::path(folder).parent_path() / name).string();
}

// The world folder, inside a scratch folder that keeps what a case places beside it; both go
// when the test ends, whatever modes the case left.
class World {
  public:
    World() : path_(scratch_.file("world")) {
        fs::create_directory(path_);
        fs::permissions(path_, fs::perms::owner_all);
        // An unprivileged viewer passes through the scratch folder to reach the world.
        fs::permissions(scratch_.path(),
                        fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    }
    ~World() {
        std::error_code ignored;
        fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    World(const World&) = delete;
    World& operator=(const World&) = delete;
    const std::string& path() const { return path_; }

  private:
    TemporaryFolder scratch_;
    std::string path_;
};

Lines errorLog(const std::string& folder) {
    return readLines(path(folder, "errorlog.txt"));
}

bool hasErrorLogFile(const std::string& folder) {
    return fs::is_regular_file(path(folder, "errorlog.txt"));
}

// What the viewer itself wrote on standard error; freeglut's own warnings are not its business.
Lines viewerLines(const ChildProcess& viewer) {
    Lines own;
    for (const std::string& line : viewer.standardErrorLines()) {
        if (line.rfind("freeglut", 0) != 0) {
            own.push_back(line);
        }
    }
    return own;
}

void setMode(const std::string& path, mode_t mode) {
    if (chmod(path.c_str(), mode) != 0) {
        throw std::runtime_error("cannot chmod " + path);
    }
}

// A small real PNG image, for a bitmap that is not one.
Bytes pngBytes() {
    const std::string file =
        (fs::temp_directory_path() / ("groundview-png-" + std::to_string(getpid()) + ".png"))
            .string();
    Picture picture(4, 4);
    picture.at(1, 1) = kRedSquare;
    if (!picture.writePng(file)) {
        throw std::runtime_error("cannot write " + file);
    }
    const Bytes bytes = readFile(file);
    fs::remove(file);
    return bytes;
}

// The checker scene's header, cut after its first length bytes. Its texture "1.bmp" is there,
// and so is a PNG named "-1.bmp", which says so when a missing texture number reads as -1.
Writer headerCutAfter(std::size_t length) {
    return [length](const std::string& folder) {
        writeCheckerTerrain(folder);
        writeFile(path(folder, "-1.bmp"), pngBytes());
        Bytes header = terrainBytes(kGrid, kGrid, 1, kTile, kTile, Bytes{});
        header.resize(length);
        writeFile(path(folder, "ground.3dt"), header);
    };
}

Writer grid(int rows, int columns, std::size_t heights) {
    return [=](const std::string& folder) {
        writeCheckerTerrain(folder);
        writeFile(path(folder, "ground.3dt"),
                  terrainBytes(rows, columns, 1, kTile, kTile, Bytes(heights, 10)));
    };
}

// The checker scene with "1.bmp" replaced.
Writer texture(std::function<Bytes()> bitmap) {
    return [bitmap](const std::string& folder) {
        writeCheckerTerrain(folder);
        writeFile(path(folder, "1.bmp"), bitmap());
    };
}

// A 54-byte header declaring width x height pixels of bitsPerPixel, in a file of size bytes.
Bytes declaredBitmap(int width, int height, std::size_t size, int bitsPerPixel = 24) {
    Bytes bytes = bitmapBytes(
        1, 1,
        [](int, int) {
            return Rgb{0, 0, 0};
        },
        bitsPerPixel);
    bytes.resize(size, 0);
    const auto put16 = [&](std::size_t at, int value) {
        bytes[at] = static_cast<std::uint8_t>(value & 0xFF);
        bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
    };
    put16(bmp::kWidthOffset, width);
    put16(bmp::kHeightOffset, height);
    return bytes;
}

// Grey ground in the lowest rows, 5 to 7 units away, where it keeps about 60 % of its own colour
// under the white fog: a black texture (with black lines) leaves it dark, where an untextured,
// white ground would be white.
bool blackGroundUnderFog(const Picture& picture) {
    const int y0 = picture.height() - 68;
    const std::int64_t total = std::int64_t{picture.width()} * 68;
    return picture.count(0, y0, picture.width(), picture.height(), [](Pixel p) {
        return std::max({p.r, p.g, p.b}) - std::min({p.r, p.g, p.b}) <= 2 && p.r < 160;
    }) == total;
}

// Both squares of the checker texture near the bottom.
bool checkerGround(const Picture& picture) {
    const int y0 = picture.height() - 68;
    const std::int64_t tenth = std::int64_t{picture.width()} * 68 / 10;
    const int w = picture.width(), h = picture.height();
    return picture.count(0, y0, w, h, [](Pixel p) { return p.r > p.g + 60; }) > tenth &&
           picture.count(0, y0, w, h, [](Pixel p) { return p.g > p.r + 60; }) > tenth;
}

// Who runs the viewer: the tests' own user (root in CI, who opens files whatever their
// permissions) or one whom permissions bind.
enum class User { Tests, Unprivileged };

struct BadFileCase {
    std::string name;
    Writer write;
    Lines log;            // errorlog.txt's lines; none: no errorlog.txt file at all
    Lines standardError;  // the viewer's own lines on standard error
    User user = User::Tests;
    std::vector<int> closedDescriptors;  // closed when the viewer starts
    std::function<bool(const Picture&)> shows;
    std::string showsWhat;
    std::function<void(const std::string& folder)> afterwards;
    long maxResidentKiB = 0;  // the viewer's resident memory once drawing; 0: not checked

    BadFileCase as(User who) const {
        BadFileCase copy = *this;
        copy.user = who;
        return copy;
    }
    BadFileCase startedWithout(int descriptor) const {
        BadFileCase copy = *this;
        copy.closedDescriptors.push_back(descriptor);
        return copy;
    }
    BadFileCase showing(std::string what, std::function<bool(const Picture&)> predicate) const {
        BadFileCase copy = *this;
        copy.showsWhat = std::move(what);
        copy.shows = std::move(predicate);
        return copy;
    }
    BadFileCase then(std::function<void(const std::string&)> check) const {
        BadFileCase copy = *this;
        copy.afterwards = std::move(check);
        return copy;
    }
    BadFileCase residentUnder(long kib) const {
        BadFileCase copy = *this;
        copy.maxResidentKiB = kib;
        return copy;
    }
};

// Names the case in gtest's messages instead of dumping its bytes.
void PrintTo(const BadFileCase& c, std::ostream* out) {
    *out << c.name;
}

BadFileCase given(std::string name, Writer write, Lines log, Lines standardError) {
    BadFileCase c;
    c.name = std::move(name);
    c.write = std::move(write);
    c.log = std::move(log);
    c.standardError = std::move(standardError);
    return c;
}

// A world whose terrain logs kNotATerrain, with its errorlog.txt made by makeLog.
Writer notATerrainWithErrorLog(Writer makeLog) {
    return [makeLog](const std::string& folder) {
        headerCutAfter(0)(folder);
        makeLog(folder);
    };
}

// A file of another program's beside the world, and a name beside it that nothing has.
const std::string kElsewhere = "elsewhere.txt";
const std::string kElsewhereLine = "a line of another program's";
const std::string kElsewhereText = kElsewhereLine + "\n";
const std::string kNowhere = "nowhere.txt";

std::vector<BadFileCase> corpus() {
    const Lines none;
    std::vector<BadFileCase> cases = {
        // Under 3 bytes there is no magic to check; from 3 on, missing header bytes keep their
        // previous values (0 on a first load) and a missing texture number reads as -1.
        given("Header0Bytes", headerCutAfter(0), {kNotATerrain}, none),
        given("Header1Byte", headerCutAfter(1), {kNotATerrain}, none),
        given("Header2Bytes", headerCutAfter(2), {kNotATerrain}, none),
        given("Header3Bytes", headerCutAfter(3), none, {kTileX, kTileY, kMinusOneNotABitmap}),
        given("Header4Bytes", headerCutAfter(4), none, {kTileX, kTileY, kMinusOneNotABitmap}),
        given("Header5Bytes", headerCutAfter(5), none, {kTileX, kTileY, kMinusOneNotABitmap}),
        given("Header6Bytes", headerCutAfter(6), none, {kTileX, kTileY}),
        given("Header7Bytes", headerCutAfter(7), none, {kTileY}),
        given("Header8BytesNoHeights", headerCutAfter(8), none, none)
            .showing("the flat checker ground", checkerGround),

        given("Rows0x80", grid(0x80, 4, 16), {"rows out of range; 0 to 127 expected|-128"}, none),
        given("Rows0xFF", grid(0xFF, 4, 16), {"rows out of range; 0 to 127 expected|-1"}, none),
        given("Columns0x80", grid(4, 0x80, 16), {"columns out of range; 0 to 127 expected|-128"},
              none),
        given("Columns0xFF", grid(4, 0xFF, 16), {"columns out of range; 0 to 127 expected|-1"},
              none),
        given("BothSizes0x80", grid(0x80, 0x80, 16), {"rows out of range; 0 to 127 expected|-128"},
              none),
        given("Grid127x127With100Heights", grid(127, 127, 100), none, none)
            .showing("the checker ground", checkerGround),

        // The reader zero-fills what the file lacks and uploads 16000 x 16000 black texels.
        given("Bitmap16000x16000In100Bytes",
              texture([] { return declaredBitmap(16000, 16000, 100); }), none, none)
            .showing("black ground under white fog", blackGroundUnderFog),
        // Refused by the reader, with no size left for OpenGL to refuse: drawn untextured.
        given("Bitmap65535x65535In100Bytes",
              texture([] { return declaredBitmap(65535, 65535, 100); }), none,
              {"Bitmap too large: 65535 x 65535 pixels need 12884705280 bytes, more than "
               "2147483647: 1.bmp"}),
        given("Bitmap8Bit", texture([] {
                  return bitmapBytes(
                      256, 256, [](int, int) { return Rgb{}; }, 8);
              }),
              none, {"8-bit color bitmaps are not currently supported."}),
        // A texture of the declared size would take 1 GiB; the viewer draws untextured instead.
        given("Bitmap8Bit16384x16384In54Bytes",
              texture([] { return declaredBitmap(16384, 16384, bmp::kHeaderBytes, 8); }), none,
              {"8-bit color bitmaps are not currently supported."})
            .residentUnder(kSmallViewerKiB),
        given("Bitmap16Bit", texture([] {
                  return bitmapBytes(
                      256, 256, [](int, int) { return Rgb{}; }, 16);
              }),
              none, {"16-bit color bitmaps are not currently supported."}),
        given("Bitmap32Bit", texture([] {
                  return bitmapBytes(
                      256, 256, [](int, int) { return Rgb{}; }, 32);
              }),
              none, {"32-bit color bitmaps are not currently supported."}),
        given("BitmapCompressed", texture([] {
                  return bitmapBytes(
                      256, 256, [](int, int) { return Rgb{}; }, 24, 1);
              }),
              none, {"Compressed bitmaps not supported. \x01"}),
        given("PngNamedBmp", texture(pngBytes), none, {"File is not a bitmap: 1.bmp"}),

        given(
            "TerrainIsAFolder",
            [](const std::string& folder) { fs::create_directory(path(folder, "ground.3dt")); },
            {kMissingTerrain}, none),
        given(
            "TerrainIsAFifo",
            [](const std::string& folder) {
                if (mkfifo(path(folder, "ground.3dt").c_str(), 0644) != 0) {
                    throw std::runtime_error("cannot make a FIFO");
                }
            },
            {kMissingTerrain}, none),
        given(
            "TerrainUnreadable",
            [](const std::string& folder) {
                writeCheckerTerrain(folder);
                setMode(path(folder, "ground.3dt"), 0);
                setMode(folder, 0777);
            },
            {kMissingTerrain}, none)
            .as(User::Unprivileged),
        // The missing terrain's entry has nowhere to go.
        given(
            "ReadOnlyFolder", [](const std::string& folder) { setMode(folder, 0555); }, none, none)
            .as(User::Unprivileged),
        given(
            "ErrorLogIsAFolder",
            [](const std::string& folder) { fs::create_directory(path(folder, "errorlog.txt")); },
            none, none)
            .then([](const std::string& folder) {
                EXPECT_TRUE(fs::is_directory(path(folder, "errorlog.txt")));
                EXPECT_TRUE(fs::is_empty(path(folder, "errorlog.txt")));
            }),
        // A link planted in a world must not point the log at another file: read through the
        // link, errorlog.txt shows that file's line alone.
        given("ErrorLogLinksOutsideTheWorld",
              notATerrainWithErrorLog([](const std::string& folder) {
                  writeFile(beside(folder, kElsewhere),
                            Bytes(kElsewhereText.begin(), kElsewhereText.end()));
                  fs::create_symlink(beside(folder, kElsewhere), path(folder, "errorlog.txt"));
              }),
              {kElsewhereLine}, none)
            .then([](const std::string& folder) {
                EXPECT_TRUE(fs::is_symlink(path(folder, "errorlog.txt")));
                const Bytes after = readFile(beside(folder, kElsewhere));
                EXPECT_EQ(std::string(after.begin(), after.end()), kElsewhereText);
            }),
        given("ErrorLogIsADanglingLink", notATerrainWithErrorLog([](const std::string& folder) {
                  fs::create_symlink(beside(folder, kNowhere), path(folder, "errorlog.txt"));
              }),
              none, none)
            .then([](const std::string& folder) {
                EXPECT_TRUE(fs::is_symlink(path(folder, "errorlog.txt")));
                EXPECT_FALSE(fs::exists(fs::symlink_status(beside(folder, kNowhere))));
            }),
        // Nothing reads the FIFO, so opening it to write would wait for ever.
        given("ErrorLogIsAFifo", notATerrainWithErrorLog([](const std::string& folder) {
                  if (mkfifo(path(folder, "errorlog.txt").c_str(), 0644) != 0) {
                      throw std::runtime_error("cannot make a FIFO");
                  }
              }),
              none, none)
            .then([](const std::string& folder) {
                EXPECT_TRUE(fs::is_fifo(path(folder, "errorlog.txt")));
            }),
        // With descriptor 2 closed, the X connection would take its number and receive the
        // bitmap's message.
        given("Bitmap8BitWithStandardErrorClosed", texture([] {
                  return bitmapBytes(
                      256, 256, [](int, int) { return Rgb{}; }, 8);
              }),
              none, none)
            .startedWithout(STDERR_FILENO),
    };
    return cases;
}

void expectLog(const std::string& folder, const Lines& expected, const std::string& when) {
    if (expected.empty()) {
        EXPECT_FALSE(hasErrorLogFile(folder))
            << when << ": " << ::testing::PrintToString(errorLog(folder));
    } else {
        EXPECT_EQ(errorLog(folder), expected) << when;
    }
}

// Draws on after its messages: more frames come, all in one chain; then Esc ends it with 0.
void expectDrawsOnAndLeaves(CountedViewer& viewer, const XScreen& screen) {
    const std::size_t drawn = viewer.frames();
    EXPECT_TRUE(viewer.waitForFrames(drawn + 2, kMoreFramesTimeout))
        << "frames stopped after " << drawn;
    const FrameGaps gaps = frameGaps(viewer.log().frames);
    EXPECT_GE(gaps.minMs, kOneChainMinGapMs) << "two frames " << gaps.minMs << " ms apart";

    ASSERT_TRUE(screen.tapKey(XK_Escape));
    const std::optional<ExitStatus> status = viewer.process().waitForExit(kExitTimeout);
    ASSERT_TRUE(status) << "Esc did not end the viewer";
    EXPECT_EQ(*status, ExitStatus::withCode(0)) << viewer.process().standardError();
}

std::optional<UserIds> userFor(User user) {
    return user == User::Tests ? std::nullopt : unprivilegedUser();
}

class BadFiles : public ::testing::TestWithParam<BadFileCase> {};

TEST_P(BadFiles, GiveTheirMessageOnTheirChannelAndTheViewerDrawsOn) {
    const BadFileCase& c = GetParam();
    World folder;
    c.write(folder.path());
    XScreen screen(xorgDisplay());
    CountedViewer viewer(screen, xorgDisplay(), folder.path(), userFor(c.user),
                         c.closedDescriptors);

    ASSERT_TRUE(viewer.waitForFrames(kFirstFrames, kFirstFramesTimeout))
        << viewer.frames() << " frames drawn; "
        << (viewer.process().running() ? "still running"
                                       : describe(*viewer.process().waitForExit(kExitTimeout)))
        << "; standard error:\n"
        << viewer.process().standardError();
    // Everything the load says is said before the first frame.
    EXPECT_EQ(viewerLines(viewer.process()), c.standardError);
    expectLog(folder.path(), c.log, "after the first frames");
    if (c.maxResidentKiB > 0) {
        const long resident = residentKiB(viewer.process().pid());
        EXPECT_GT(resident, 0);
        EXPECT_LT(resident, c.maxResidentKiB) << "KiB resident";
    }
    if (c.shows) {
        const Picture picture = waitForPicture(screen, c.shows, kPictureTimeout);
        EXPECT_TRUE(c.shows(picture)) << "the screen does not show " << c.showsWhat << "; see "
                                      << keepForInspection(picture, "bad-files-" + c.name);
    }

    expectDrawsOnAndLeaves(viewer, screen);
    EXPECT_EQ(viewerLines(viewer.process()), c.standardError) << "after Esc";
    expectLog(folder.path(), c.log, "after Esc");
    if (c.afterwards) {
        c.afterwards(folder.path());
    }
}

INSTANTIATE_TEST_SUITE_P(Corpus, BadFiles, ::testing::ValuesIn(corpus()),
                         [](const ::testing::TestParamInfo<BadFileCase>& info) {
                             return info.param.name;
                         });

// Bitmaps whose width is not a multiple of 4 pad each row in the file; the texture must show the
// same picture as an equivalent one the reader can't get wrong. Stripes of one colour along a
// row sample alike whatever the width, so row stripes are compared with a 4-pixel-wide bitmap;
// stripes down the columns are alike on every row, so they are compared with a one-row bitmap,
// which has no row after its padding to misplace.
struct OddWidthCase {
    std::string name;
    int width, height;
    bool stripesAlongRows;
};

void PrintTo(const OddWidthCase& c, std::ostream* out) {
    *out << c.name;
}

constexpr Pixel kBlueStripe{40, 60, 210};
constexpr Pixel kYellowStripe{230, 200, 40};

Rgb stripe(int index, int length) {
    const Pixel palette[] = {kRedSquare, kGreenSquare, kBlueStripe, kYellowStripe};
    const int band = std::max(1, length / 8);
    const Pixel p = palette[(index / band) % 4];
    return Rgb{p.r, p.g, p.b};
}

Bytes stripedBitmap(int width, int height, bool alongRows, int length) {
    return bitmapBytes(width, height, [=](int x, int y) {
        return alongRows ? stripe(y, length) : stripe(x, length);
    });
}

// Drawn like the window, the frame matches to the pixel.
bool matches(const Picture& shown, const ReferenceFrame& frame) {
    return shown == frame.picture;
}

class OddWidths : public ::testing::TestWithParam<OddWidthCase> {};

TEST_P(OddWidths, ShowTheSamePictureAsAnEquivalentBitmapWithoutPadding) {
    const OddWidthCase& c = GetParam();
    TemporaryFolder reference;
    writeCheckerTerrain(reference.path());
    writeFile(path(reference.path(), "1.bmp"), c.stripesAlongRows
                                                   ? stripedBitmap(4, c.height, true, c.height)
                                                   : stripedBitmap(c.width, 1, false, c.width));
    TemporaryFolder folder;
    writeCheckerTerrain(folder.path());
    writeFile(path(folder.path(), "1.bmp"), stripedBitmap(c.width, c.height, c.stripesAlongRows,
                                                          c.stripesAlongRows ? c.height : c.width));

    XScreen screen(xorgDisplay());
    CountedViewer viewer(screen, xorgDisplay(), folder.path());
    ASSERT_TRUE(viewer.waitForFrames(kFirstFrames, kFirstFramesTimeout))
        << viewer.process().standardError();
    const std::optional<WindowGeometry> window = waitForMappedWindow(screen, kPictureTimeout);
    ASSERT_TRUE(window);
    const int depthBits = depthBufferBits(screen.display(), window->id);
    ASSERT_GE(depthBits, 0) << "cannot tell whether the window has a depth buffer";
    const ReferenceFrame expected =
        renderSteadyFrame(reference.path(), 0, 0, screen.width(), screen.height(), depthBits);
    ASSERT_FALSE(expected.picture.empty()) << expected.error;

    const Picture shown = waitForPicture(
        screen, [&](const Picture& p) { return matches(p, expected); }, kPictureTimeout);
    EXPECT_TRUE(matches(shown, expected))
        << compare(shown, expected.picture).describe() << "; see "
        << keepForInspection(shown, "odd-width-" + c.name + "-screen") << " and "
        << keepForInspection(expected.picture, "odd-width-" + c.name + "-expected");
    EXPECT_EQ(viewerLines(viewer.process()), Lines{});
    EXPECT_FALSE(hasErrorLogFile(folder.path()));
    expectDrawsOnAndLeaves(viewer, screen);
}

INSTANTIATE_TEST_SUITE_P(Corpus, OddWidths,
                         ::testing::Values(OddWidthCase{"RowStripes5x3", 5, 3, true},
                                           OddWidthCase{"ColumnStripes5x3", 5, 3, false},
                                           OddWidthCase{"RowStripes257x255", 257, 255, true},
                                           OddWidthCase{"ColumnStripes257x255", 257, 255, false}),
                         [](const ::testing::TestParamInfo<OddWidthCase>& info) {
                             return info.param.name;
                         });

}  // namespace
