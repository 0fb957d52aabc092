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
    Recovery recoverInterruptedRestore() override;
    bool isLeftByInterruptedRun() override;
    // The root a restore replaced, kept aside until the administrator deletes it.
    QString leftoverQuestion() override;
    ErrorCode settleLeftover(bool deleteIt) override;
    QStringList fillCommand() const override;
    double fillPercent(const QByteArray& output) const override;
    QString fillWarning(double percent) const override;

    // Where the file system's top level is mounted while an operation needs it.
    static QString topLevelMountPoint();

private:
    class TopLevel;

    // Reads which subvolume is mounted on "/" and refuses a layout a restore could not swap.
    bool readLayout();
    bool isBootSeparate() const;
    // Why a restore could never put the root back as it is laid out; empty when it could.
    QString unrestorableLayout();
    // The subvolumes of a "btrfs subvolume list -o" that lie directly in the subvolume with that ID
    // and path below the top level, relative to it.
    static QStringList nestedSubvolumes(
        const QString& listing, const QString& parentId, const QString& parentPath);
    // The path below the top level's mount point of the subvolume with that UUID; empty when none.
    QString subvolumeWithUuid(const QString& uuid);
    // What a restore does once the restored root has the root's name: the replaced root named
    // aside, the restored one made the default subvolume where the replaced one was, /boot swapped
    // in, the snapshot deleted. Also what a start does for a restore that stopped there. Empty on
    // success, otherwise what is left to do.
    QStringList completeRestore(
        const QString& replacedRoot, const QString& replacedId, const QString& restoredRoot);
    // A read-only subvolume at path whose parent is the root subvolume.
    bool isOurs(const QString& path);
    // The subvolume's ID, empty when there is none at path.
    QString subvolumeId(const QString& path);
    // A path below the top level, beside the root subvolume.
    QString besideRoot(const QString& name) const;
    QString rootName() const;
    // Moves the subvolumes nested in one root (which no snapshot holds) into the other, both paths
    // below the top level's mount point; on failure moves back those it moved.
    QString carryNestedSubvolumes(const QString& from, const QString& to);
    ErrorCode deleteSubvolume(const QString& path);

    QString m_rootSubvolume;
    QString m_rootUuid;
    QString m_rootId;
};
