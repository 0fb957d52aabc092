#include "lvmsnapshot.h"

#include <cstdio>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include "helpercommand.h"
#include "snapshotfile.h"

namespace {

QString bootArchive()
{
    return QString::fromLatin1(bootArchivePath);
}

// On /boot's own file system, so that the files extracted there take the place of /boot's by
// renaming alone, which needs no room and cannot fail half-way for want of it.
const QString staging = QStringLiteral("/boot/.kiv-norvo-update-restore");
const QString replaced = QStringLiteral("/boot/.kiv-norvo-update-replaced");

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

LvmSnapshot::LvmSnapshot(const QString& name, const QString& device, double size)
    : Snapshot(name, device, size)
{
    // Device-mapper names double the hyphens inside volume-group and volume names and join the
    // two with a single one: /dev/mapper/vg--sys-root is /dev/vg-sys/root.
    m_device.replace(QLatin1String("--"), QLatin1String("|"));
    m_device.replace(QLatin1Char('-'), QLatin1Char('/'));
    m_device.replace(QLatin1Char('|'), QLatin1Char('-'));
    m_device.remove(QLatin1String("mapper/"));
    static const QRegularExpression volumeGroupPattern(QStringLiteral("^/dev/(?<vg>.*)/.*$"));
    const QRegularExpressionMatch match = volumeGroupPattern.match(m_device);
    if (match.hasMatch())
        m_volumeGroup = match.captured(QStringLiteral("vg"));
}

QString LvmSnapshot::snapshotPath() const
{
    return QStringLiteral("/dev/%1/%2").arg(m_volumeGroup, m_name);
}

QString LvmSnapshot::volumeName() const
{
    return m_volumeGroup + QLatin1Char('/') + m_name;
}

QString LvmSnapshot::location() const
{
    return tr("the LVM volume %1 and the archive %2").arg(snapshotPath(), bootArchive());
}

bool LvmSnapshot::exists()
{
    return executeWithin(QStringLiteral("lvs ") + snapshotPath(), KivAdmin::helperTimeoutMs) == Success;
}

void LvmSnapshot::create()
{
    // /boot holds the boot loader's password file: its archive is created by root, for root alone.
    m_errorText = SnapshotFile::createPrivate(bootArchive());
    if (!m_errorText.isEmpty()) {
        emit created(Error);
        return;
    }
    ErrorCode result = execute(
        QStringLiteral("tar --xattrs --acls -czpf %1 --exclude=/boot/lost+found /boot").arg(bootArchive()));
    if (result == Success) {
        m_errorText = SnapshotFile::checkPrivate(bootArchive());
        if (!m_errorText.isEmpty())
            result = Error;
    }
    if (result == Success)
        result = execute(
            QStringLiteral("lvcreate -L %1GB -s -n %2 -p r %3").arg(m_size, 0, 'g', 6).arg(m_name, m_device));
    emit created(result);
}

Snapshot::ErrorCode LvmSnapshot::remove()
{
    executeWithin(QStringLiteral("umount /var/lib/os-prober/mount"), KivAdmin::helperTimeoutMs);
    executeWithin(QStringLiteral("lvremove -f ") + snapshotPath(), KivAdmin::helperTimeoutMs);
    QFile::remove(bootArchive());
    return Success;
}

Snapshot::ErrorCode LvmSnapshot::restore()
{
    m_halfDone = false;
    // The archive is proved readable and complete, and /boot extracted beside the present one,
    // before anything changes: a restore that fails before the merge leaves the volume and /boot
    // as they are.
    if (!QFile::exists(bootArchive())) {
        m_errorText = tr("The archive of /boot (%1) is missing.").arg(bootArchive());
        return Error;
    }
    // Anything another user could have put or changed there would be extracted over / as root.
    m_errorText = SnapshotFile::checkGenuine(bootArchive());
    if (!m_errorText.isEmpty())
        return Error;
    if (execute(QStringLiteral("tar -tzf %1").arg(bootArchive())) == Error)
        return Error;
    const auto removeStaging = [] {
        SnapshotFile::removeAny(staging);
        SnapshotFile::removeAny(replaced);
    };
    removeStaging();
    if (!QDir().mkpath(staging) || !QDir().mkpath(replaced)) {
        m_errorText = tr("%1 cannot be made to extract /boot into.").arg(staging);
        removeStaging();
        return Error;
    }
    if (execute(QStringLiteral(
            "tar --xattrs --xattrs-include=security.{ZLAB,AUDIT,DEF_AUDIT} --acls -xzf %1 -C %2")
                    .arg(bootArchive(), staging))
        == Error) {
        removeStaging();
        return Error;
    }
    if (!QFileInfo(staging + QStringLiteral("/boot")).isDir()) {
        m_errorText = tr("The archive %1 holds no /boot.").arg(bootArchive());
        removeStaging();
        return Error;
    }
    if (execute(QStringLiteral("lvconvert --merge ") + snapshotPath()) == Error) {
        removeStaging();
        return Error;
    }
    // From here the merge is done at the next boot, whatever else happens: a failure leaves the
    // restore half done.
    m_halfDone = true;
    const QString boot = QStringLiteral("/boot");
    QString failure = moveEntries(boot, replaced,
        {QFileInfo(staging).fileName(), QFileInfo(replaced).fileName(), QStringLiteral("lost+found")});
    if (failure.isEmpty())
        failure = moveEntries(staging + boot, boot);
    if (!failure.isEmpty()) {
        // The archive stays, so that /boot can be extracted by hand before the reboot.
        m_errorText
            = tr("The snapshot volume %1 will be merged back at the next boot, but /boot could not be "
                 "replaced (%2). Before any reboot, put /boot back by hand: tar --xattrs --acls -xzf %3 "
                 "-C /")
                  .arg(snapshotPath(), failure, bootArchive());
        return Error;
    }
    m_halfDone = false;
    removeStaging();
    QFile::remove(bootArchive());
    return Success;
}
