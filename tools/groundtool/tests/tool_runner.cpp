#include "tool_runner.h"

#include <algorithm>
#include <filesystem>
#include <optional>

#include "child_process.h"

ToolRun runTool(const std::vector<std::string>& arguments, const std::string& folder,
                std::chrono::seconds limit) {
    ChildOptions options;
    options.executable = GROUNDTOOL_PATH;
    options.arguments = arguments;
    options.workingFolder = folder;
    ChildProcess tool(options);

    ToolRun run;
    std::optional<ExitStatus> status = tool.waitForExit(limit);
    if (!status) {
        tool.kill();
        run.timedOut = true;
    } else if (status->exited) {
        run.status = status->code;
    }
    run.out = tool.standardOutput();
    run.err = tool.standardError();
    return run;
}

std::vector<std::string> folderContents(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}
