// Why something that stands at a path cannot be saved over or read as a file.
#pragma once

#include <QString>
#include <sys/types.h>

namespace storage {

// For a mode that is not a regular file's: "it is a folder, not a regular file", or, when the
// name is a link to it, "it is a link to a folder, not to a regular file"; likewise for a
// device, a FIFO and a socket.
QString NotRegularFileReason(mode_t mode, bool throughLink);

} // namespace storage
