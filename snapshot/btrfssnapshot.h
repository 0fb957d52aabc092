#pragma once

#include "bootarchive.h"

// A read-only snapshot of the btrfs subvolume mounted on "/", beside it below the same parent, with
// an archive of /boot when /boot is not in that subvolume. A restore puts a writable snapshot of it
// in place under the root subvolume's own name, so that fstab's subvol= and the boot loader's
// rootflags=subvol= find the restored root at the next boot, and keeps the replaced root aside as
// <name>.before-restore-<date> until the administrator deletes it.
class BtrfsSnapshot final : public BootArchivingSnapshot
{
    Q_OBJECT

public:
    // size is the room in gigabytes the update needs on the file system; the snapshot itself
    // takes room only as the update changes files.
    BtrfsSnapshot(const QString& name, const QString& device, double size);

    bool exists() override;
    QString location() const override;
    void create() override;
    ErrorCode remove() override;
    ErrorCode restore() override;
    bool recoverInterruptedRestore() override;
    QStringList fillCommand() const override;
    double fillPercent(const QByteArray& output) const override;
    QString fillWarning(double percent) const override;

    // The root that a restore replaced, as the first start after it finds it: the subvolume's
    // path below the top level and the room only it holds (-1 when unknown); an empty path when
    // the running root was not put in place by a restore.
    struct ReplacedRoot
    {
        QString subvolume;
        QString device;
        qint64 exclusiveBytes = -1;
    };
    ReplacedRoot replacedRoot();
    // Deletes the replaced root (deleteIt) or keeps it; either way it is not reported again.
    ErrorCode settleReplacedRoot(bool deleteIt);

    // Where the file system's top level is mounted while an operation needs it.
    static QString topLevelMountPoint();

private:
    class TopLevel;

    // Reads which subvolume is mounted on "/" and refuses a layout a restore could not swap.
    bool readLayout();
    bool isBootSeparate() const;
    // Why a restore could never put the root back as it is laid out; empty when it could.
    QString unrestorableLayout();
    // The subvolumes of a "btrfs subvolume list -o /" that lie directly in the root, relative to it.
    QStringList nestedSubvolumes(const QString& listing) const;
    // A read-only subvolume at path whose parent is the root subvolume.
    bool isOurs(const QString& path);
    // The subvolume's ID, empty when there is none at path.
    QString subvolumeId(const QString& path);
    // A path below the top level, beside the root subvolume.
    QString besideRoot(const QString& name) const;
    QString rootName() const;
    // Moves the subvolumes nested in the root subvolume (which its snapshot does not hold) from one
    // root to the other; on failure moves back those it moved.
    QString carryNestedSubvolumes(const QString& from, const QString& to);
    ErrorCode deleteSubvolume(const QString& path);

    QString m_rootSubvolume;
    QString m_rootUuid;
    QString m_rootId;
};
