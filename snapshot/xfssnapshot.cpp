#include "xfssnapshot.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>

#include "snapshotfile.h"

namespace {

// Blocks a file occupies, which for a dump is its size.
qint64 allocatedBytes(const QString& path)
{
    struct stat status = {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0 || !S_ISREG(status.st_mode))
        return 0;
    return qint64(status.st_blocks) * 512;
}

} // namespace

XfsSnapshot::XfsSnapshot(const QString& name, const QString& device)
    : Snapshot(name, device, 0)
{ }

QString XfsSnapshot::dumpFilePath() const
{
    return QStringLiteral("/var/tmp/%1.bin").arg(m_name);
}

double XfsSnapshot::size() const
{
    const QFileInfo dump(dumpFilePath());
    return dump.exists() ? double(dump.size()) / 1024.0 / 1024.0 / 1024.0 : 0.0;
}

QString XfsSnapshot::location() const
{
    return dumpFilePath();
}

bool XfsSnapshot::exists()
{
    // A dump that xfsdump did not finish, or one that somebody else wrote, is no snapshot.
    return SnapshotFile::checkGenuine(dumpFilePath()).isEmpty()
        && SnapshotFile::isMarkedComplete(dumpFilePath());
}

QString XfsSnapshot::checkRoom() const
{
    const QString folder = QFileInfo(dumpFilePath()).absolutePath();
    struct statvfs root = {};
    struct statvfs target = {};
    struct stat rootStatus = {};
    struct stat targetStatus = {};
    if (::statvfs("/", &root) != 0 || ::stat("/", &rootStatus) != 0)
        return tr("The free space of / cannot be read: %1").arg(SnapshotFile::systemError());
    if (::statvfs(QFile::encodeName(folder).constData(), &target) != 0
        || ::stat(QFile::encodeName(folder).constData(), &targetStatus) != 0)
        return tr("The free space of %1 cannot be read: %2").arg(folder, SnapshotFile::systemError());

    // The old dump makes way for the new one, and a dump on / does not contain itself.
    const qint64 oldDump = allocatedBytes(dumpFilePath());
    qint64 used = qint64(root.f_blocks - root.f_bfree) * qint64(root.f_frsize);
    if (rootStatus.st_dev == targetStatus.st_dev)
        used -= oldDump;
    // A dump is about as large as the data it holds; the margin covers its own headers and
    // directories and leaves the update some room on the same file system.
    const qint64 needed = used + used / 10 + 64 * mebibyte;
    const qint64 free = qint64(target.f_bavail) * qint64(target.f_frsize) + oldDump;
    if (needed <= free)
        return QString();
    return tr("Not enough free space for the snapshot: the dump of / needs about %1 MB, %2 has %3 MB free.")
        .arg(needed / mebibyte)
        .arg(folder)
        .arg(free / mebibyte);
}

void XfsSnapshot::create()
{
    const QString path = dumpFilePath();
    m_errorText = checkRoom();
    if (m_errorText.isEmpty())
        m_errorText = SnapshotFile::createPrivate(path);
    if (!m_errorText.isEmpty()) {
        emit created(Error);
        return;
    }
    // The one command that goes through a shell: the dump is started as "bash -c" with its whole
    // command line, as the program has always started it. The path is the program's own (/var/tmp
    // and the snapshot's name): nothing in it is special to the shell.
    const QString dump = QStringLiteral("xfsdump -l 0 -L session_norvo -M tape_norvo -f %1 /").arg(path);
    ErrorCode result = execute(QStringLiteral("bash"), {QStringLiteral("-c"), dump});
    if (result == Success) {
        m_errorText = SnapshotFile::checkPrivate(path);
        if (m_errorText.isEmpty())
            m_errorText = SnapshotFile::markComplete(path);
        if (!m_errorText.isEmpty())
            result = Error;
    }
    // Half a dump restores half a system and claims success: it goes.
    if (result == Error)
        SnapshotFile::removeAny(path);
    emit created(result);
}

Snapshot::ErrorCode XfsSnapshot::remove()
{
    return QFile::remove(dumpFilePath()) ? Success : Error;
}

Snapshot::Recovery XfsSnapshot::recoverInterruptedRestore()
{
    // During a restore the dump has a second name, and xfsrestore, once it ends, puts an empty
    // file at the first; it keeps its state in a folder of the restored root, which makes the next
    // run try to resume. A restore that never ended leaves all of that.
    struct stat keptStatus = {};
    if (::lstat(QFile::encodeName(keptDumpPath()).constData(), &keptStatus) != 0
        || !S_ISREG(keptStatus.st_mode) || keptStatus.st_uid != 0)
        return Recovery::Nothing;
    giveDumpItsNameBack();
    SnapshotFile::removeAny(QStringLiteral("/xfsrestorehousekeepingdir"));
    return Recovery::OfferAgain;
}

QString XfsSnapshot::keptDumpPath() const
{
    return dumpFilePath() + QStringLiteral(".restoring");
}

void XfsSnapshot::giveDumpItsNameBack()
{
    const QByteArray path = QFile::encodeName(dumpFilePath());
    const QByteArray kept = QFile::encodeName(keptDumpPath());
    struct stat keptStatus = {};
    struct stat pathStatus = {};
    const bool secondName = ::lstat(kept.constData(), &keptStatus) == 0
        && ::lstat(path.constData(), &pathStatus) == 0 && keptStatus.st_ino == pathStatus.st_ino
        && keptStatus.st_dev == pathStatus.st_dev;
    if (secondName)
        ::unlink(kept.constData());
    else
        ::rename(kept.constData(), path.constData());
}

Snapshot::ErrorCode XfsSnapshot::restore()
{
    const QString path = dumpFilePath();
    m_errorText = SnapshotFile::checkGenuine(path);
    if (m_errorText.isEmpty() && !SnapshotFile::isMarkedComplete(path))
        m_errorText = tr("%1 is not a complete snapshot.").arg(path);
    if (!m_errorText.isEmpty())
        return Error;

    // The dump holds its own file, empty as it was when the dump began, and xfsrestore puts that
    // empty file in its place. A second name keeps the dump, which then takes its name back.
    const QString kept = keptDumpPath();
    if (!SnapshotFile::removeAny(kept)
        || ::link(QFile::encodeName(path).constData(), QFile::encodeName(kept).constData()) != 0) {
        m_errorText = tr("%1 cannot be kept during the restore: %2").arg(path, SnapshotFile::systemError());
        return Error;
    }
    const ErrorCode result = execute(commandWords(QStringLiteral("xfsrestore -f %1 /"), {path}));
    giveDumpItsNameBack();
    return result;
}
