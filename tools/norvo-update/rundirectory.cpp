#include "rundirectory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include "childrun.h"
#include "console.h"
#include "helpercommand.h"

namespace {

// Mount points at or below the path, deepest first. mountinfo writes a blank as \040 and so on;
// the tool's own paths have none.
QStringList mountsBelow(const QString& path)
{
    QStringList found;
    QFile mounts(QStringLiteral("/proc/self/mountinfo"));
    if (!mounts.open(QIODevice::ReadOnly))
        return found;
    for (const QByteArray& line : mounts.readAll().split('\n')) {
        const QString mountPoint = QFile::decodeName(line.split(' ').value(4));
        if (mountPoint == path || mountPoint.startsWith(path + QLatin1Char('/')))
            found << mountPoint;
    }
    std::sort(
        found.begin(), found.end(), [](const QString& a, const QString& b) { return a.size() > b.size(); });
    return found;
}

} // namespace

qint64 lockHolder(int fd)
{
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (::fcntl(fd, F_GETLK, &lock) != 0 || lock.l_type == F_UNLCK)
        return 0;
    return lock.l_pid > 0 ? lock.l_pid : -1;
}

QString stateDirectory()
{
    return QStringLiteral("/run/norvo-update");
}

QString privateDirectory(const QString& workDirectory)
{
    const QString path = workDirectory + QStringLiteral("/private");
    if (::mkdir(QFile::encodeName(path).constData(), 0700) != 0 && errno != EEXIST)
        throw Failure {ExitCode::updateFailed,
            QStringLiteral("cannot create %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)))};
    struct stat status = {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0 || !S_ISDIR(status.st_mode)
        || status.st_uid != 0 || (status.st_mode & 077) != 0)
        throw Failure {ExitCode::updateFailed, QStringLiteral("%1 is not root's alone").arg(path)};
    return path;
}

void writeSecretFile(const QString& path, const QByteArray& content)
{
    const QByteArray name = QFile::encodeName(path);
    // A new file each time: whoever opened an earlier one keeps only that.
    ::unlink(name.constData());
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    bool written = fd >= 0;
    for (qint64 done = 0; written && done < content.size();) {
        const ssize_t chunk = ::write(fd, content.constData() + done, size_t(content.size() - done));
        written = chunk > 0;
        done += chunk;
    }
    const QString reason = QString::fromLocal8Bit(std::strerror(errno));
    if (fd >= 0)
        ::close(fd);
    if (!written)
        throw Failure {ExitCode::updateFailed, QStringLiteral("cannot write %1: %2").arg(path, reason)};
}

UpdateLock::UpdateLock()
{
    QDir().mkpath(stateDirectory());
    const QString path = stateDirectory() + QStringLiteral("/norvo-update.lock");
    m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_fd < 0)
        throw Failure {ExitCode::updateFailed,
            QStringLiteral("cannot open %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)))};
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (::fcntl(m_fd, F_SETLK, &lock) == 0)
        return;
    const qint64 holder = lockHolder(m_fd);
    ::close(m_fd);
    throw Failure {ExitCode::packageManagerBusy,
        QStringLiteral("another update is running%1. Try again when it has finished.")
            .arg(holder > 0 ? QStringLiteral(" (process %1)").arg(holder) : QString())};
}

UpdateLock::~UpdateLock()
{
    ::close(m_fd);
}

ScratchDirectory::ScratchDirectory(const QString& path)
    : m_path(path)
{
    QDir(m_path).removeRecursively();
    if (!QDir().mkpath(m_path))
        throw Failure {ExitCode::updateFailed, QStringLiteral("cannot create %1").arg(m_path)};
}

ScratchDirectory::~ScratchDirectory()
{
    // Never remove files through a mount that could not be undone.
    if (holdsMounts(m_path)) {
        warn(QStringLiteral("%1 still holds a mounted image and is left in place").arg(m_path));
        return;
    }
    QDir(m_path).removeRecursively();
}

bool holdsMounts(const QString& path)
{
    return !mountsBelow(path).isEmpty();
}

void cleanUpDeadRuns(const QString& stateDirectory, const QString& ownDirectory)
{
    static const QRegularExpression processId(QStringLiteral("^\\d+$"));
    const QFileInfoList entries = QDir(stateDirectory).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries) {
        const QString directory = entry.absoluteFilePath();
        if (!processId.match(entry.fileName()).hasMatch() || directory == ownDirectory || entry.isSymLink())
            continue;
        // Unmounting an image read through fuseiso ends its daemon as well.
        for (const QString& mountPoint : mountsBelow(directory)) {
            if (!KivAdmin::runHelper(QStringLiteral("umount"), {mountPoint}).succeeded())
                KivAdmin::runHelper(QStringLiteral("umount"), {QStringLiteral("-l"), mountPoint});
        }
        if (holdsMounts(directory)) {
            warn(QStringLiteral("%1, left by an earlier run, still holds a mounted image").arg(directory));
            continue;
        }
        QDir(directory).removeRecursively();
        say(QStringLiteral("Cleaned up after an earlier run that ended abruptly (process %1).")
                .arg(entry.fileName()));
    }
}
