#pragma once

#include "snapshot.h"

// A full (level 0) XFS dump of "/" in a file. Restoring it puts back every file that was changed
// or deleted since the dump; files created after the dump stay.
class XfsSnapshot final : public Snapshot
{
    Q_OBJECT

public:
    XfsSnapshot(const QString& name, const QString& device);

    // Size of the dump file in GiB; 0 without one.
    double size() const override;
    bool exists() override;
    void create() override;
    ErrorCode remove() override;
    ErrorCode restore() override;

    // /var/tmp/<name>.bin
    QString dumpFilePath() const;
};
