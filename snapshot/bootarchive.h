#pragma once

#include "snapshot.h"

// Where the archive of /boot is kept beside the snapshot of the root. It is a gzip-compressed tar
// archive, whatever its name says.
inline constexpr char bootArchivePath[] = "/var/tmp/boot_snap.tar.bz2";

// A snapshot of a root that does not hold /boot (a separate file system): /boot is kept beside it
// in an archive taken at the same moment, and a restore puts both back.
class BootArchivingSnapshot : public Snapshot
{
    Q_OBJECT

public:
    using Snapshot::Snapshot;

    bool isRestoreHalfDone() const override { return m_halfDone; }

    static QString bootArchive();

protected:
    // Archives /boot into a file that root alone can read.
    ErrorCode archiveBoot();
    // Proves the archive genuine and complete and extracts it beside the present /boot, changing
    // nothing that is in use: a restore that fails here leaves the system as it is.
    ErrorCode stageBoot();
    // Puts the extracted /boot in the place of the present one by renaming alone; empty on success,
    // otherwise what could not be moved.
    QString swapInStagedBoot();
    static void removeStagedBoot();
    // A /boot extracted beside the present one, as a restore that stopped before its swap left it.
    static bool hasStagedBoot();

    bool m_halfDone = false;
};
