// The command line as a user meets it: the real binary, its exit statuses, its one-line errors,
// and that a failed command leaves the folder as it found it.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <stb/stb_image.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>

#include "file_output.h"
#include "jail.h"
#include "test_files.h"
#include "tool_runner.h"

namespace fs = std::filesystem;

namespace {

// One line on standard error, starting with the tool's name.
void expectOneLineError(const ToolRun& run, const std::string& part) {
    EXPECT_EQ(run.err.rfind("groundtool: ", 0), 0u) << run.err;
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
    EXPECT_NE(run.err.find(part), std::string::npos) << "no \"" << part << "\" in " << run.err;
}

// Where a link points, or "" when path is no link.
std::string linkTarget(const std::string& path) {
    std::error_code error;
    return fs::read_symlink(path, error).string();
}

mode_t typeOf(const std::string& path) {
    struct stat status {};
    return lstat(path.c_str(), &status) == 0 ? status.st_mode & S_IFMT : 0;
}

// A character device with /dev/null's numbers, or false where devices can't be made.
bool makeNullDevice(const std::string& path) {
    struct stat null {};
    return geteuid() == 0 && stat("/dev/null", &null) == 0 &&
           mknod(path.c_str(), S_IFCHR | 0666, null.st_rdev) == 0;
}

// How many different colours a PNG holds: 0 when it can't be read.
std::size_t coloursIn(const std::string& path) {
    int width = 0;
    int height = 0;
    int channels = 0;
    std::unique_ptr<stbi_uc, void (*)(void*)> data(
        stbi_load(path.c_str(), &width, &height, &channels, 3), &stbi_image_free);
    std::set<std::uint32_t> colours;
    for (int i = 0; data && i < width * height; ++i) {
        const stbi_uc* p = data.get() + 3 * i;
        colours.insert(static_cast<std::uint32_t>(p[0] << 16 | p[1] << 8 | p[2]));
    }
    return colours.size();
}

}  // namespace

TEST(Cli, HelpForTheToolAndEveryCommand) {
    TemporaryFolder folder;
    const ToolRun top = runTool({"--help"}, folder.path());
    EXPECT_EQ(top.status, 0);
    for (const char* command : {"info", "generate", "import", "render"}) {
        EXPECT_NE(top.out.find(command), std::string::npos) << command;
    }
    const std::vector<std::pair<std::string, std::string>> commands = {
        {"info", "file"},
        {"generate", "--roughness"},
        {"import", "--size"},
        {"render", "--heading"},
        {"pyramid", "XDG_CACHE_HOME"},
        {"cache", "GROUNDVIEW_CACHE_LIMIT"}};
    for (const auto& [command, option] : commands) {
        const ToolRun run = runTool({command, "--help"}, folder.path());
        EXPECT_EQ(run.status, 0) << command;
        EXPECT_NE(run.out.find(option), std::string::npos) << command << "\n" << run.out;
    }
    EXPECT_TRUE(folderContents(folder.path()).empty());
}

TEST(Cli, BadUsageExitsWithTwoAndWritesNothing) {
    TemporaryFolder folder;
    writeFile(folder.file("ground.3dt"), terrainBytes(2, 2, 1, 1, 1, Bytes{0, 0, 0, 0}));
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, "subcommand is required"},
        {{"bogus"}, "unknown command bogus"},
        {{"generate", "--size", "0"}, "--size"},
        {{"generate", "--size", "200"}, "200"},
        {{"generate", "--size", "12x"}, "12x"},
        {{"generate", "--seed", "-1"}, "--seed"},
        {{"generate", "--seed", "18446744073709551616"}, "too large"},
        {{"generate", "--roughness", "0"}, "--roughness"},
        {{"generate", "--texture-number", "0"}, "names no texture"},
        {{"generate", "--texture-number", "-0"}, "names no texture"},
        {{"generate", "--tile", "128"}, "--tile"},
        {{"import"}, "source is required"},
        {{"import", "x.png", "--size", "1"}, "--size"},
        {{"render", "ground.3dt", "--eye", "abc"}, "--eye"},
        {{"render", "ground.3dt", "--width", "0"}, "--width"},
        {{"render", "ground.3dt", "--heading", "nan"}, "--heading"},
        {{"render", "ground.3dt", "--heading", "0x10"}, "--heading"},
        {{"render", "ground.3dt", "--eye", "0x10,0"}, "--eye"},
        {{"render", "ground.3dt", "--at", "1,2"}, "--at is for elevation rasters"},
        {{"info"}, "file is required"},
        {{"pyramid"}, "source is required"},
        {{"cache", "clean", "a.tif", "b.tif"}, "not expected: b.tif"},
        {{"cache", "empty"}, "not expected: empty"},
        {{"info", "ground.3dt", "ground.3dt"}, "ground.3dt is a terrain file; it is opened alone"},
        {{"render", "a.tif", "ground.3dt"}, "ground.3dt is a terrain file; it is opened alone"},
    };
    for (const auto& [arguments, part] : cases) {
        const ToolRun run = runTool(arguments, folder.path());
        EXPECT_EQ(run.status, 2) << part;
        expectOneLineError(run, part);
        EXPECT_EQ(folderContents(folder.path()), std::vector<std::string>{"ground.3dt"}) << part;
    }
}

TEST(Cli, UnwritableOutputFailsNamingTheFileAndLeavesNothing) {
    TemporaryFolder folder;
    writeFile(folder.file("plain"), Bytes{'x'});  // a regular file where a folder should be
    writeFile(folder.file("heights.pgm"),
              Bytes{'P', '5', '\n', '2', ' ', '2', '\n', '2', '5', '5', '\n', 0, 50, 100, 255});
    fs::create_directory(folder.file("empty"));
    // A missing folder is made; its parent must exist.
    ASSERT_EQ(runTool({"generate", "--out", "world", "--size", "8"}, folder.path()).status, 0);
    const auto before = folderContents(folder.path());
    const auto worldBefore = folderContents(folder.file("world"));

    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"generate", "--out", "plain"}, "cannot write into plain: not a folder"},
        {{"generate", "--out", "missing/deeper"},
         "cannot make the folder missing/deeper: No such file or directory"},
        {{"import", "heights.pgm", "--out", "plain"}, "cannot write into plain: not a folder"},
        {{"import", "absent.png"}, "cannot read absent.png: No such file or directory"},
        // A folder made for the output goes again; one that was there stays.
        {{"import", "absent.png", "--out", "new"}, "cannot read absent.png: No such file"},
        {{"import", "absent.png", "--out", "empty"}, "cannot read absent.png: No such file"},
        {{"export", "absent.3dt", "--out", "new/hill.stl"}, "absent.3dt: No such file"},
        {{"import", "plain", "--out", "."}, "cannot read plain: not a raster GDAL reads"},
        {{"render", "world/ground.3dt", "--out", "missing/deeper/view.png"},
         "cannot make the folder missing/deeper: No such file or directory"},
        {{"render", "absent.3dt", "--out", "new/view.png"}, "cannot read absent.3dt: No such"},
        {{"render", "absent.3dt"}, "cannot read absent.3dt: No such file or directory"},
        {{"generate", "--out", "world"}, "world/ground.3dt already exists; use --force"},
        {{"export", "world/ground.3dt", "--out", std::string(252, 'n') + ".stl"},
         ".stl: File name too long"},
    };
    for (const auto& [arguments, part] : cases) {
        const ToolRun run = runTool(arguments, folder.path());
        EXPECT_EQ(run.status, 1) << part;
        expectOneLineError(run, part);
        EXPECT_EQ(folderContents(folder.path()), before) << part;
        EXPECT_EQ(folderContents(folder.file("world")), worldBefore) << part;
    }
}

TEST(Cli, GenerateWritesBothFilesOrNeither) {
    TemporaryFolder folder;
    // A folder in the texture's place: the terrain can be written, the texture cannot.
    fs::create_directories(folder.file("1.bmp/inside"));
    const ToolRun run = runTool({"generate", "--force"}, folder.path());
    EXPECT_EQ(run.status, 1);
    expectOneLineError(run, "cannot write ./1.bmp: ");
    EXPECT_EQ(folderContents(folder.path()), std::vector<std::string>{"1.bmp"});
}

// A child staging files, into a folder it made or one that was there, and then ended by a signal
// leaves no temporary behind however many it staged, and no folder it made.
TEST(Cli, InterruptedWritesLeaveNoTemporaries) {
    struct Case {
        int signal;
        int status;
        int files;
        bool makesFolder;
    };
    const std::vector<Case> cases = {
        {SIGINT, 130, 1, false},    {SIGTERM, 143, 1, false},  {SIGHUP, 129, 1, false},
        {SIGINT, 130, 2000, false}, {SIGTERM, 143, 300, true}, {SIGINT, 130, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.signal) + ", " + std::to_string(c.files) + " files" +
                     (c.makesFolder ? " in a new folder" : ""));
        struct sigaction before {};
        if (sigaction(c.signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) {
            continue;  // started ignoring it (nohup), the tool goes on ignoring it too
        }
        TemporaryFolder folder;
        const std::string out = c.makesFolder ? folder.file("new") : folder.path();
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const groundtool::OutputFolder made(out);
            groundtool::StagedOutput output(false);
            for (int i = 0; i < c.files; ++i) {
                output.stage(out + "/" + std::to_string(i) + ".obj", Bytes(1000, 7));
            }
            raise(c.signal);
            _exit(0);  // not reached: the handler ends the process
        }
        int wait = 0;
        ASSERT_EQ(waitpid(child, &wait, 0), child);
        EXPECT_TRUE(WIFEXITED(wait) && WEXITSTATUS(wait) == c.status) << wait;
        EXPECT_TRUE(fs::is_directory(folder.path()));
        EXPECT_TRUE(folderContents(folder.path()).empty());
    }
}

// An interruption while a batch is renamed into place waits for the last rename: every file lands.
TEST(Cli, InterruptedCommitLandsTheWholeBatch) {
    constexpr int kFiles = 2000;
    TemporaryFolder folder;
    const int watch = inotify_init1(IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, folder.path().c_str(), IN_MOVED_TO), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        groundtool::StagedOutput output(false);
        for (int i = 0; i < kFiles; ++i) {
            output.stage(folder.file(std::to_string(i)), Bytes(10, 7));
        }
        output.commit();
        for (;;) {
            pause();  // the interruption ends the process
        }
    }
    // The first file renamed into place: the child is in the middle of its batch.
    pollfd renamed{watch, POLLIN, 0};
    const bool seen = poll(&renamed, 1, 30000) == 1;
    kill(child, SIGINT);
    close(watch);
    int wait = 0;
    ASSERT_EQ(waitpid(child, &wait, 0), child);
    ASSERT_TRUE(seen) << "no file renamed into place within 30 s";
    EXPECT_TRUE(WIFEXITED(wait) && WEXITSTATUS(wait) == 130) << wait;
    EXPECT_EQ(folderContents(folder.path()).size(), static_cast<std::size_t>(kFiles));
}

TEST(Cli, CommandsWorkTogether) {
    TemporaryFolder folder;
    const auto run = [&folder](const std::vector<std::string>& arguments) {
        return runTool(arguments, folder.path());
    };
    fs::create_directory(folder.file("world"));
    const ToolRun generated = run({"generate", "--out", "world", "--seed", "3"});
    EXPECT_EQ(generated.status, 0) << generated.err;
    EXPECT_EQ(generated.err, "");

    const ToolRun clean = run({"info", "world/ground.3dt"});
    EXPECT_EQ(clean.status, 0) << clean.out;
    EXPECT_NE(clean.out.find("verdict: clean"), std::string::npos) << clean.out;

    // Output names as long as the file system takes, 255 bytes, are written.
    const std::string longest = std::string(251, 'n') + ".stl";
    EXPECT_EQ(run({"export", "world/ground.3dt", "--out", longest}).status, 0);
    EXPECT_TRUE(fileExists(folder.file(longest)));

    const ToolRun rendered = run({"render", "world/ground.3dt", "--width", "64", "--height", "48",
                                  "--eye", "0,-5", "--heading", "30"});
    EXPECT_EQ(rendered.status, 0) << rendered.err;
    const Bytes png = readFile(folder.file("ground.png"));
    ASSERT_GE(png.size(), 8u);
    EXPECT_EQ(Bytes(png.begin(), png.begin() + 8),
              (Bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}));
    EXPECT_EQ(run({"render", "world/ground.3dt"}).status, 1);  // would replace ground.png
    // A missing --out folder is made, as for every command that writes.
    EXPECT_EQ(run({"render", "world/ground.3dt", "--out", "views/ground.png"}).status, 0);
    EXPECT_TRUE(fileExists(folder.file("views/ground.png")));

    // A terrain imported without a texture names one it does not write: info says so and fails.
    writeFile(folder.file("heights.pgm"),
              Bytes{'P', '5', ' ', '2', ' ', '2', ' ', '2', '5', '5', '\n', 0, 50, 100, 255});
    fs::create_directory(folder.file("bare"));
    const ToolRun imported = run(
        {"import", "heights.pgm", "--out", "bare", "--texture-number", "7", "--texture", "none"});
    EXPECT_EQ(imported.status, 0) << imported.err;
    const ToolRun missing = run({"info", "bare/ground.3dt"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.out.find("texture 7.bmp cannot be opened in bare"), std::string::npos)
        << missing.out;
    EXPECT_FALSE(fileExists(folder.file("errorlog.txt")));
    EXPECT_FALSE(fileExists(folder.file("world/errorlog.txt")));
    EXPECT_FALSE(fileExists(folder.file("bare/errorlog.txt")));
}

// Names that are not plain files: FIFOs nobody writes to, devices, links, a sparse giant. Each
// command answers at once, says why, and leaves them as they were.
TEST(Cli, AnswersAtOnceAboutFilesThatAreNotPlainAndLeavesThemAlone) {
    using Folder = const TemporaryFolder&;
    const Bytes terrain = terrainBytes(4, 4, 1, 2, 2, [](int r, int c) { return r * 40 - c * 30; });
    const std::vector<std::string> small = {"--width", "64", "--height", "48"};
    const auto render = [&small](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "render");
        arguments.insert(arguments.end(), small.begin(), small.end());
        return arguments;
    };
    const auto fifo = [](const std::string& path) {
        ASSERT_EQ(mkfifo(path.c_str(), 0644), 0) << path;
    };
    const auto link = [](const std::string& target, const std::string& path) {
        ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0) << path;
    };
    const std::string notRegular = "it exists and is not a regular file";
    struct Case {
        std::string name;
        std::function<void(Folder)> make;  // after ground.3dt and its texture 1.bmp
        std::vector<std::string> arguments;
        int status;
        std::vector<std::string> said;  // parts of standard output and error
        std::function<void(Folder, const ToolRun&)> check;
        bool needsDevice = false;
    };
    const std::vector<Case> cases = {
        {"info, FIFO as the terrain",
         [&](Folder f) { fifo(f.file("pipe.3dt")); },
         {"info", "pipe.3dt"},
         1,
         {"cannot open pipe.3dt: not a regular file"},
         [](Folder f, const ToolRun&) { EXPECT_EQ(typeOf(f.file("pipe.3dt")), S_IFIFO); }},
        {"render, FIFO as the terrain",
         [&](Folder f) { fifo(f.file("pipe.3dt")); },
         render({"pipe.3dt"}),
         1,
         {"cannot read pipe.3dt: not a regular file"},
         [](Folder f, const ToolRun&) { EXPECT_FALSE(fileExists(f.file("pipe.png"))); }},
        {"info, FIFO as the texture",
         [&](Folder f) {
             fs::remove(f.file("1.bmp"));
             fifo(f.file("1.bmp"));
         },
         {"info", "ground.3dt"},
         1,
         {"texture 1.bmp cannot be opened in .: not a regular file"},
         [](Folder f, const ToolRun&) { EXPECT_EQ(typeOf(f.file("1.bmp")), S_IFIFO); }},
        {"render, FIFO as the texture",
         [&](Folder f) {
             fs::remove(f.file("1.bmp"));
             fifo(f.file("1.bmp"));
         },
         render({"ground.3dt"}),
         0,
         {"no usable texture 1.bmp in . (not a regular file)"},
         [](Folder f, const ToolRun&) { EXPECT_EQ(typeOf(f.file("1.bmp")), S_IFIFO); }},
        {"info, a device as the terrain",
         [](Folder) {},
         {"info", "/dev/zero"},
         1,
         {"cannot open /dev/zero: not a regular file"},
         [](Folder, const ToolRun& run) {
             EXPECT_EQ(run.out.find("Is a directory"), std::string::npos) << run.out;
         }},
        {"info, a terrain made sparse to 1 TiB",
         [&terrain](Folder f) {
             writeFile(f.file("big.3dt"), terrain);
             ASSERT_EQ(truncate(f.file("big.3dt").c_str(), std::int64_t{1} << 40), 0);
         },
         {"info", "big.3dt"},
         0,
         {"big.3dt (1099511627776 bytes)",
          std::to_string((std::int64_t{1} << 40) - static_cast<std::int64_t>(terrain.size())) +
              " bytes follow the heights"},
         [](Folder, const ToolRun&) {}},
        {"render --force onto a FIFO",
         [&](Folder f) { fifo(f.file("view.png")); },
         render({"ground.3dt", "--out", "view.png", "--force"}),
         1,
         {"cannot write view.png: " + notRegular},
         [](Folder f, const ToolRun&) { EXPECT_EQ(typeOf(f.file("view.png")), S_IFIFO); }},
        {"render --force onto a link",
         [&](Folder f) {
             writeFile(f.file("kept.png"), Bytes{'k', 'e', 'e', 'p'});
             link("kept.png", f.file("view.png"));
         },
         render({"ground.3dt", "--out", "view.png", "--force"}),
         1,
         {"cannot write view.png: " + notRegular},
         [](Folder f, const ToolRun&) {
             EXPECT_EQ(linkTarget(f.file("view.png")), "kept.png");
             EXPECT_EQ(readFile(f.file("kept.png")), (Bytes{'k', 'e', 'e', 'p'}));
         }},
        {"render --force onto a device",
         [](Folder f) { ASSERT_TRUE(makeNullDevice(f.file("view.png"))); },
         render({"ground.3dt", "--out", "view.png", "--force"}),
         1,
         {"cannot write view.png: " + notRegular},
         [](Folder f, const ToolRun&) { EXPECT_EQ(typeOf(f.file("view.png")), S_IFCHR); },
         true},
        {"generate --force onto a FIFO",
         [&](Folder f) {
             fs::create_directory(f.file("world"));
             fifo(f.file("world/ground.3dt"));
         },
         {"generate", "--out", "world", "--force"},
         1,
         {"cannot write world/ground.3dt: " + notRegular},
         [](Folder f, const ToolRun&) {
             EXPECT_EQ(folderContents(f.file("world")), std::vector<std::string>{"ground.3dt"});
             EXPECT_EQ(typeOf(f.file("world/ground.3dt")), S_IFIFO);
         }},
        {"generate --force onto a link",
         [&](Folder f) {
             fs::create_directory(f.file("world"));
             link("../ground.3dt", f.file("world/ground.3dt"));
         },
         {"generate", "--out", "world", "--force"},
         1,
         {"cannot write world/ground.3dt: " + notRegular},
         [&terrain](Folder f, const ToolRun&) {
             EXPECT_EQ(linkTarget(f.file("world/ground.3dt")), "../ground.3dt");
             EXPECT_EQ(readFile(f.file("ground.3dt")), terrain);
         }},
        {"generate --force onto a device",
         [](Folder f) {
             fs::create_directory(f.file("world"));
             ASSERT_TRUE(makeNullDevice(f.file("world/1.bmp")));
         },
         {"generate", "--out", "world", "--force"},
         1,
         {"cannot write world/1.bmp: " + notRegular},
         [](Folder f, const ToolRun&) {
             EXPECT_EQ(folderContents(f.file("world")), std::vector<std::string>{"1.bmp"});
             EXPECT_EQ(typeOf(f.file("world/1.bmp")), S_IFCHR);
         },
         true},
        {"generate --force with a folder as the texture",
         [](Folder f) {
             fs::remove(f.file("1.bmp"));
             fs::create_directories(f.file("1.bmp/inside"));
         },
         {"generate", "--force"},
         1,
         {"cannot write ./1.bmp: "},
         [&terrain](Folder f, const ToolRun&) {
             EXPECT_EQ(readFile(f.file("ground.3dt")), terrain);
         }},
        {"render, a heading of 1e308 degrees",
         [](Folder f) {  // ground all round the eye, whichever way it turns
             writeFile(f.file("ground.3dt"), terrainBytes(64, 64, 1, 4, 4, [](int r, int c) {
                           return (r * 7 + c * 5) % 64;
                       }));
         },
         render({"ground.3dt", "--heading", "1e308"}),
         0,
         {"wrote ground.png"},
         [](Folder f, const ToolRun&) { EXPECT_GT(coloursIn(f.file("ground.png")), 1u); }},
    };

    TemporaryFolder probe;
    const bool devices = makeNullDevice(probe.file("null"));
    for (const Case& c : cases) {
        if (c.needsDevice && !devices) {
            continue;  // only root, outside a restricted container, can make device nodes
        }
        SCOPED_TRACE(c.name);
        TemporaryFolder folder;
        writeFile(folder.file("ground.3dt"), terrain);
        writeFile(folder.file("1.bmp"), solidBitmapBytes(8, 8, {90, 120, 60}));
        c.make(folder);
        // A guard against a write that blocks on a FIFO or a device, not a measure of speed.
        const ToolRun run = runTool(c.arguments, folder.path(), std::chrono::seconds(60));
        EXPECT_FALSE(run.timedOut) << "still running after 60 s";
        EXPECT_EQ(run.status, c.status) << run.out << run.err;
        for (const std::string& part : c.said) {
            EXPECT_NE((run.out + run.err).find(part), std::string::npos)
                << "no \"" << part << "\" in\n"
                << run.out << run.err;
        }
        c.check(folder, run);
    }
}

namespace {

// A TCP listener on 127.0.0.1 that nothing should reach: connected() says whether anything did
// since the last call.
class Listener {
  public:
    Listener() {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof(address);
        EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&address), size), 0);
        EXPECT_EQ(listen(fd_, 16), 0);
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
    }
    ~Listener() { close(fd_); }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }
    bool connected() {
        bool any = false;
        for (int client; (client = accept(fd_, nullptr, nullptr)) >= 0;) {
            close(client);
            any = true;
        }
        return any;
    }

  private:
    int fd_ = -1;
    int port_ = 0;
};

}  // namespace

// What a raster's coordinate system or the environment says can neither widen what is read nor
// reach the network: PROJ grids outside PROJ's data folder are refused, PROJ's networking stays
// off, and GDAL's and PROJ's data folders stay the system's, each setting ignored named once.
TEST(Cli, TheEnvironmentAndACoordinateSystemWidenNothingAndReachNoServer) {
    using Folder = const TemporaryFolder&;
    Listener listener;
    const std::string outside =
        "its coordinate system names a coordinate grid outside PROJ's "
        "data folder: ";
    const auto nad27 = [](Folder f) {  // a grid from the network would shift it to WGS 84
        writeRaster(f.file("dem.tif"),
                    {"GTiff", 64, 64, GDT_Float32, {500000, 100, 0, 4500000, 0, -100}, 26717, 0},
                    [](int x, int y) { return 100.0 + x + y; });
    };
    const auto vrtInCrs = [nad27](Folder f, const std::string& crs) {
        nad27(f);
        const std::string vrt =
            "<VRTDataset rasterXSize=\"64\" rasterYSize=\"64\"><SRS>" + crs +
            "</SRS><GeoTransform>7, 0.01, 0, 46, 0, -0.01</GeoTransform><VRTRasterBand "
            "dataType=\"Float32\"><SimpleSource><SourceFilename relativeToVRT=\"1\">dem.tif"
            "</SourceFilename></SimpleSource></VRTRasterBand></VRTDataset>";
        writeFile(f.file("dem.vrt"), Bytes(vrt.begin(), vrt.end()));
    };
    const std::vector<std::string> cut = {
        "export", "dem.tif", "--area-latlon", "40.6,-81.01,40.65,-80.99", "--out", "cut.tif"};
    const std::vector<std::string> cutVrt = {
        "export", "dem.vrt", "--area-latlon", "45.8,7.1,45.9,7.2", "--out", "cut.tif"};
    struct Case {
        std::string name;
        std::function<void(Folder, Folder)> make;  // the source's folder, and another
        std::function<std::vector<std::string>(Folder)> environment;
        std::vector<std::string> arguments;
        int status;
        std::vector<std::string> said;  // parts of standard output and error
    };
    const std::vector<Case> cases = {
        {"PROJ_NETWORK=ON",
         [&](Folder f, Folder) { nad27(f); },
         [&](Folder) {
             return std::vector<std::string>{"PROJ_NETWORK=ON",
                                             "PROJ_NETWORK_ENDPOINT=" + listener.url()};
         },
         cut,
         0,
         {"wrote cut.tif", "warning: ignored PROJ_NETWORK=ON: "}},
        {"PROJ_DATA and PROJ_LIB holding a proj.ini that turns the network on",
         [&](Folder f, Folder elsewhere) {
             nad27(f);
             const std::string ini = "network = on\ncdn_endpoint = " + listener.url() + "\n";
             writeFile(elsewhere.file("proj.ini"), Bytes(ini.begin(), ini.end()));
         },
         [](Folder elsewhere) {
             return std::vector<std::string>{"PROJ_DATA=" + elsewhere.path(),
                                             "PROJ_LIB=" + elsewhere.path()};
         },
         cut,
         0,
         {"wrote cut.tif", "PROJ_DATA=/", "PROJ_LIB=/"}},
        {"GDAL_DATA=/ with a header linked outside",
         [](Folder f, Folder elsewhere) {
             writeRaster(elsewhere.file("heights.bil"), {"EHdr", 8, 8, GDT_Int16, {}, 0, 0},
                         [](int, int) { return 4242.0; });
             writeRaster(f.file("heights.bil"), {"EHdr", 8, 8, GDT_Int16, {}, 0, 0},
                         [](int, int) { return 100.0; });
             fs::remove(f.file("heights.hdr"));
             fs::create_symlink(elsewhere.file("heights.hdr"), f.file("heights.hdr"));
         },
         [](Folder) { return std::vector<std::string>{"GDAL_DATA=/"}; },
         {"info", "heights.bil"},
         1,
         {"warning: ignored GDAL_DATA=/: ", "not a raster GDAL reads here"}},
        {"a gdalrc setting GDAL_DATA",
         [&](Folder f, Folder elsewhere) {
             nad27(f);
             const std::string rc = "[configoptions]\nGDAL_DATA=/\n";
             writeFile(elsewhere.file("gdalrc"), Bytes(rc.begin(), rc.end()));
         },
         [](Folder elsewhere) {
             return std::vector<std::string>{"GDAL_CONFIG_FILE=" + elsewhere.file("gdalrc")};
         },
         {"info", "dem.tif"},
         0,
         {"warning: ignored GDAL_DATA=/: "}},
        {"a VRT's coordinate system naming a grid outside",
         [&](Folder f, Folder elsewhere) {
             writeRaster(elsewhere.file("shift.gsb"), {"GTiff", 8, 8, GDT_Float32, {}, 0, 0},
                         [](int, int) { return 4242.0; });
             vrtInCrs(f, "+proj=longlat +datum=WGS84 +nadgrids=" + elsewhere.file("shift.gsb"));
         },
         [](Folder) { return std::vector<std::string>{}; },
         cutVrt,
         1,
         {outside + "/"}},
        {"a VRT's coordinate system naming a grid by URL, the network on",
         [&](Folder f, Folder) {
             vrtInCrs(f, "+proj=longlat +datum=WGS84 +nadgrids=" + listener.url() + "/g.tif");
         },
         [](Folder) { return std::vector<std::string>{"PROJ_NETWORK=ON"}; },
         {"render", "dem.vrt", "--width", "64", "--height", "48", "--at-latlon", "45.9,7.15"},
         1,
         {outside + "http://127.0.0.1:"}},
        // GDAL would start a thread for each, and the reader's memory limit fail them all.
        {"GDAL_NUM_THREADS=100000 on a source read averaged down",
         [](Folder f, Folder) {
             writeRaster(
                 f.file("wide.tif"),
                 {"GTiff", 4200, 300, GDT_Float32, {500000, 30, 0, 5100000, 0, -30}, 32632, 0},
                 [](int x, int y) { return 100.0 + 0.1 * x + 0.1 * y; });
         },
         [](Folder) { return std::vector<std::string>{"GDAL_NUM_THREADS=100000"}; },
         {"info", "wide.tif"},
         0,
         {"samples     4200 x 300, streamed at full resolution",
          "verdict: the viewer walks over it"}},
        // Checking and joining hundreds of tiles takes longer than the watch: progress keeps it.
        {"a folder of 600 tiles under a watch of a second",
         [](Folder f, Folder) {
             fs::create_directory(f.file("tiles"));
             for (int i = 0; i < 600; ++i) {
                 const double east = 500000 + 60.0 * (i % 30);
                 const double north = 5100000 - 60.0 * (i / 30);
                 writeRaster(f.file("tiles/t" + std::to_string(1000 + i) + ".tif"),
                             {"GTiff", 2, 2, GDT_Int16, {east, 30, 0, north, 0, -30}, 32632, 0},
                             [i](int, int) { return 100.0 + i; });
             }
         },
         [](Folder) { return std::vector<std::string>{"GROUNDVIEW_STALL_SECONDS=1"}; },
         {"info", "tiles"},
         0,
         {"VRT mosaic of 600 GTiff, Int16", "samples     60 x 40, every cell of the source"}},
        {"GROUNDVIEW_LANDLOCK_ABI=0",
         [&](Folder f, Folder) { nad27(f); },
         [](Folder) { return std::vector<std::string>{"GROUNDVIEW_LANDLOCK_ABI=0"}; },
         {"info", "dem.tif"},
         0,
         {raster::landlockAbi() > 0 ? "warning: GROUNDVIEW_LANDLOCK_ABI=0 turns this kernel's "
                                      "Landlock off"
                                    : "warning: this kernel has no Landlock"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (raster::landlockAbi() == 0 && c.status == 1 && c.arguments[0] == "info") {
            continue;  // without Landlock only the open policy keeps the reader in its folder
        }
        TemporaryFolder folder;
        TemporaryFolder elsewhere;
        c.make(folder, elsewhere);
        const auto elsewhereBefore = folderContents(elsewhere.path());
        const ToolRun run =
            runTool(c.arguments, folder.path(), std::chrono::seconds(30), c.environment(elsewhere));
        EXPECT_FALSE(run.timedOut) << "still running after 30 s";
        EXPECT_EQ(run.status, c.status) << run.out << run.err;
        for (const std::string& part : c.said) {
            EXPECT_NE((run.out + run.err).find(part), std::string::npos)
                << "no \"" << part << "\" in\n"
                << run.out << run.err;
        }
        EXPECT_EQ((run.out + run.err).find("4242"), std::string::npos) << run.out << run.err;
        EXPECT_FALSE(listener.connected());
        EXPECT_EQ(folderContents(elsewhere.path()), elsewhereBefore);
    }
}
