// The one way the logger replaces a file with new contents: sweep files, the parameter file, and
// every other file it saves whole. The new contents go to a temporary file beside the old one
// (storage/temporary_file.h: "<name>.tmp-XXXXXX", locked while written), reach the disk, and are
// renamed over it; the folder is then synced so that the rename lasts. Any failure leaves the old
// file as it was and no temporary behind; a kill leaves the temporary, which the clean-up at
// start-up removes.
#pragma once

#include "report/failure.h"

#include <QByteArrayView>
#include <QString>
#include <cstddef>
#include <functional>
#include <optional>
#include <sys/types.h>

namespace storage {

// What a save does with a symbolic link standing at the file's name.
enum class LinkHandling {
    ReplaceLink,  // a new output: the link is replaced by the new file, never written through
    ReplaceTarget // a file the user may keep elsewhere: the link stays, a regular target is replaced
};

// Writes bytes as the whole new contents of fileName. Only a regular file is ever replaced: a
// folder, device, FIFO or socket at the name (or, with ReplaceTarget, at the link's target) is
// refused. An existing file the user may not write is refused too, and the new file takes the
// old one's permissions. Fails with why, in plain words.
report::Done ReplaceFile(const QString& fileName, QByteArrayView bytes, LinkHandling links);

// The system calls whose failure a save must notice, the run record's writes and syncs among
// them. Tests replace them to make them fail or to watch their order; every other caller uses the
// process's real ones.
struct SaveCalls {
    std::function<ssize_t(int fd, const void* data, size_t size)> write;
    std::function<int(int fd)> fsync; // for a file and for its folder
    std::function<int(const char* from, const char* to)> rename;
    // A new file without a name in `folder` (O_TMPFILE), open for reading and writing.
    std::function<int(const char* folder, mode_t mode)> openUnnamed;
    // A second name for a file, and a rename that never replaces what stands at `to`
    // (renameat2 with RENAME_NOREPLACE): how a record's temporary takes its name.
    std::function<int(const char* from, const char* to)> link;
    std::function<int(const char* from, const char* to)> renameNoReplace;
    // The space left in the file system of `path` for an unprivileged user, or -1 with errno.
    std::function<long long(const char* path)> freeBytes;
};

// The real calls.
SaveCalls SystemSaveCalls();

// Writes all of `size` bytes through the calls in use, going on after a short write or an
// interruption: 0, or the errno of the write that failed (ENOSPC for one that wrote nothing).
int WriteAll(int fd, const char* data, std::size_t size);

// The calls in use now.
const SaveCalls& CurrentSaveCalls();

// Replaces the calls every later save makes; SystemSaveCalls() puts the real ones back.
void SetSaveCalls(SaveCalls calls);

} // namespace storage
