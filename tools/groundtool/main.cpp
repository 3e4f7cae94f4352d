// groundtool: makes, checks and previews terrain files for the groundview viewer, imports
// elevation rasters into them, renders and exports worlds and rasters, and builds the pyramids
// through which the viewer streams large rasters, with the viewer's own loader and drawing code.
// main only dispatches: each command registers its own options beside the code that runs it.

#include <iostream>
#include <string>
#include <vector>

#include "command.h"
#include "jail.h"
#include "open_world.h"
#include "option_values.h"
#include "printable.h"
#include "raster_error.h"
#include "tool_error.h"

int main(int argc, char** argv) {
    using namespace groundtool;
    CLI::App app{
        "groundtool: makes, checks and previews terrain files (\".3dt\") for groundview, "
        "imports elevation rasters into them, renders and exports worlds and rasters, and builds "
        "the pyramids through which the viewer streams large rasters, with the viewer's own "
        "loader and drawing code.",
        "groundtool"};
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("groundtool ") + app::version() + "\n" +
                                          raster::jailDescription());
    const std::vector<Command> commands = {addInfoCommand(app),   addGenerateCommand(app),
                                           addImportCommand(app), addRenderCommand(app),
                                           addExportCommand(app), addPyramidCommand(app),
                                           addCacheCommand(app)};

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) {
            return app.exit(error);  // --help
        }
        // A first word that is no command reads better than "a subcommand is required".
        if (argc > 1 && argv[1][0] != '-' && app.get_subcommands().empty()) {
            std::cerr << "groundtool: unknown command " << printable(argv[1])
                      << "; the commands are info, generate, import, render, export, pyramid "
                         "and cache"
                      << std::endl;
            return kExitUsage;
        }
        std::cerr << "groundtool: " << printable(error.what()) << " (see groundtool --help)"
                  << std::endl;
        return kExitUsage;
    }

    try {
        for (const Command& command : commands) {
            if (*command.cli) {
                return command.run();
            }
        }
    } catch (const ToolError& error) {
        std::cerr << "groundtool: " << printable(error.what()) << std::endl;
        return error.status();
    } catch (const raster::NoRaster& error) {
        std::cerr << "groundtool: " << printable(error.what()) << " (see groundtool --help)"
                  << std::endl;
        return kExitUsage;
    } catch (const WorldsRefused& error) {
        std::cerr << "groundtool: " << printable(error.what()) << " (see groundtool --help)"
                  << std::endl;
        return kExitUsage;
    } catch (const std::exception& error) {
        std::cerr << "groundtool: " << printable(error.what()) << std::endl;
        return kExitFailure;
    }
    return kExitUsage;
}
