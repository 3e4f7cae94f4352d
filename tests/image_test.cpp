// The bitmap reader: what a user's texture file turns into, and every way a file can be wrong.

#include "image.h"

#include <GL/gl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <sstream>
#include <utility>
#include <vector>

#include "byte_source.h"
#include "headless_gl.h"
#include "test_files.h"

namespace {

Rgb pattern(int x, int y) {
    return {static_cast<std::uint8_t>(x * 7 + y), static_cast<std::uint8_t>(y * 13 + 1),
            static_cast<std::uint8_t>(x ^ y)};
}

BitmapReport loadBytes(Bitmap& bitmap, const Bytes& bytes, const std::string& name = "t.bmp") {
    MemorySource source(bytes);
    return bitmap.loadFrom(source, name);
}

// What the viewer would print for a report, a line each; an entry meant for the error log is
// marked, so it can't pass for a line on standard error.
std::string printed(const BitmapReport& report) {
    std::string text;
    for (const LoadMessage& message : report.messages) {
        text += (message.channel == LoadMessage::Channel::ErrorLog ? "errorlog.txt: " : "") +
                message.text + "\n";
    }
    return text;
}

std::vector<std::string> printedLines(const BitmapReport& report) {
    std::vector<std::string> lines;
    std::istringstream in(printed(report));
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

TEST(Bitmap, Reads24BitPixelsAsRgbInFileOrder) {
    const Bytes file = bitmapBytes(256, 256, pattern);
    Bitmap bitmap;
    EXPECT_EQ(printed(loadBytes(bitmap, file)), "");
    ASSERT_NE(bitmap.pixels(), nullptr);
    EXPECT_EQ(bitmap.width(), 256);
    EXPECT_EQ(bitmap.height(), 256);
    EXPECT_EQ(bitmap.pixelCount(), 256 * 256);
    EXPECT_EQ(bitmap.byteCount(), 256 * 256 * 3);
    const std::uint8_t* p = bitmap.pixels();
    for (std::size_t k = 0; k < 256 * 256; ++k) {
        ASSERT_EQ(p[3 * k], file[54 + 3 * k + 2]) << "pixel " << k;
        ASSERT_EQ(p[3 * k + 1], file[54 + 3 * k + 1]) << "pixel " << k;
        ASSERT_EQ(p[3 * k + 2], file[54 + 3 * k]) << "pixel " << k;
    }
}

TEST(Bitmap, TakesWidthAndHeightFromTheLow16Bits) {
    Bytes file = solidBitmapBytes(128, 2, {1, 2, 3});
    EXPECT_EQ(file[18], 0x80);
    EXPECT_EQ(file[19], 0x00);
    file[20] = 0xFF;  // the upper halves are ignored
    file[24] = 0x7F;
    Bitmap bitmap;
    loadBytes(bitmap, file);
    EXPECT_EQ(bitmap.width(), 128);
    EXPECT_EQ(bitmap.height(), 2);
}

TEST(Bitmap, ReportsEachProblemAndLeavesTheStateTheTableGives) {
    Bitmap bitmap;
    loadBytes(bitmap, solidBitmapBytes(4, 2, {9, 9, 9}));
    ASSERT_NE(bitmap.pixels(), nullptr);

    {
        // A missing file is silent and changes nothing.
        TemporaryFolder folder;
        EXPECT_EQ(printed(bitmap.load(folder.file("7.bmp"))), "");
        EXPECT_NE(bitmap.pixels(), nullptr);
        EXPECT_EQ(bitmap.width(), 4);
    }
    {
        Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        png.resize(200, 0);
        EXPECT_EQ(printed(loadBytes(bitmap, png, "1.bmp")), "File is not a bitmap: 1.bmp\n");
        EXPECT_EQ(bitmap.pixels(), nullptr);
        EXPECT_EQ(bitmap.width(), 4);  // size unchanged
        EXPECT_EQ(bitmap.height(), 2);
    }
    for (const Bytes& tiny : {Bytes{}, Bytes{'B'}}) {
        EXPECT_EQ(printed(loadBytes(bitmap, tiny, "2.bmp")), "File is not a bitmap: 2.bmp\n");
    }
    {
        loadBytes(bitmap, solidBitmapBytes(4, 2, {9, 9, 9}));
        EXPECT_EQ(printed(loadBytes(bitmap, bitmapBytes(8, 8, pattern, 24, 1))),
                  std::string("Compressed bitmaps not supported. \x01\n"));
        EXPECT_EQ(bitmap.pixels(), nullptr);
        EXPECT_EQ(bitmap.width(), 4);
    }
    // Another depth leaves no size for the upload either: the ground is drawn untextured.
    Bytes header16384(bmp::kHeaderBytes);  // 1 GiB of texture declared in 54 bytes
    bmp::writeHeader(header16384.data(), 16384, 16384, 8, 0, 0);
    const std::vector<std::pair<int, Bytes>> otherDepths = {
        {1, bitmapBytes(16, 8, pattern, 1)},
        {8, bitmapBytes(16, 8, pattern, 8)},
        {16, bitmapBytes(16, 8, pattern, 16)},
        {32, bitmapBytes(16, 8, pattern, 32)},
        {8, header16384},
    };
    for (const auto& [bits, file] : otherDepths) {
        loadBytes(bitmap, solidBitmapBytes(4, 2, {9, 9, 9}));
        const BitmapReport report = loadBytes(bitmap, file);
        EXPECT_EQ(printed(report),
                  std::to_string(bits) + "-bit color bitmaps are not currently supported.\n");
        EXPECT_EQ(bitmap.pixels(), nullptr);
        EXPECT_EQ(bitmap.width(), 0) << bits << "-bit, " << report.width << " wide";
        EXPECT_EQ(bitmap.height(), 0);
        EXPECT_EQ(bitmap.byteCount(), 0);
        EXPECT_FALSE(report.accepted);
    }
}

TEST(Bitmap, PadsOddWidthsSoEveryRowStartsWhereTheUploadLooks) {
    for (int width : {1, 2, 3, 5, 6, 7, 9, 63}) {
        const int height = 3;
        Bitmap bitmap;
        loadBytes(bitmap, bitmapBytes(width, height, pattern));
        ASSERT_NE(bitmap.pixels(), nullptr);
        const std::int64_t rowBytes = (width * 3 + 3) / 4 * 4;
        EXPECT_EQ(bitmap.rowBytes(), rowBytes);
        EXPECT_EQ(bitmap.byteCount(), rowBytes * height);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const std::uint8_t* p = bitmap.pixels() + y * rowBytes + 3 * x;
                const Rgb c = pattern(x, y);
                ASSERT_EQ(p[0], c.r) << width << " wide, x " << x << " y " << y;
                ASSERT_EQ(p[1], c.g);
                ASSERT_EQ(p[2], c.b);
            }
        }
    }
}

TEST(Bitmap, OddWidthTextureShowsTheRightPicture) {
    HeadlessGL gl(8, 8);
    ASSERT_TRUE(gl.ok()) << gl.error();
    const int width = 5, height = 3;
    Bitmap bitmap;
    loadBytes(bitmap, bitmapBytes(width, height, pattern));
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, GL_RGB, GL_UNSIGNED_BYTE,
                 bitmap.pixels());
    ASSERT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    std::vector<std::uint8_t> back(width * height * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, back.data());
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* p = &back[(y * width + x) * 4];
            const Rgb c = pattern(x, y);
            EXPECT_EQ(p[0], c.r) << "x " << x << " y " << y;
            EXPECT_EQ(p[1], c.g) << "x " << x << " y " << y;
            EXPECT_EQ(p[2], c.b) << "x " << x << " y " << y;
        }
    }
    glDeleteTextures(1, &texture);
}

TEST(Bitmap, FillsWhatAShortFileLacksWithZeros) {
    Bytes file = bitmapBytes(4, 4, [](int, int) { return Rgb{200, 100, 50}; });
    file.resize(54 + 4 * 3 + 2);  // the first pixel row and two bytes of the next pixel
    Bitmap bitmap;
    EXPECT_EQ(printed(loadBytes(bitmap, file)), "");
    ASSERT_NE(bitmap.pixels(), nullptr);
    const std::uint8_t* p = bitmap.pixels();
    for (int x = 0; x < 4; ++x) {
        EXPECT_EQ(p[3 * x], 200);
        EXPECT_EQ(p[3 * x + 2], 50);
    }
    // The half-arrived pixel is not exchanged: it stays as the file left it.
    EXPECT_EQ(p[12], 50);
    EXPECT_EQ(p[13], 100);
    for (std::int64_t i = 14; i < bitmap.byteCount(); ++i) {
        ASSERT_EQ(p[i], 0) << "byte " << i;
    }

    // A header cut short reads its missing fields as 0.
    Bytes header = solidBitmapBytes(4, 4, {1, 1, 1});
    header.resize(29);  // ends after the bits-per-pixel byte; compression missing
    loadBytes(bitmap, header);
    EXPECT_NE(bitmap.pixels(), nullptr);
    header.resize(20);  // height and depth missing
    EXPECT_EQ(printed(loadBytes(bitmap, header)),
              "0-bit color bitmaps are not currently supported.\n");
    EXPECT_EQ(bitmap.height(), 0);
}

TEST(Bitmap, RefusesBuffersBeyondTheSigned32BitRange) {
    Bitmap bitmap;
    Bytes file = solidBitmapBytes(2, 2, {1, 2, 3});
    file[18] = 0xFF, file[19] = 0xFF;  // 65535 x 65535 needs about 12.9 GB
    file[22] = 0xFF, file[23] = 0xFF;
    const std::vector<std::string> lines = printedLines(loadBytes(bitmap, file, "huge.bmp"));
    ASSERT_EQ(lines.size(), 1u);
    const std::int64_t needed = bmp::paddedRowBytes(65535) * 65535;
    EXPECT_EQ(needed, 12884705280);
    EXPECT_NE(lines[0].find(std::to_string(needed)), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("huge.bmp"), std::string::npos) << lines[0];
    EXPECT_EQ(bitmap.pixels(), nullptr);
    EXPECT_EQ(bitmap.width(), 0);  // nothing for OpenGL to refuse
    EXPECT_EQ(bitmap.height(), 0);

    // Just inside the range: a declared size far beyond a tiny file is accepted and zero-filled.
    file[18] = 0x00, file[19] = 0x40;  // 16384 x 16384 x 3 = 805306368 bytes
    file[22] = 0x00, file[23] = 0x40;
    loadBytes(bitmap, file);
    ASSERT_NE(bitmap.pixels(), nullptr);
    EXPECT_EQ(bitmap.byteCount(), 805306368);
    EXPECT_EQ(bitmap.pixels()[0], 1);
    EXPECT_EQ(bitmap.pixels()[bitmap.byteCount() - 1], 0);
}

TEST(Bitmap, ReadsFilesByPath) {
    TemporaryFolder folder;
    writeFile(folder.file("3.bmp"), solidBitmapBytes(2, 2, {10, 20, 30}));
    Bitmap bitmap;
    bitmap.load(folder.file("3.bmp"));
    ASSERT_NE(bitmap.pixels(), nullptr);
    EXPECT_EQ(bitmap.pixels()[0], 10);
    EXPECT_EQ(bitmap.pixels()[2], 30);
    // A folder under a bitmap's name is as good as missing.
    ASSERT_EQ(mkdir(folder.file("4.bmp").c_str(), 0755), 0);
    // So is a FIFO, which must not stall the reader waiting for a writer.
    ASSERT_EQ(mkfifo(folder.file("5.bmp").c_str(), 0644), 0);
    const BitmapReport folderReport = bitmap.load(folder.file("4.bmp"));
    const BitmapReport fifoReport = bitmap.load(folder.file("5.bmp"));
    EXPECT_EQ(printed(folderReport) + printed(fifoReport), "");
    EXPECT_NE(bitmap.pixels(), nullptr);
    // The reports still say why, for a tool to tell the user.
    EXPECT_EQ(folderReport.openFailure, "a folder, not a regular file");
    EXPECT_EQ(fifoReport.openFailure, "not a regular file");
    EXPECT_FALSE(fifoReport.found);
}

}  // namespace
