#pragma once

#include <maya/MTypes.h>

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

}  // namespace host
