#pragma once

#include "snapshot.h"

// A full (level 0) XFS dump of "/" in a file. Restoring it puts back every file that was changed
// or deleted since the dump; files created after the dump stay. Only a dump that xfsdump
// completed, root's own and private, counts as a snapshot, and a restore leaves it usable again.
class XfsSnapshot final : public Snapshot
{
    Q_OBJECT

public:
    XfsSnapshot(const QString& name, const QString& device);

    // Size of the dump file in GiB; 0 without one.
    double size() const override;
    bool exists() override;
    QString location() const override;
    void create() override;
    ErrorCode remove() override;
    ErrorCode restore() override;
    Recovery recoverInterruptedRestore() override;

    // /var/tmp/<name>.bin
    QString dumpFilePath() const;

private:
    // Empty when the dump fits where it goes, otherwise why it does not, with both figures.
    QString checkRoom() const;
    // The dump's second name during a restore: xfsrestore puts an empty file at the first.
    QString keptDumpPath() const;
    // After a restore, ended or not: the second name goes, or takes the first back from the empty
    // file xfsrestore left there.
    void giveDumpItsNameBack();
};
