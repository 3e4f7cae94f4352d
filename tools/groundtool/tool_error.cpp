#include "tool_error.h"

#include <cstring>

namespace groundtool {

std::string fileError(const std::string& action, const std::string& path, int errorNumber) {
    return action + " " + path + ": " + std::strerror(errorNumber);
}

}  // namespace groundtool
