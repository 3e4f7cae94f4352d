#pragma once
// Progress of long work on standard error, "building the pyramid of NAME: 42 %, about 40 s left":
// in 1 % steps at most once a second, rewritten in place on a terminal, else a line per step so
// that a log stays short; work done within a second says nothing. The window's progress bar shows
// the same words.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ostream>
#include <string>

class ProgressLine {
  public:
    using Clock = std::chrono::steady_clock;
    // The least time between two lines written, and the least time worked, and share done, before
    // a time left is estimated from the rate so far.
    static constexpr std::chrono::milliseconds kLinePeriod{1000};
    static constexpr std::chrono::milliseconds kEstimateAfter{2000};
    static constexpr double kEstimateAfterShare = 0.02;

    ProgressLine(std::ostream& err, bool terminal, std::string prefix,
                 Clock::time_point start = Clock::now())
        : err_(err), terminal_(terminal), prefix_(std::move(prefix)), start_(start) {}
    ~ProgressLine() {
        if (terminal_ && written_ >= 0) {
            err_ << std::endl;  // the line an error message follows
        }
    }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // Takes share (0 to 1) done at now, writing a line when a whole percent more is done and a
    // second has passed since the last line (or the start), or the work is done after a line;
    // true when the percent moved.
    bool show(double share, Clock::time_point now = Clock::now()) {
        if (!std::isfinite(share)) {
            return false;
        }
        const int percent = static_cast<int>(std::floor(std::clamp(share, 0.0, 1.0) * 100.0));
        if (percent <= percent_) {
            return false;
        }
        percent_ = percent;
        if (share >= kEstimateAfterShare && now - start_ >= kEstimateAfter) {
            const double elapsed = std::chrono::duration<double>(now - start_).count();
            secondsLeft_ = elapsed / share * (1.0 - share);
        }
        const bool due = written_ < 0 ? now - start_ >= kLinePeriod
                                      : percent == 100 || now - writtenAt_ >= kLinePeriod;
        if (due) {
            written_ = percent;
            writtenAt_ = now;
            if (terminal_) {
                // The trailing spaces cover a longer time left written before.
                err_ << '\r' << text() << "    " << std::flush;
            } else {
                err_ << text() << std::endl;
            }
        }
        return true;
    }

    // "PREFIX42 %, about 40 s left" as taken last.
    std::string text() const { return prefix_ + std::to_string(percent()) + " %" + left(); }
    // The whole percent done, 0 to 100.
    int percent() const { return percent_ < 0 ? 0 : percent_; }
    // ", about 40 s left", ", about 3 min left", ", less than a second left"; empty until the rate
    // is known.
    std::string left() const {
        if (secondsLeft_ < 0.0 || percent_ >= 100) {
            return "";
        }
        constexpr double kSecondsInMinutes = 90.0;  // from here on counted in minutes
        if (secondsLeft_ < 0.5) {
            return ", less than a second left";
        }
        return secondsLeft_ < kSecondsInMinutes
                   ? ", about " + std::to_string(std::lround(secondsLeft_)) + " s left"
                   : ", about " + std::to_string(std::lround(secondsLeft_ / 60.0)) + " min left";
    }

  private:
    std::ostream& err_;
    bool terminal_;
    std::string prefix_;
    Clock::time_point start_;
    int percent_ = -1;
    int written_ = -1;
    Clock::time_point writtenAt_;
    double secondsLeft_ = -1.0;
};
