#pragma once

#include <host/Activity.h>

#include <chrono>
#include <cstdint>
#include <string>

namespace hostbatch {

/// One live line on a terminal while a command runs: the image files read and
/// written since it started, images read per second and the last file's name,
/// redrawn in place at most ten times a second as files are done, and erased
/// when the command ends, before its transcript is printed. Only commands that
/// read or write images show it.
class ProgressLine : public host::ActivityObserver {
public:
    /// Draws on the terminal behind `descriptor`.
    explicit ProgressLine(int descriptor);
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;
    ~ProgressLine() override;

    void commandStarted(const std::string& name) override;
    void imageFileDone(const host::ImageTotals& totals) override;
    void commandEnded() override;

    /// The line's text for these counts, cut to `width` columns.
    static std::string format(const std::string& command, std::uint64_t reads, std::uint64_t writes,
        double seconds, const std::string& path, std::size_t width);

private:
    void erase();

    using Clock = std::chrono::steady_clock;
    int descriptor_;
    unsigned int depth_ = 0;
    std::string command_;
    host::ImageTotals atStart_;
    Clock::time_point started_;
    Clock::time_point drawn_;
    bool shown_ = false;
};

}  // namespace hostbatch
