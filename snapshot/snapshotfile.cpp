#include "snapshotfile.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QList>

namespace {

// Only a process with CAP_SYS_ADMIN can write the trusted namespace, so no user can forge the mark.
constexpr char completeMark[] = "trusted.kiv-norvo-update.complete";
// A user who keeps planting something at the name between removal and creation gives up the race
// long before this.
constexpr int creationAttempts = 5;
// Likewise for a user who keeps adding entries to a folder while root empties it.
constexpr int removalPasses = 5;

bool lstatPath(const QString& path, struct stat* status)
{
    return ::lstat(QFile::encodeName(path).constData(), status) == 0;
}

// Removes the entry name of the open folder parent; a folder with everything in it. It works on
// descriptors and never follows a link, so a user who renames folders and plants links inside the
// tree while root removes it cannot send the removal anywhere else; nor does it enter another file
// system. Entries that appear meanwhile are removed in a later pass.
bool removeEntry(int parent, const char* name)
{
    if (::unlinkat(parent, name, 0) == 0 || errno == ENOENT)
        return true;
    if (errno != EISDIR)
        return false;
    struct stat parentStatus = {};
    struct stat status = {};
    const int folder = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0)
        return errno == ENOENT;
    DIR* entries = ::fdopendir(folder);
    if (!entries) {
        ::close(folder);
        return false;
    }
    bool emptied = ::fstat(parent, &parentStatus) == 0 && ::fstat(folder, &status) == 0
        && status.st_dev == parentStatus.st_dev;
    for (int pass = 0; emptied && pass < removalPasses; ++pass) {
        QList<QByteArray> names;
        ::rewinddir(entries);
        while (const dirent* entry = ::readdir(entries)) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                names.append(QByteArray(entry->d_name));
        }
        if (names.isEmpty())
            break;
        for (const QByteArray& entry : qAsConst(names))
            emptied = emptied && removeEntry(folder, entry.constData());
    }
    ::closedir(entries);
    return emptied && (::unlinkat(parent, name, AT_REMOVEDIR) == 0 || errno == ENOENT);
}

} // namespace

QList<SnapshotFile::Mount> SnapshotFile::mounts()
{
    QList<Mount> found;
    QFile table(QStringLiteral("/proc/self/mountinfo"));
    if (!table.open(QIODevice::ReadOnly))
        return found;
    // mountinfo writes a blank in a path as \040; the fields after " - " are the type and source.
    const auto path = [](const QByteArray& field) {
        return QFile::decodeName(field).replace(QLatin1String("\\040"), QLatin1String(" "));
    };
    for (const QByteArray& line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        const int separator = fields.indexOf("-");
        if (separator < 5)
            continue;
        found << Mount {path(fields.at(3)), path(fields.at(4)),
            QString::fromUtf8(fields.value(separator + 1)), path(fields.value(separator + 2))};
    }
    return found;
}

QString SnapshotFile::systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool SnapshotFile::removeAny(const QString& path)
{
    const int parent
        = ::open(QFile::encodeName(QFileInfo(path).path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parent < 0)
        return false;
    const bool removed = removeEntry(parent, QFile::encodeName(QFileInfo(path).fileName()).constData());
    ::close(parent);
    return removed;
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
