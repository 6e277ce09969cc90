#pragma once

#include <OpenImageIO/imageio.h>

namespace host {

/// Takes the errors OpenImageIO keeps for `io` and for this thread, so that they
/// neither pile up nor get reported when the object is destroyed; true when there
/// were any.
template <typename ImageIo> bool takeErrors(ImageIo& io)
{
    const bool hadError = io.has_error();
    io.geterror();
    const bool hadGlobalError = OIIO::has_error();
    OIIO::geterror();
    return hadError || hadGlobalError;
}

/// Takes the errors OpenImageIO keeps for this thread.
inline void takeGlobalErrors()
{
    OIIO::geterror();
}

}  // namespace host
