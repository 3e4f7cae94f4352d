#include "tool_error.h"

#include <cstring>

namespace groundtool {

std::string fileError(const std::string& action, const std::string& path, int errorNumber) {
    return fileError(action, path, std::string(std::strerror(errorNumber)));
}

std::string fileError(const std::string& action, const std::string& path,
                      const std::string& reason) {
    return action + " " + path + ": " + reason;
}

}  // namespace groundtool
