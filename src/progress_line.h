#pragma once
// Progress of long work on standard error, "building the pyramid of NAME: 42 %": rewritten in
// place on a terminal, else a line every 10 % so that a log stays short.

#include <ostream>
#include <string>

class ProgressLine {
  public:
    ProgressLine(std::ostream& err, bool terminal, std::string prefix)
        : err_(err), terminal_(terminal), prefix_(std::move(prefix)) {}
    ~ProgressLine() {
        if (terminal_ && shown_ >= 0) {
            err_ << std::endl;  // the line an error message follows
        }
    }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // Shows share (0 to 1) done; false when the line is as it was.
    bool show(double share) {
        const int percent = static_cast<int>(share * 100.0);
        const int step = terminal_ ? 1 : 10;
        if (percent / step * step <= shown_) {
            return false;
        }
        shown_ = percent / step * step;
        if (terminal_) {
            err_ << '\r' << prefix_ << shown_ << " %" << std::flush;
        } else {
            err_ << prefix_ << shown_ << " %" << std::endl;
        }
        return true;
    }
    // "PREFIX42 %" as shown last.
    std::string text() const { return prefix_ + std::to_string(shown_ < 0 ? 0 : shown_) + " %"; }

  private:
    std::ostream& err_;
    bool terminal_;
    std::string prefix_;
    int shown_ = -1;
};
