#include "storage/replace_file.h"

#include "storage/file_kind.h"
#include "storage/temporary_file.h"

#include "report/failure.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <stdio.h>
#include <sys/statvfs.h>
#include <sys/stat.h>
#include <unistd.h>

namespace storage {
namespace {

SaveCalls& Calls() {
    static SaveCalls calls = SystemSaveCalls();
    return calls;
}

QString Reason(int error) {
    return report::SystemErrorText(error);
}

// Where the new contents go, and what stands there now.
struct Destination {
    QByteArray path;      // the name that is renamed over: fileName, or a link's target
    bool exists = false;  // a regular file stands there
    struct stat old = {}; // its status when it exists
};

std::optional<QString> FindDestination(const QByteArray& name, LinkHandling links, Destination& to) {
    to.path = name;
    struct stat st = {};
    if (::lstat(name.constData(), &st) != 0) {
        if (errno == ENOENT)
            return std::nullopt;
        return Reason(errno);
    }
    if (S_ISLNK(st.st_mode)) {
        if (links == LinkHandling::ReplaceLink)
            return std::nullopt; // renamed over like a missing file: the link goes, its target stays
        if (::stat(name.constData(), &st) != 0)
            return errno == ENOENT ? QStringLiteral("it is a link to a file that does not exist")
                                   : Reason(errno);
        if (!S_ISREG(st.st_mode))
            return NotRegularFileReason(st.st_mode, true);
        char* target = ::realpath(name.constData(), nullptr);
        if (target == nullptr)
            return Reason(errno);
        to.path = target;
        std::free(target);
    } else if (!S_ISREG(st.st_mode)) {
        return NotRegularFileReason(st.st_mode, false);
    }
    to.exists = true;
    to.old = st;
    // The record a run is still writing is never replaced: the run would go on into a file without a name.
    if (HeldByWriter(to.path))
        return QStringLiteral(
            "it is the record of a run still being written (it is locked); nothing was written");
    // Like an open for writing would, an existing file the user may not write is left alone.
    if (::faccessat(AT_FDCWD, to.path.constData(), W_OK, AT_EACCESS) != 0)
        return Reason(errno);
    return std::nullopt;
}

// The rename lasts only once the folder's entry reaches the disk too. File systems that cannot
// sync a folder say EINVAL; their renames are as durable as they get.
std::optional<QString> SyncFolder(const QByteArray& folder) {
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return Reason(errno);
    const int result = Calls().fsync(fd);
    const int error = errno;
    ::close(fd);
    if (result != 0 && error != EINVAL)
        return Reason(error);
    return std::nullopt;
}

} // namespace

SaveCalls SystemSaveCalls() {
    return {
        [](int fd, const void* data, size_t size) { return ::write(fd, data, size); },
        [](int fd) { return ::fsync(fd); },
        [](const char* from, const char* to) { return ::rename(from, to); },
        [](const char* folder, mode_t mode) { return ::open(folder, O_TMPFILE | O_RDWR | O_CLOEXEC, mode); },
        [](const char* from, const char* to) { return ::link(from, to); },
        [](const char* from, const char* to) { return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE); },
        [](const char* path) -> long long {
            struct statvfs fs {};
            if (::statvfs(path, &fs) != 0)
                return -1;
            return (long long)(fs.f_bavail) * (long long)(fs.f_frsize);
        },
    };
}

int WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = Calls().write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return written < 0 ? errno : ENOSPC;
        data += written;
        size -= std::size_t(written);
    }
    return 0;
}

const SaveCalls& CurrentSaveCalls() {
    return Calls();
}

void SetSaveCalls(SaveCalls calls) {
    Calls() = std::move(calls);
}

report::Done ReplaceFile(const QString& fileName, QByteArrayView bytes, LinkHandling links) {
    if (fileName.isEmpty())
        return report::Fail(Reason(ENOENT));
    Destination to;
    if (auto refused = FindDestination(QFile::encodeName(fileName), links, to))
        return report::Fail(*refused);

    // What a save of this name that was killed left behind goes first (one that a save still holds stays).
    RemoveStaleTemporariesOf(to.path);
    // A new file gets 0666 less the umask, as open() gives it.
    TemporaryFile made = CreateTemporary(to.path, 0666);
    if (made.fd < 0)
        return report::Fail(Reason(made.error));
    int fd = made.fd;
    const QByteArray temporary = made.path;
    // Ownership and permissions as the old file had them; where the file system cannot keep
    // them the contents still matter more.
    if (to.exists) {
        int kept = 0;
        if (::geteuid() == 0)
            kept = ::fchown(fd, to.old.st_uid, to.old.st_gid);
        kept |= ::fchmod(fd, to.old.st_mode & 07777);
        Q_UNUSED(kept);
    }

    const auto fail = [&](int error) -> report::Done {
        if (fd >= 0)
            ::close(fd);
        ::unlink(temporary.constData());
        return report::Fail(Reason(error));
    };
    if (const int error = WriteAll(fd, bytes.data(), std::size_t(bytes.size())); error != 0)
        return fail(error);
    if (Calls().fsync(fd) != 0)
        return fail(errno);
    const int closed = ::close(fd);
    fd = -1;
    if (closed != 0 && errno != EINTR)
        return fail(errno);
    if (Calls().rename(temporary.constData(), to.path.constData()) != 0)
        return fail(errno);

    if (auto unsynced = SyncFolder(QFile::encodeName(QFileInfo(QFile::decodeName(to.path)).absolutePath())))
        return report::Fail(
            QStringLiteral("the new file is in place, but its folder could not be synced (%1)").arg(*unsynced));
    return {};
}

} // namespace storage
