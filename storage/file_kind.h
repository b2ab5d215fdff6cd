// Naming what stands at a path when it is not a regular file.
#pragma once

#include <QString>
#include <sys/types.h>

namespace storage {

// "a folder", "a device", "a FIFO", "a socket", "a link", or "something other than a file" for
// anything else; meant for "it is %1, not a regular file".
QString FileKindText(mode_t mode);

} // namespace storage
