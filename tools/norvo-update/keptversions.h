#pragma once

#include <QList>
#include <QString>

#include "journal.h"

// The store of the package versions that updates replace, from which a rollback installs them
// again: /var/lib/norvo-update/kept, root's alone. A version gets there the fast way when it can:
// the packages a run installs are moved there at its end (they are what the next run replaces);
// else it is linked from apt's cache when that holds the exact version; else dpkg-repack rebuilds
// it from the installed files.
namespace KeptVersions {

// How one replaced version will be kept.
struct Step
{
    PlannedChange change;
    QString from; // "store", "cache" or "rebuilt"
    qint64 rebuildBytes = 0; // the installed size, for a version to rebuild
};

// The versions the plan replaces (upgrades, downgrades and removals), each with the way it will
// be kept.
QList<Step> stepsFor(const QList<PlannedChange>& plan);
// Room the rebuilt files need in the store.
qint64 roomNeeded(const QList<Step>& steps);
// Keeps every version, saying how far it is, and at the end how many came from where and how long
// it took. Throws a Failure when one cannot be kept: the update must not start without its way
// back.
QList<KeptFile> keep(const QList<Step>& steps);
// Moves the packages a run fetched into the store, for the next run.
void storeFetched(const QString& archivesDirectory);
// Removes from the store what neither the last runs' rollbacks nor the installed versions need.
void prune(const QList<RunRecord>& records);
// How many of the newest updates keep their replaced versions: KeepRuns in
// /etc/norvo-update/norvo-update.conf, 3 by default.
int keepRuns();
// Empty when the kept file is root's, unchanged since it was kept; otherwise why not.
QString checkKept(const KeptFile& file);
// A second name for the file when it lies on the same file system, else a copy; true on success.
bool linkOrCopy(const QString& from, const QString& to);
// The file name of a version in the store, as apt names its downloads.
QString fileName(const QString& package, const QString& version, const QString& architecture);

} // namespace KeptVersions
