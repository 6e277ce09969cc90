#pragma once

#include <cstddef>
#include <string>

namespace mel {

/// Reads the script file at `path` into `text`, for hostbatch's script
/// arguments, `source` and procedures loaded from the script path. Only a
/// regular file is read: a folder, FIFO or device is refused at once, before a
/// read could block or never end. A file of more than `limit` bytes (0: no
/// limit) is refused too. On failure returns false with `error` saying why:
/// "cannot read script 'PATH': REASON".
bool readScriptFile(const std::string& path, std::size_t limit, std::string& text, std::string& error);

}  // namespace mel
