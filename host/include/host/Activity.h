#pragma once

#include <maya/MTypes.h>

#include <cstdint>
#include <string>

namespace host {

/// The image files the host has read and written since the process started, and
/// the path of the last one.
struct ImageTotals {
    std::uint64_t reads = 0;
    std::uint64_t writes = 0;
    std::string path;
};

/// Told what the host is doing, on the thread doing it, so that a host's front
/// end can show progress while a command runs; the host library itself never
/// prints. Calls must be quick: they come between image files.
class OPENMAYA_EXPORT ActivityObserver {
public:
    virtual ~ActivityObserver();
    /// A command starts (commands a command runs are reported too).
    virtual void commandStarted(const std::string& name) = 0;
    /// An image file was read or written whole (failed reads and writes are
    /// not counted).
    virtual void imageFileDone(const ImageTotals& totals) = 0;
    /// The command that started last has ended, before its result is shown.
    virtual void commandEnded() = 0;
};

/// Makes `observer` the one told of activity (null: none). The caller keeps it
/// alive while it is set. Set it before commands run, from the thread that runs
/// them.
OPENMAYA_EXPORT void observeActivity(ActivityObserver* observer);

/// The image services' count: called by MImage after each whole read or write.
OPENMAYA_EXPORT void noteImageFile(bool written, const char* path);

/// Called by the command registry around each command.
OPENMAYA_EXPORT void noteCommand(const std::string& name, bool started);

/// The totals so far.
OPENMAYA_EXPORT ImageTotals imageTotals();

}  // namespace host
