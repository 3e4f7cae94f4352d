// The command line as a user meets it: the real binary, its exit statuses, its one-line errors,
// and that a failed command leaves the folder as it found it.

#include <gtest/gtest.h>

#include <filesystem>

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

}  // namespace

TEST(Cli, HelpForTheToolAndEveryCommand) {
    ScopedWorkingFolder folder;
    const ToolRun top = runTool({"--help"});
    EXPECT_EQ(top.status, 0);
    for (const char* command : {"info", "generate", "import", "render"}) {
        EXPECT_NE(top.out.find(command), std::string::npos) << command;
    }
    const std::vector<std::pair<std::string, std::string>> commands = {{"info", "file"},
                                                                       {"generate", "--roughness"},
                                                                       {"import", "--size"},
                                                                       {"render", "--heading"}};
    for (const auto& [command, option] : commands) {
        const ToolRun run = runTool({command, "--help"});
        EXPECT_EQ(run.status, 0) << command;
        EXPECT_NE(run.out.find(option), std::string::npos) << command << "\n" << run.out;
    }
    EXPECT_TRUE(folderContents(".").empty());
}

TEST(Cli, BadUsageExitsWithTwoAndWritesNothing) {
    ScopedWorkingFolder folder;
    writeFile("ground.3dt", terrainBytes(2, 2, 1, 1, 1, Bytes{0, 0, 0, 0}));
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
        {{"import"}, "image is required"},
        {{"import", "x.png", "--size", "1"}, "--size"},
        {{"render", "ground.3dt", "--eye", "abc"}, "--eye"},
        {{"render", "ground.3dt", "--width", "0"}, "--width"},
        {{"render", "ground.3dt", "--heading", "nan"}, "--heading"},
        {{"render", "ground.3dt", "--heading", "0x10"}, "--heading"},
        {{"render", "ground.3dt", "--eye", "0x10,0"}, "--eye"},
        {{"info"}, "file is required"},
        {{"info", "a", "b"}, "b"},
    };
    for (const auto& [arguments, part] : cases) {
        const ToolRun run = runTool(arguments);
        EXPECT_EQ(run.status, 2) << part;
        expectOneLineError(run, part);
        EXPECT_EQ(folderContents("."), std::vector<std::string>{"ground.3dt"}) << part;
    }
}

TEST(Cli, UnwritableOutputFailsNamingTheFileAndLeavesNothing) {
    ScopedWorkingFolder folder;
    writeFile("plain", Bytes{'x'});  // a regular file where a folder should be
    writeFile("heights.pgm",
              Bytes{'P', '5', '\n', '2', ' ', '2', '\n', '2', '5', '5', '\n', 0, 50, 100, 255});
    ASSERT_EQ(runTool({"generate", "--out", "world"}).status, 1);  // no such folder yet
    fs::create_directory("world");
    ASSERT_EQ(runTool({"generate", "--out", "world", "--size", "8"}).status, 0);
    const auto before = folderContents(".");
    const auto worldBefore = folderContents("world");

    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"generate", "--out", "plain"}, "cannot write plain/ground.3dt: Not a directory"},
        {{"generate", "--out", "missing"},
         "cannot write missing/ground.3dt: No such file or directory"},
        {{"import", "heights.pgm", "--out", "plain/ground.3dt"},
         "cannot write plain/ground.3dt: Not a directory"},
        {{"import", "absent.png"}, "cannot read absent.png: No such file or directory"},
        {{"import", "plain", "--out", "new.3dt"}, "cannot read plain: not an image"},
        {{"render", "world/ground.3dt", "--out", "missing/view.png"},
         "cannot write missing/view.png: No such file or directory"},
        {{"render", "absent.3dt"}, "cannot read absent.3dt: No such file or directory"},
        {{"generate", "--out", "world"}, "world/ground.3dt already exists; use --force"},
    };
    for (const auto& [arguments, part] : cases) {
        const ToolRun run = runTool(arguments);
        EXPECT_EQ(run.status, 1) << part;
        expectOneLineError(run, part);
        EXPECT_EQ(folderContents("."), before) << part;
        EXPECT_EQ(folderContents("world"), worldBefore) << part;
    }
}

TEST(Cli, GenerateWritesBothFilesOrNeither) {
    ScopedWorkingFolder folder;
    // A folder in the texture's place: the terrain can be written, the texture cannot.
    fs::create_directories("1.bmp/inside");
    const ToolRun run = runTool({"generate", "--force"});
    EXPECT_EQ(run.status, 1);
    expectOneLineError(run, "cannot write ./1.bmp: ");
    EXPECT_EQ(folderContents("."), std::vector<std::string>{"1.bmp"});
}

TEST(Cli, CommandsWorkTogether) {
    ScopedWorkingFolder folder;
    fs::create_directory("world");
    const ToolRun generated = runTool({"generate", "--out", "world", "--seed", "3"});
    EXPECT_EQ(generated.status, 0) << generated.err;
    EXPECT_EQ(generated.err, "");

    const ToolRun clean = runTool({"info", "world/ground.3dt"});
    EXPECT_EQ(clean.status, 0) << clean.out;
    EXPECT_NE(clean.out.find("verdict: clean"), std::string::npos) << clean.out;

    const ToolRun rendered = runTool({"render", "world/ground.3dt", "--width", "64", "--height",
                                      "48", "--eye", "0,-5", "--heading", "30"});
    EXPECT_EQ(rendered.status, 0) << rendered.err;
    const Bytes png = readFile("ground.png");
    ASSERT_GE(png.size(), 8u);
    EXPECT_EQ(Bytes(png.begin(), png.begin() + 8),
              (Bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}));
    EXPECT_EQ(runTool({"render", "world/ground.3dt"}).status, 1);  // would replace ground.png

    // An imported terrain names a texture it does not write: info says so and fails.
    writeFile("heights.pgm",
              Bytes{'P', '5', ' ', '2', ' ', '2', ' ', '2', '5', '5', '\n', 0, 50, 100, 255});
    const ToolRun imported =
        runTool({"import", "heights.pgm", "--out", "world/other.3dt", "--texture-number", "7"});
    EXPECT_EQ(imported.status, 0) << imported.err;
    const ToolRun missing = runTool({"info", "world/other.3dt"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.out.find("texture 7.bmp cannot be opened in world"), std::string::npos)
        << missing.out;
    EXPECT_FALSE(fileExists("errorlog.txt"));
    EXPECT_FALSE(fileExists("world/errorlog.txt"));
}
