#include "ProgressLine.h"

#include <cstdio>

#include <sys/ioctl.h>
#include <unistd.h>

namespace hostbatch {

namespace {

// A line one column short of the terminal never wraps, so a carriage return
// always gets back to its start.
std::size_t terminalWidth(int descriptor)
{
    winsize size {};
    if (ioctl(descriptor, TIOCGWINSZ, &size) == 0 && size.ws_col > 1)
        return std::size_t { size.ws_col } - 1;
    return 79;
}

void writeAll(int descriptor, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t count = ::write(descriptor, text.data() + done, text.size() - done);
        if (count <= 0)
            return;  // a terminal that takes no more loses only the progress line
        done += std::size_t(count);
    }
}

constexpr std::chrono::milliseconds kRedrawEvery { 100 };
constexpr const char* kEraseLine = "\r\033[K";

}  // namespace

ProgressLine::ProgressLine(int descriptor)
    : descriptor_(descriptor)
{
}

ProgressLine::~ProgressLine()
{
    erase();
}

void ProgressLine::commandStarted(const std::string& name)
{
    // A command run by a command belongs to the outer one's line.
    if (depth_++ != 0)
        return;
    command_ = name;
    atStart_ = host::imageTotals();
    started_ = Clock::now();
}

void ProgressLine::imageFileDone(const host::ImageTotals& totals)
{
    if (depth_ == 0)
        return;
    const Clock::time_point now = Clock::now();
    if (shown_ && now - drawn_ < kRedrawEvery)
        return;
    drawn_ = now;
    shown_ = true;
    const double seconds = std::chrono::duration<double>(now - started_).count();
    writeAll(descriptor_,
        kEraseLine
            + format(command_, totals.reads - atStart_.reads, totals.writes - atStart_.writes, seconds,
                totals.path, terminalWidth(descriptor_)));
}

void ProgressLine::commandEnded()
{
    if (depth_ == 0 || --depth_ != 0)
        return;
    erase();
}

void ProgressLine::erase()
{
    if (!shown_)
        return;
    shown_ = false;
    writeAll(descriptor_, kEraseLine);
}

std::string ProgressLine::format(const std::string& command, std::uint64_t reads, std::uint64_t writes,
    double seconds, const std::string& path, std::size_t width)
{
    const std::size_t slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    char counts[160];
    if (seconds > 0)
        std::snprintf(counts, sizeof counts, ": %llu read, %llu written, %.1f files/s, ",
            (unsigned long long)reads, (unsigned long long)writes, double(reads + writes) / seconds);
    else
        std::snprintf(counts, sizeof counts, ": %llu read, %llu written, ", (unsigned long long)reads,
            (unsigned long long)writes);
    std::string line = command + counts + name;
    // A name's control bytes would move the cursor or end the line.
    for (char& byte : line) {
        if (static_cast<unsigned char>(byte) < 0x20 || byte == 0x7f)
            byte = '?';
    }
    if (line.size() > width)
        line.resize(width);
    return line;
}

}  // namespace hostbatch
