// The logger's temporary files. A file saved whole is first written under
// "<its name>.tmp-XXXXXX" (six letters or digits) beside its final name, and a
// file that must never be seen half-made is written with no name at all and
// linked into place. A temporary is locked (flock) from before its name appears
// until it is renamed, linked or removed, so that the clean-up at start-up can
// tell one that a kill left behind from one another logger is still writing.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <sys/types.h>

namespace storage {

// Whether `name` is a temporary of the file named `fileName` (names without folders).
bool IsTemporaryOf(QStringView name, QStringView fileName);

struct TemporaryFile {
    int fd = -1;     // open for reading and writing, locked; -1 when it could not be made
    QByteArray path; // where it stands
    int error = 0;   // errno when fd is -1
};

// A new temporary for the file at `finalPath`, with `mode` less the umask, locked before its
// name appears (where the file system can make a file without a name; elsewhere straight after).
TemporaryFile CreateTemporary(const QByteArray& finalPath, mode_t mode);

// A new file without a name in `folder`, locked, or -1 with errno set; ENOTSUP, EOPNOTSUPP,
// EISDIR or EINVAL mean the file system cannot make one (see CannotMakeUnnamed).
int OpenUnnamed(const QByteArray& folder, mode_t mode);
bool CannotMakeUnnamed(int error);

// Gives the unnamed file open at `fd` the name `path`; never replaces what stands there
// (EEXIST, a link too). Returns 0 or the errno.
int LinkUnnamed(int fd, const QByteArray& path);

// Whether the regular file at `path` (not a link's target) is locked by a writer that holds it: the
// record of a run still being written, or a save's temporary.
bool HeldByWriter(const QByteArray& path);

// Removes the regular file at `path` unless a save holds it (locks it); true when removed.
bool RemoveIfStale(const QByteArray& path);

// Removes the temporaries of the file at `finalPath` that no save holds: what a killed save of it
// left. Returns how many went.
int RemoveStaleTemporariesOf(const QByteArray& finalPath);

} // namespace storage
