// The error log's file behaviour and the OpenGL error check.

#include "diag.h"

#include <GL/gl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <vector>

#include "headless_gl.h"
#include "test_files.h"

namespace {

using Lines = std::vector<std::string>;

TEST(ErrorLog, CreatesThenAppendsOneLinePerEntry) {
    ScopedWorkingFolder folder;
    EXPECT_FALSE(fileExists("errorlog.txt"));
    logError("Unable to find file", "ground.3dt");
    EXPECT_EQ(readLines("errorlog.txt"), Lines{"Unable to find file|ground.3dt"});

    logError("unknown type; 1 (terrain) expected", 2);
    logError("unknown type; 1 (terrain) expected", -2);
    logError("not a 3d thing");
    logError(reinterpret_cast<const unsigned char*>("invalid value"));
    const Lines expected = {
        "Unable to find file|ground.3dt", "unknown type; 1 (terrain) expected|2",
        "unknown type; 1 (terrain) expected|-2", "not a 3d thing", "invalid value"};
    EXPECT_EQ(readLines("errorlog.txt"), expected);
    // Each entry is a complete line, flushed before the call returns.
    EXPECT_EQ(readFile("errorlog.txt").back(), '\n');
}

TEST(ErrorLog, KeepsTheLinesOfEarlierRuns) {
    ScopedWorkingFolder folder;
    writeFile("errorlog.txt", Bytes{'o', 'l', 'd', '\n'});
    logError("not a 3d thing");
    EXPECT_EQ(readLines("errorlog.txt"), (Lines{"old", "not a 3d thing"}));
}

TEST(ErrorLog, LosesEntriesSilentlyWhenItCannotWrite) {
    ScopedWorkingFolder folder;
    // A folder in the log's place can't be opened for writing, even by root.
    ASSERT_EQ(mkdir("errorlog.txt", 0755), 0);
    logError("not a 3d thing");
    logError("Unable to find file", "ground.3dt");
    EXPECT_TRUE(readLines("errorlog.txt").empty());
}

TEST(ErrorLog, CanBeRedirected) {
    ScopedWorkingFolder folder;
    Lines entries;
    redirectErrorLog([&](const std::string& entry) { entries.push_back(entry); });
    logError("unknown type; 1 (terrain) expected", 7);
    redirectErrorLog(nullptr);
    EXPECT_EQ(entries, Lines{"unknown type; 1 (terrain) expected|7"});
    EXPECT_FALSE(fileExists("errorlog.txt"));
}

TEST(GLErrorStatus, NeverReadsAsSuccess) {
    EXPECT_EQ(exitStatusForGLError(GL_INVALID_ENUM), kGLErrorStatusLowByteZero);
    EXPECT_NE(kGLErrorStatusLowByteZero, 0);
    EXPECT_EQ(exitStatusForGLError(GL_INVALID_VALUE), 1);
    EXPECT_EQ(exitStatusForGLError(GL_INVALID_OPERATION), 2);
    EXPECT_EQ(exitStatusForGLError(GL_STACK_OVERFLOW), 3);
    EXPECT_EQ(exitStatusForGLError(GL_STACK_UNDERFLOW), 4);
    EXPECT_EQ(exitStatusForGLError(GL_OUT_OF_MEMORY), 5);
    EXPECT_EQ(exitStatusForGLError(0x0506), 6);  // invalid framebuffer operation
    EXPECT_EQ(exitStatusForGLError(0x0507), 7);  // context lost
    // Distinct from every other standard code's status.
    for (unsigned code = 0x0501; code <= 0x0507; ++code) {
        EXPECT_NE(exitStatusForGLError(code), exitStatusForGLError(GL_INVALID_ENUM));
    }
}

TEST(GLErrorStatus, HasTextForEveryCode) {
    EXPECT_EQ(glErrorText(GL_INVALID_VALUE), "invalid value");
    EXPECT_EQ(glErrorText(0x1234), "unknown OpenGL error 0x1234");
}

class GLErrorCheck : public testing::Test {
  protected:
    HeadlessGL gl{8, 8};
    ScopedWorkingFolder folder;
};

TEST_F(GLErrorCheck, LogsTwoLinesAndReadsOneCodePerCall) {
    ASSERT_TRUE(gl.ok()) << gl.error();
    EXPECT_FALSE(checkGLError(false));
    EXPECT_FALSE(fileExists("errorlog.txt"));

    glEnable(0x7FFF);  // invalid enumerant
    glTexImage2D(GL_TEXTURE_2D, -1, GL_RGBA, 1, 1, 0, GL_RGB, GL_UNSIGNED_BYTE, nullptr);
    EXPECT_TRUE(checkGLError(false));
    EXPECT_EQ(readLines("errorlog.txt"), (Lines{"OpenGL error:", "invalid enumerant"}));
    // Mesa keeps only the first error until it is read; nothing else is pending now.
    while (glGetError() != GL_NO_ERROR) {
    }
    EXPECT_FALSE(checkGLError(false));
    EXPECT_EQ(readLines("errorlog.txt").size(), 2u);
}

// Death tests run before the others, so the child forks before this process holds any context.
TEST(GLErrorCheckDeathTest, EndsTheProcessWithTheErrorsStatus) {
    ScopedWorkingFolder folder;
    EXPECT_EXIT(
        {
            HeadlessGL gl(8, 8);
            glEnable(0x7FFF);
            checkGLError(true);
        },
        testing::ExitedWithCode(kGLErrorStatusLowByteZero), "");
    EXPECT_EXIT(
        {
            HeadlessGL gl(8, 8);
            glLineWidth(-1.0f);
            checkGLError(true);
        },
        testing::ExitedWithCode(1), "");
    EXPECT_EQ(readLines("errorlog.txt"),
              (Lines{"OpenGL error:", "invalid enumerant", "OpenGL error:", "invalid value"}));
}

}  // namespace
