#pragma once

#include <maya/MTypes.h>

#include <functional>

namespace host {

/// While an object of this class lives, every image write (MImage::writeToFile)
/// fails the way a failed encode does: it encodes into its temporary file, cuts
/// that file to half its length, then removes it and returns kFailure, leaving any
/// earlier file at the target path as it was. Process-wide, so that tests can
/// reach the write failure paths; objects may nest.
class OPENMAYA_EXPORT ImageWriteFailure {
public:
    ImageWriteFailure();
    ImageWriteFailure(const ImageWriteFailure&) = delete;
    ImageWriteFailure& operator=(const ImageWriteFailure&) = delete;
    ~ImageWriteFailure();
};

/// While an object of this class lives, every image write calls `pause` once its
/// temporary file holds the whole encoded image and before that file is put in
/// place, so that a test can act at that moment (swap names in the folder, send
/// a signal). With `namedTemporary` the write uses a named temporary file, as on
/// file systems without unnamed ones. Process-wide; one object at a time.
class OPENMAYA_EXPORT ImageWritePause {
public:
    ImageWritePause(std::function<void()> pause, bool namedTemporary);
    ImageWritePause(const ImageWritePause&) = delete;
    ImageWritePause& operator=(const ImageWritePause&) = delete;
    ~ImageWritePause();
};

/// The decoding processes the host's decoding service has started for this
/// process so far, and the one serving reads now (0 for none): for tests of when
/// one is kept and when replaced.
struct DecodingProcesses {
    int started = 0;
    int current = 0;
};
OPENMAYA_EXPORT DecodingProcesses decodingProcesses();

}  // namespace host
