#include "storage/temporary_file.h"

#include "storage/replace_file.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace storage {
namespace {

constexpr QStringView kTemporaryMark = u".tmp-";
constexpr char kTemporaryMarkBytes[] = ".tmp-";
constexpr int kSuffixLength = 6;
// Enough for any folder that is not being filled with our names on purpose.
constexpr int kNameTries = 100;

bool IsSuffixCharacter(QChar c) {
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

QByteArray TemporaryName(const QByteArray& finalPath) {
    static constexpr char kCharacters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QByteArray name = finalPath + kTemporaryMarkBytes;
    for (int i = 0; i < kSuffixLength; ++i)
        name += kCharacters[QRandomGenerator::global()->bounded(int(sizeof kCharacters - 1))];
    return name;
}

QByteArray FolderOf(const QByteArray& path) {
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return ".";
    return slash == 0 ? QByteArray("/") : path.left(slash);
}

} // namespace

bool IsTemporaryOf(QStringView name, QStringView fileName) {
    const qsizetype stem = fileName.size() + kTemporaryMark.size();
    if (name.size() != stem + kSuffixLength || !name.startsWith(fileName) ||
        name.mid(fileName.size(), kTemporaryMark.size()) != kTemporaryMark)
        return false;
    for (const QChar c : name.mid(stem))
        if (!IsSuffixCharacter(c))
            return false;
    return true;
}

bool CannotMakeUnnamed(int error) {
    return error == EOPNOTSUPP || error == ENOTSUP || error == EISDIR || error == EINVAL;
}

int OpenUnnamed(const QByteArray& folder, mode_t mode) {
    const int fd = CurrentSaveCalls().openUnnamed(folder.constData(), mode);
    // A file no one else can name yet: the lock cannot be taken by anyone before us.
    if (fd >= 0)
        ::flock(fd, LOCK_EX);
    return fd;
}

int LinkUnnamed(int fd, const QByteArray& path) {
    char self[32];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    if (::linkat(AT_FDCWD, self, AT_FDCWD, path.constData(), AT_SYMLINK_FOLLOW) == 0)
        return 0;
    int error = errno;
    // Without /proc, only a privileged process may link a descriptor itself.
    if (error == ENOENT && ::access("/proc/self/fd", F_OK) != 0) {
        if (::linkat(fd, "", AT_FDCWD, path.constData(), AT_EMPTY_PATH) == 0)
            return 0;
        error = errno;
    }
    return error;
}

TemporaryFile CreateTemporary(const QByteArray& finalPath, mode_t mode) {
    TemporaryFile temporary;
    const int unnamed = OpenUnnamed(FolderOf(finalPath), mode);
    if (unnamed < 0 && !CannotMakeUnnamed(errno)) {
        temporary.error = errno;
        return temporary;
    }
    for (int i = 0; i < kNameTries; ++i) {
        temporary.path = TemporaryName(finalPath);
        if (unnamed >= 0) {
            temporary.error = LinkUnnamed(unnamed, temporary.path);
            if (temporary.error == 0) {
                temporary.fd = unnamed;
                return temporary;
            }
        } else {
            // O_EXCL: nothing that stands at the name, a link included, is opened.
            temporary.fd =
                ::open(temporary.path.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
            if (temporary.fd >= 0) {
                ::flock(temporary.fd, LOCK_EX);
                return temporary;
            }
            temporary.error = errno;
        }
        if (temporary.error != EEXIST)
            break;
    }
    if (unnamed >= 0)
        ::close(unnamed);
    temporary.path.clear();
    return temporary;
}

bool HeldByWriter(const QByteArray& path) {
    const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat opened = {};
    // A shared lock is refused only while someone holds the exclusive one a writer takes.
    const bool held = ::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) &&
                      ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

bool RemoveIfStale(const QByteArray& path) {
    const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat opened = {};
    struct stat named = {};
    // Only a regular file that no save holds, and still the one at the name.
    const bool stale = ::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) &&
                       ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::lstat(path.constData(), &named) == 0 &&
                       named.st_dev == opened.st_dev && named.st_ino == opened.st_ino;
    const bool removed = stale && ::unlink(path.constData()) == 0;
    ::close(fd);
    return removed;
}

int RemoveStaleTemporariesOf(const QByteArray& finalPath) {
    const QFileInfo final(QFile::decodeName(finalPath));
    const QString fileName = final.fileName();
    const QDir folder = final.absoluteDir();
    int removed = 0;
    for (const QString& name :
         folder.entryList({fileName + QStringLiteral(".tmp-*")}, QDir::Files | QDir::Hidden | QDir::System))
        if (IsTemporaryOf(name, fileName) && RemoveIfStale(QFile::encodeName(folder.filePath(name))))
            ++removed;
    return removed;
}

} // namespace storage
