#include "snapshotfile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <QDir>
#include <QFile>

namespace {

// Only a process with CAP_SYS_ADMIN can write the trusted namespace, so no user can forge the mark.
constexpr char completeMark[] = "trusted.kiv-norvo-update.complete";
// A user who keeps planting something at the name between removal and creation gives up the race
// long before this.
constexpr int creationAttempts = 5;

bool lstatPath(const QString& path, struct stat* status)
{
    return ::lstat(QFile::encodeName(path).constData(), status) == 0;
}

} // namespace

QString SnapshotFile::systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool SnapshotFile::removeAny(const QString& path)
{
    struct stat status = {};
    if (!lstatPath(path, &status))
        return errno == ENOENT;
    if (S_ISDIR(status.st_mode))
        return QDir(path).removeRecursively();
    return ::unlink(QFile::encodeName(path).constData()) == 0 || errno == ENOENT;
}

QString SnapshotFile::createPrivate(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    for (int attempt = 0; attempt < creationAttempts; ++attempt) {
        if (!removeAny(path))
            return tr("%1 cannot be removed to make room for the snapshot: %2").arg(path, systemError());
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            // The mode is set again in case the umask is stricter than usual in an odd way.
            const bool privateMode = ::fchmod(fd, 0600) == 0;
            ::close(fd);
            return privateMode ? QString() : tr("%1 cannot be made private: %2").arg(path, systemError());
        }
        if (errno != EEXIST)
            return tr("%1 cannot be created: %2").arg(path, systemError());
    }
    return tr("%1 cannot be created: something else keeps appearing at that name.").arg(path);
}

QString SnapshotFile::checkGenuine(const QString& path)
{
    struct stat status = {};
    if (!lstatPath(path, &status))
        return tr("%1 cannot be read: %2").arg(path, systemError());
    if (!S_ISREG(status.st_mode))
        return tr("%1 is not a regular file.").arg(path);
    if (status.st_uid != 0)
        return tr("%1 does not belong to root.").arg(path);
    if (status.st_mode & (S_IWGRP | S_IWOTH))
        return tr("%1 can be changed by other users.").arg(path);
    if (status.st_nlink != 1)
        return tr("%1 has more than one name (hard links).").arg(path);
    return QString();
}

QString SnapshotFile::checkPrivate(const QString& path)
{
    const QString reason = checkGenuine(path);
    if (!reason.isEmpty())
        return reason;
    struct stat status = {};
    lstatPath(path, &status);
    if (status.st_mode & (S_IRWXG | S_IRWXO))
        return tr("%1 can be read by other users.").arg(path);
    return QString();
}

QString SnapshotFile::markComplete(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat status = {};
    if (!lstatPath(path, &status))
        return tr("%1 cannot be read: %2").arg(path, systemError());
    const QByteArray size = QByteArray::number(qint64(status.st_size));
    if (::lsetxattr(name.constData(), completeMark, size.constData(), size_t(size.size()), 0) != 0)
        return tr("%1 cannot be marked as complete: %2").arg(path, systemError());
    return QString();
}

bool SnapshotFile::isMarkedComplete(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat status = {};
    if (!lstatPath(path, &status) || !S_ISREG(status.st_mode))
        return false;
    char value[32] = {};
    const ssize_t length = ::lgetxattr(name.constData(), completeMark, value, sizeof value - 1);
    return length > 0 && QByteArray(value, int(length)) == QByteArray::number(qint64(status.st_size));
}
