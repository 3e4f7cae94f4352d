#include "private_folder.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string& folderToRemove() {
    static std::string folder;
    return folder;
}

void removeFolder() {
    std::error_code ignored;
    fs::remove_all(folderToRemove(), ignored);
}

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// "-flag=value" for the flags whose value is a path; the rest pass unchanged.
std::string absoluteArgument(const std::string& argument, const fs::path& start) {
    if (argument.empty()) {
        return argument;
    }
    if (argument[0] != '-') {
        return (start / argument).lexically_normal().string();
    }
    for (const char* flag : {"-artifact_prefix=", "-exact_artifact_path=", "-dict="}) {
        const std::string prefix = flag;
        if (startsWith(argument, prefix) && argument.size() > prefix.size() &&
            argument[prefix.size()] != '/') {
            // An artifact prefix may end in "/" or be a bare name prefix; keep that ending.
            const std::string value = argument.substr(prefix.size());
            const bool folder = value.back() == '/';
            std::string path = (start / value).lexically_normal().string();
            if (folder && path.back() != '/') {
                path += '/';
            }
            return prefix + path;
        }
    }
    return argument;
}

}  // namespace

void enterPrivateFolder(int* argc, char*** argv, const char* namePrefix) {
    const fs::path start = fs::current_path();
    static std::vector<std::string> arguments;
    static std::vector<char*> pointers;
    bool hasArtifactPrefix = false;
    for (int i = 0; i < *argc; ++i) {
        const std::string argument = (*argv)[i];
        hasArtifactPrefix = hasArtifactPrefix || startsWith(argument, "-artifact_prefix=");
        arguments.push_back(i == 0 ? argument : absoluteArgument(argument, start));
    }
    if (!hasArtifactPrefix) {
        arguments.insert(arguments.begin() + 1, "-artifact_prefix=" + start.string() + "/");
    }
    for (std::string& argument : arguments) {
        pointers.push_back(argument.data());
    }
    pointers.push_back(nullptr);
    *argc = static_cast<int>(arguments.size());
    *argv = pointers.data();

    std::string folder =
        (fs::temp_directory_path() / (std::string(namePrefix) + ".XXXXXX")).string();
    if (mkdtemp(folder.data()) == nullptr || chdir(folder.c_str()) != 0) {
        std::perror("cannot make a private working folder");
        std::abort();
    }
    folderToRemove() = folder;
    std::atexit(removeFolder);
}
