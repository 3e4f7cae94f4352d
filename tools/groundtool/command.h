#pragma once
// A groundtool command: its options registered on the command line next to the code that runs
// it, so main only dispatches. run is called after a successful parse and returns the exit
// status; failures throw ToolError (or any std::exception, status 1).

#include <CLI/CLI.hpp>
#include <functional>
#include <memory>

namespace groundtool {

struct Command {
    CLI::App* cli = nullptr;
    std::function<int()> run;
};

}  // namespace groundtool

namespace groundtool {

// Each defined beside the command's run function.
Command addInfoCommand(CLI::App& app);
Command addGenerateCommand(CLI::App& app);
Command addImportCommand(CLI::App& app);
Command addRenderCommand(CLI::App& app);
Command addExportCommand(CLI::App& app);
Command addPyramidCommand(CLI::App& app);
Command addCacheCommand(CLI::App& app);

}  // namespace groundtool
