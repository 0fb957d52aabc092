#include "bootarchive.h"

#include <cstdio>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "snapshotfile.h"

namespace {

// On /boot's own file system, so that the files extracted there take the place of /boot's by
// renaming alone, which needs no room and cannot fail half-way for want of it.
const QString staging = QStringLiteral("/boot/.kiv-norvo-update-restore");
const QString replaced = QStringLiteral("/boot/.kiv-norvo-update-replaced");

// The entries of /boot that are, or hold, a mount point of another file system (the EFI system
// partition on /boot/efi): they are neither archived nor renamed, which would fail with EBUSY or
// move the mount along.
QStringList entriesHoldingMounts()
{
    QStringList entries;
    const QString prefix = QStringLiteral("/boot/");
    for (const SnapshotFile::Mount& mount : SnapshotFile::mounts()) {
        if (mount.mountPoint.startsWith(prefix))
            entries << mount.mountPoint.mid(prefix.size()).section(QLatin1Char('/'), 0, 0);
    }
    return entries;
}

// Moves every entry of from into to, but those named in keep; the first that cannot be moved ends
// it, with the system's words.
QString moveEntries(const QString& from, const QString& to, const QStringList& keep = {})
{
    const QStringList entries
        = QDir(from).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        if (keep.contains(entry))
            continue;
        if (::rename(QFile::encodeName(from + QLatin1Char('/') + entry).constData(),
                QFile::encodeName(to + QLatin1Char('/') + entry).constData())
            != 0)
            return QStringLiteral("%1/%2: %3").arg(from, entry, SnapshotFile::systemError());
    }
    return QString();
}

} // namespace

QString BootArchivingSnapshot::bootArchive()
{
    return QString::fromLatin1(bootArchivePath);
}

Snapshot::ErrorCode BootArchivingSnapshot::archiveBoot()
{
    // /boot holds the boot loader's password file: its archive is created by root, for root alone.
    m_errorText = SnapshotFile::createPrivate(bootArchive());
    if (!m_errorText.isEmpty())
        return Error;
    // File systems mounted below /boot keep their own files (see swapInStagedBoot()).
    if (execute(commandWords(QStringLiteral("tar --xattrs --acls -czpf %1 --exclude=/boot/lost+found /boot"),
                    {bootArchive()})
            + QStringList {QStringLiteral("--one-file-system")})
        == Error)
        return Error;
    m_errorText = SnapshotFile::checkPrivate(bootArchive());
    return m_errorText.isEmpty() ? Success : Error;
}

Snapshot::ErrorCode BootArchivingSnapshot::stageBoot()
{
    if (!QFile::exists(bootArchive())) {
        m_errorText = tr("The archive of /boot (%1) is missing.").arg(bootArchive());
        return Error;
    }
    // Anything another user could have put or changed there would be extracted over / as root.
    m_errorText = SnapshotFile::checkGenuine(bootArchive());
    if (!m_errorText.isEmpty())
        return Error;
    if (execute(commandWords(QStringLiteral("tar -tzf %1"), {bootArchive()})) == Error)
        return Error;
    removeStagedBoot();
    if (!QDir().mkpath(staging) || !QDir().mkpath(replaced)) {
        m_errorText = tr("%1 cannot be made to extract /boot into.").arg(staging);
        removeStagedBoot();
        return Error;
    }
    if (execute(commandWords(
            QStringLiteral(
                "tar --xattrs --xattrs-include=security.{ZLAB,AUDIT,DEF_AUDIT} --acls -xzf %1 -C %2"),
            {bootArchive(), staging}))
        == Error) {
        removeStagedBoot();
        return Error;
    }
    if (!QFileInfo(staging + QStringLiteral("/boot")).isDir()) {
        m_errorText = tr("The archive %1 holds no /boot.").arg(bootArchive());
        removeStagedBoot();
        return Error;
    }
    return Success;
}

QString BootArchivingSnapshot::swapInStagedBoot()
{
    const QString boot = QStringLiteral("/boot");
    // A file system mounted below /boot stays as it is, mount point and files: the EFI system
    // partition is shared with the firmware's other systems, and its boot loader reads its
    // configuration from the /boot put back here.
    const QStringList mounted = entriesHoldingMounts();
    QString failure = moveEntries(boot, replaced,
        mounted
            + QStringList {
                QFileInfo(staging).fileName(), QFileInfo(replaced).fileName(), QStringLiteral("lost+found")});
    if (failure.isEmpty())
        failure = moveEntries(staging + boot, boot, mounted);
    if (failure.isEmpty())
        removeStagedBoot();
    return failure;
}

bool BootArchivingSnapshot::hasStagedBoot()
{
    return QFileInfo(staging + QStringLiteral("/boot")).isDir();
}

void BootArchivingSnapshot::removeStagedBoot()
{
    SnapshotFile::removeAny(staging);
    SnapshotFile::removeAny(replaced);
}
