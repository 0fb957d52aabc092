#pragma once

#include <memory>
#include <thread>

#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>

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
// The archives of kept versions written from the files held for them while the update goes on,
// completed before the run ends however it ends, their checksums then in the run's record.
class Archiving final
{
public:
    // Starts writing the archives named (files in folder, as Repack leaves them) that are not yet
    // marked done, in a thread of its own.
    Archiving(const QString& folder, const QStringList& names, RunRecord* record);
    ~Archiving();
    Archiving(const Archiving&) = delete;
    Archiving& operator=(const Archiving&) = delete;

    // Waits for the archives and gives each its kept name; one that cannot be completed is said.
    void complete();

private:
    struct Outcome
    {
        QString checksum; // of the completed archive
        QString problem; // why there is none
    };
    void work();

    QString m_folder;
    QStringList m_names;
    RunRecord* m_record;
    QElapsedTimer m_clock;
    QVector<Outcome> m_outcomes; // written by the worker alone until it is joined
    std::thread m_worker;
};

// Keeps every version the record's run replaces and lists them in the record, saying how far it
// is, and at the end how many came from where and how long it took; returns what is still being
// written, if anything. Throws a Failure when one cannot be kept: the update must not start
// without its way back.
std::unique_ptr<Archiving> keep(const QList<Step>& steps, RunRecord* record);
// Completes what a run that ended abruptly left of its archives.
void completeLeftArchives(RunRecord* record);
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
