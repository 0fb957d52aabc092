#pragma once

#include "bootarchive.h"

// A read-only LVM snapshot volume of the root logical volume, with an archive of /boot (which
// lies outside the root volume) taken at the same moment.
class LvmSnapshot final : public BootArchivingSnapshot
{
    Q_OBJECT

public:
    // device is the device-mapper path of the root volume, for example /dev/mapper/vg--sys-root;
    // size is in gigabytes.
    LvmSnapshot(const QString& name, const QString& device, double size);

    bool exists() override;
    QString location() const override;
    void create() override;
    ErrorCode remove() override;
    ErrorCode restore() override;
    // The volume is still listed by lvs: a run that never ended took it, and it was never merged.
    bool isLeftByInterruptedRun() override;
    QStringList fillCommand() const override;
    double fillPercent(const QByteArray& output) const override;
    QString fillWarning(double percent) const override;

    // The device path of the snapshot volume: /dev/<volume group>/<name>.
    QString snapshotPath() const;
    // The snapshot volume as the LVM tools name it: <volume group>/<name>.
    QString volumeName() const;
    QString volumeGroup() const { return m_volumeGroup; }

private:
    QString m_volumeGroup;
};
