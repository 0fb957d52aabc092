#include "lvmsnapshot.h"

#include <QFile>
#include <QRegularExpression>

#include "helpercommand.h"

LvmSnapshot::LvmSnapshot(const QString& name, const QString& device, double size)
    : BootArchivingSnapshot(name, device, size)
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
    return executeWithin(commandWords(QStringLiteral("lvs %1"), {snapshotPath()}), KivAdmin::helperTimeoutMs)
        == Success;
}

bool LvmSnapshot::isLeftByInterruptedRun()
{
    // lvs reads a bare name as a volume group: the volume is asked for with its group.
    if (executeWithin(commandWords(QStringLiteral("lvs -o name --no-headings %1"), {volumeName()}),
            KivAdmin::helperTimeoutMs)
        == Error)
        return false;
    for (const QString& line : m_outputText.split(QLatin1Char('\n'))) {
        const QString listed = line.trimmed();
        if (listed == m_name || listed == QStringLiteral("[%1]").arg(m_name))
            return true;
    }
    return false;
}

void LvmSnapshot::create()
{
    ErrorCode result = archiveBoot();
    if (result == Success)
        result = execute(commandWords(QStringLiteral("lvcreate -L %1GB -s -n %2 -p r %3"),
            {QString::number(m_size, 'g', 6), m_name, m_device}));
    emit created(result);
}

Snapshot::ErrorCode LvmSnapshot::remove()
{
    executeWithin(commandWords(QStringLiteral("umount /var/lib/os-prober/mount")), KivAdmin::helperTimeoutMs);
    executeWithin(
        commandWords(QStringLiteral("lvremove -f %1"), {snapshotPath()}), KivAdmin::helperTimeoutMs);
    QFile::remove(bootArchive());
    return Success;
}

Snapshot::ErrorCode LvmSnapshot::restore()
{
    m_halfDone = false;
    // The archive is proved readable and complete, and /boot extracted beside the present one,
    // before anything changes: a restore that fails before the merge leaves the volume and /boot
    // as they are.
    if (stageBoot() == Error)
        return Error;
    if (execute(commandWords(QStringLiteral("lvconvert --merge %1"), {snapshotPath()})) == Error) {
        removeStagedBoot();
        return Error;
    }
    // From here the merge is done at the next boot, whatever else happens: a failure leaves the
    // restore half done.
    const QString failure = swapInStagedBoot();
    if (!failure.isEmpty()) {
        m_halfDone = true;
        // The archive stays, so that /boot can be extracted by hand before the reboot.
        m_errorText
            = tr("The snapshot volume %1 will be merged back at the next boot, but /boot could not be "
                 "replaced (%2). Before any reboot, put /boot back by hand: tar --xattrs --acls -xzf %3 "
                 "-C /")
                  .arg(snapshotPath(), failure, bootArchive());
        return Error;
    }
    QFile::remove(bootArchive());
    return Success;
}

QStringList LvmSnapshot::fillCommand() const
{
    return {QStringLiteral("lvs"), QStringLiteral("--noheadings"), QStringLiteral("-o"),
        QStringLiteral("data_percent"), volumeName()};
}

double LvmSnapshot::fillPercent(const QByteArray& output) const
{
    bool isNumber = false;
    const double percent = QString::fromLatin1(output)
                               .trimmed()
                               .replace(QLatin1Char(','), QLatin1Char('.'))
                               .toDouble(&isNumber);
    return isNumber ? percent : -1;
}

QString LvmSnapshot::fillWarning(double percent) const
{
    return tr("The snapshot volume %1 is %2% full. A full snapshot can no longer be restored: "
              "\"lvextend -L +2G %1\" makes it larger.\n")
        .arg(volumeName())
        .arg(percent, 0, 'f', 1);
}
