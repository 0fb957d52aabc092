#pragma once

#include "snapshot.h"

// Where the archive of /boot is kept beside the snapshot volume. It is a gzip-compressed tar
// archive, whatever its name says.
inline constexpr char bootArchivePath[] = "/var/tmp/boot_snap.tar.bz2";

// A read-only LVM snapshot volume of the root logical volume, with an archive of /boot (which
// lies outside the root volume) taken at the same moment.
class LvmSnapshot final : public Snapshot
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
    bool isRestoreHalfDone() const override { return m_halfDone; }

    // The device path of the snapshot volume: /dev/<volume group>/<name>.
    QString snapshotPath() const;
    // The snapshot volume as the LVM tools name it: <volume group>/<name>.
    QString volumeName() const;
    QString volumeGroup() const { return m_volumeGroup; }

private:
    QString m_volumeGroup;
    bool m_halfDone = false;
};
