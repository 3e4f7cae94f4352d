// The error log's file behaviour and the OpenGL error check.

#include "diag.h"

#include <GL/gl.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>
#include <vector>

#include "headless_gl.h"
#include "test_files.h"

namespace {

using Lines = std::vector<std::string>;

// Runs action in a child process and says whether it ended within the limit; a child that has not
// is killed, so a log that blocks fails the test instead of hanging it. The limit guards against
// a hang only: a loaded machine may take seconds to start and end a child.
bool endsInChildWithin(const std::function<void()>& action, std::chrono::milliseconds limit) {
    const pid_t child = fork();
    if (child == 0) {
        action();
        std::_Exit(0);
    }
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        if (waitpid(child, &status, WNOHANG) == child) {
            return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    return false;
}

mode_t typeOf(const std::string& path) {
    struct stat status {};
    return lstat(path.c_str(), &status) == 0 ? status.st_mode & S_IFMT : 0;
}

TEST(ErrorLog, CreatesThenAppendsOneLinePerEntry) {
    TemporaryFolder folder;
    ScopedErrorLog log(folder.path());
    const std::string path = folder.file("errorlog.txt");
    EXPECT_FALSE(fileExists(path));
    logError("Unable to find file|ground.3dt");
    EXPECT_EQ(readLines(path), Lines{"Unable to find file|ground.3dt"});

    logError("unknown type; 1 (terrain) expected|2");
    logError("unknown type; 1 (terrain) expected|-2");
    logError("not a 3d thing");
    logError("invalid value");
    const Lines expected = {
        "Unable to find file|ground.3dt", "unknown type; 1 (terrain) expected|2",
        "unknown type; 1 (terrain) expected|-2", "not a 3d thing", "invalid value"};
    EXPECT_EQ(readLines(path), expected);
    // Each entry is a complete line, flushed before the call returns.
    EXPECT_EQ(readFile(path).back(), '\n');
}

TEST(ErrorLog, LosesEntriesSilentlyWhenItCannotWrite) {
    TemporaryFolder folder;
    ScopedErrorLog log(folder.path());
    // A folder in the log's place can't be opened for writing, even by root.
    ASSERT_EQ(mkdir(folder.file("errorlog.txt").c_str(), 0755), 0);
    logError("not a 3d thing");
    logError("Unable to find file|ground.3dt");
    EXPECT_TRUE(readLines(folder.file("errorlog.txt")).empty());
}

TEST(ErrorLog, GoesToTheFolderLastSet) {
    TemporaryFolder first;
    TemporaryFolder second;
    ScopedErrorLog log(first.path());
    logError("unknown type; 1 (terrain) expected|7");
    setErrorLogFolder(second.path());
    logError("not a 3d thing");
    EXPECT_EQ(readLines(first.file("errorlog.txt")), Lines{"unknown type; 1 (terrain) expected|7"});
    EXPECT_EQ(readLines(second.file("errorlog.txt")), Lines{"not a 3d thing"});
}

// A downloaded world may hold anything under the log's name; only a regular file is written.
TEST(ErrorLog, WritesOnlyARegularFileReachedWithoutALink) {
    const struct {
        const char* name;
        std::function<void(const TemporaryFolder&)> make;  // what stands at errorlog.txt
        mode_t type;                                       // what must stand there afterwards
        Lines logged;        // what errorlog.txt then reads as, through a link if it is one
        const char* absent;  // a name that must still not exist, or nullptr
    } cases[] = {
        {"regular file from earlier runs",
         [](const TemporaryFolder& f) {
             writeFile(f.file("errorlog.txt"), Bytes{'o', 'l', 'd', '\n'});
         },
         S_IFREG,
         {"old", "not a 3d thing"},
         nullptr},
        {"link to another file",
         [](const TemporaryFolder& f) {
             writeFile(f.file("other.txt"), Bytes{'k', 'e', 'e', 'p', '\n'});
             ASSERT_EQ(symlink(f.file("other.txt").c_str(), f.file("errorlog.txt").c_str()), 0);
         },
         S_IFLNK,
         {"keep"},
         nullptr},
        {"dangling link",
         [](const TemporaryFolder& f) {
             ASSERT_EQ(symlink(f.file("planted.txt").c_str(), f.file("errorlog.txt").c_str()), 0);
         },
         S_IFLNK,
         {},
         "planted.txt"},
        {"FIFO without a reader",
         [](const TemporaryFolder& f) {
             ASSERT_EQ(mkfifo(f.file("errorlog.txt").c_str(), 0644), 0);
         },
         S_IFIFO,
         {},
         nullptr},
        {"folder",
         [](const TemporaryFolder& f) {
             ASSERT_EQ(mkdir(f.file("errorlog.txt").c_str(), 0755), 0);
         },
         S_IFDIR,
         {},
         nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TemporaryFolder folder;
        ScopedErrorLog log(folder.path());
        c.make(folder);
        EXPECT_TRUE(
            endsInChildWithin([] { logError("not a 3d thing"); }, std::chrono::seconds(30)));
        EXPECT_EQ(typeOf(folder.file("errorlog.txt")), c.type);
        if (c.type != S_IFIFO) {  // reading a FIFO would wait for a writer
            EXPECT_EQ(readLines(folder.file("errorlog.txt")), c.logged);
        }
        if (c.absent != nullptr) {
            EXPECT_EQ(typeOf(folder.file(c.absent)), 0u);
        }
    }
}

// The child's own descriptors are closed and checked, so the test process keeps its own.
TEST(StandardDescriptorsDeathTest, ClosedOnesAreReopenedOnTheNullDevice) {
    EXPECT_EXIT(
        {
            struct stat null {};
            struct stat output {};
            if (stat("/dev/null", &null) != 0 || fstat(1, &output) != 0) {
                std::_Exit(10);
            }
            close(0);
            close(2);
            openMissingStandardDescriptors();
            for (const int descriptor : {0, 2}) {
                struct stat status {};
                if (fstat(descriptor, &status) != 0 || status.st_rdev != null.st_rdev ||
                    !S_ISCHR(status.st_mode)) {
                    std::_Exit(11 + descriptor);
                }
            }
            if ((fcntl(0, F_GETFL) & O_ACCMODE) != O_RDONLY ||
                (fcntl(2, F_GETFL) & O_ACCMODE) != O_WRONLY) {
                std::_Exit(14);
            }
            struct stat after {};
            if (fstat(1, &after) != 0 || after.st_ino != output.st_ino ||
                after.st_dev != output.st_dev) {
                std::_Exit(15);  // an open descriptor must be left alone
            }
            std::_Exit(0);
        },
        testing::ExitedWithCode(0), "");
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
    Lines log() const { return readLines(folder.file("errorlog.txt")); }

    HeadlessGL gl{8, 8};
    TemporaryFolder folder;
    ScopedErrorLog errorLog{folder.path()};
};

TEST_F(GLErrorCheck, LogsTwoLinesAndReadsOneCodePerCall) {
    ASSERT_TRUE(gl.ok()) << gl.error();
    EXPECT_FALSE(checkGLError(false));
    EXPECT_FALSE(fileExists(folder.file("errorlog.txt")));

    glEnable(0x7FFF);  // invalid enumerant
    glTexImage2D(GL_TEXTURE_2D, -1, GL_RGBA, 1, 1, 0, GL_RGB, GL_UNSIGNED_BYTE, nullptr);
    EXPECT_TRUE(checkGLError(false));
    EXPECT_EQ(log(), (Lines{"OpenGL error:", "invalid enumerant"}));
    // Mesa keeps only the first error until it is read; nothing else is pending now.
    while (glGetError() != GL_NO_ERROR) {
    }
    EXPECT_FALSE(checkGLError(false));
    EXPECT_EQ(log().size(), 2u);
}

TEST(StateLogFolder, FollowsXdgStateHomeThenHome) {
    const struct {
        const char* stateHome;
        const char* home;
        std::string folder;
    } cases[] = {
        {"/state", "/home/u", "/state/groundview"},
        {"/state/", nullptr, "/state/groundview"},
        {nullptr, "/home/u", "/home/u/.local/state/groundview"},
        {"", "/home/u", "/home/u/.local/state/groundview"},
        {"relative", "/home/u", "/home/u/.local/state/groundview"},
        {nullptr, nullptr, ""},
        {nullptr, "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(stateLogFolder(c.stateHome, c.home), c.folder)
            << (c.stateHome ? c.stateHome : "unset") << ", " << (c.home ? c.home : "unset");
    }
}

// In elevation mode an OpenGL error is said on standard error and logged in a private folder
// made for it; where that folder can't be made, standard error alone has it.
TEST_F(GLErrorCheck, StateLogAlsoSaysItOnStandardError) {
    ASSERT_TRUE(gl.ok()) << gl.error();
    writeFile(folder.file("plain"), Bytes{'x'});
    for (const std::string& state : {folder.file("state/groundview"), folder.file("plain/x")}) {
        SCOPED_TRACE(state);
        setStateErrorLog(state);
        glEnable(0x7FFF);
        testing::internal::CaptureStderr();
        EXPECT_TRUE(checkGLError(false));
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "groundview: OpenGL error: invalid enumerant\n");
    }
    EXPECT_EQ(readLines(folder.file("state/groundview/errorlog.txt")),
              (Lines{"OpenGL error:", "invalid enumerant"}));
    struct stat status {};
    ASSERT_EQ(stat(folder.file("state").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);
    EXPECT_FALSE(fileExists(folder.file("errorlog.txt")));
}

// Death tests run before the others, so the child forks before this process holds any context.
TEST(GLErrorCheckDeathTest, EndsTheProcessWithTheErrorsStatus) {
    TemporaryFolder folder;
    ScopedErrorLog log(folder.path());
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
    EXPECT_EQ(readLines(folder.file("errorlog.txt")),
              (Lines{"OpenGL error:", "invalid enumerant", "OpenGL error:", "invalid value"}));
}

}  // namespace
