#pragma once
// Runs the built groundtool binary in the working folder and collects what it printed, for the
// tests that check the command line as a user meets it.

#include <string>
#include <vector>

struct ToolRun {
    int status = -1;  // exit status, or -1 when the tool did not exit normally
    std::string out;
    std::string err;
};

// Runs the tool in folder ("." is the test's own working folder).
ToolRun runTool(const std::vector<std::string>& arguments, const std::string& folder = ".");

// The names in a folder, sorted, hidden ones included: what a failed command must not add to.
std::vector<std::string> folderContents(const std::string& folder);
