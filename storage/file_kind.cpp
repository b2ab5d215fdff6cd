#include "storage/file_kind.h"

#include <sys/stat.h>

namespace storage {

QString NotRegularFileReason(mode_t mode, bool throughLink) {
    if (S_ISDIR(mode))
        return throughLink ? QStringLiteral("it is a link to a folder, not to a regular file")
                           : QStringLiteral("it is a folder, not a regular file");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return throughLink ? QStringLiteral("it is a link to a device, not to a regular file")
                           : QStringLiteral("it is a device, not a regular file");
    if (S_ISFIFO(mode))
        return throughLink ? QStringLiteral("it is a link to a FIFO, not to a regular file")
                           : QStringLiteral("it is a FIFO, not a regular file");
    if (S_ISSOCK(mode))
        return throughLink ? QStringLiteral("it is a link to a socket, not to a regular file")
                           : QStringLiteral("it is a socket, not a regular file");
    return throughLink ? QStringLiteral("it is a link to something that is not a regular file")
                       : QStringLiteral("it is not a regular file");
}

} // namespace storage
