#pragma once
// How a groundtool command gives up: one line for the user, already naming the file and the
// problem, and the exit status it ends with.

#include <stdexcept>
#include <string>

namespace groundtool {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;  // for info: the viewer would complain
constexpr int kExitUsage = 2;
constexpr int kExitCannotCheck = 3;  // info only: no OpenGL context to check with

class ToolError : public std::runtime_error {
  public:
    explicit ToolError(const std::string& message, int status = kExitFailure)
        : std::runtime_error(message), status_(status) {}
    int status() const { return status_; }

  private:
    int status_;
};

// The message for a failed system call on a file: "cannot write out/1.bmp: No such file or
// directory".
std::string fileError(const std::string& action, const std::string& path, int errorNumber);
// The same with the reason already in words: "cannot open in.3dt: not a regular file".
std::string fileError(const std::string& action, const std::string& path,
                      const std::string& reason);

}  // namespace groundtool
