#include "lvmsnapshot.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include "helpercommand.h"
#include "snapshotfile.h"

namespace {

QString bootArchive()
{
    return QString::fromLatin1(bootArchivePath);
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
    // The archive is proved readable and complete before anything changes, so a restore without a
    // usable archive leaves both the volume and /boot as they are.
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
    if (execute(QStringLiteral("lvconvert --merge ") + snapshotPath()) == Error)
        return Error;
    QDir(QStringLiteral("/boot")).removeRecursively();
    const ErrorCode result = execute(
        QStringLiteral("tar --xattrs --xattrs-include=security.{ZLAB,AUDIT,DEF_AUDIT} --acls -xzf %1 -C /")
            .arg(bootArchive()));
    // A failed extraction keeps the archive, so that /boot can be extracted again by hand.
    if (result == Success)
        QFile::remove(bootArchive());
    return result;
}
