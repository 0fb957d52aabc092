#pragma once

#include <QList>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include "childrun.h"
#include "journal.h"
#include "options.h"
#include "repositories.h"

// apt and dpkg as one run drives them: the sources they read, the language they speak, whether
// anyone can answer their questions.
class AptSession final
{
public:
    // With repositories, apt reads exactly those, through a configuration of its own in the work
    // directory; without (-r), the system's sources. The package lists are private to the session
    // whenever the system's must stay as they are: given sources, or a simulation. A non-empty
    // archives directory takes the place of apt's cache of downloaded packages.
    AptSession(const QString& workDirectory, const QString& archivesDirectory,
        const QList<Repository>& repositories, const Options& options);

    // apt-get update for the session's sources.
    void refresh() const;
    // Throws a Failure (not enough space) when what apt says the upgrade downloads does not fit in
    // the archives directory, or what it unpacks does not fit on / and /usr, or the versions to
    // keep (keptBytes) do not fit in the store.
    void checkRoom(qint64 keptBytes = 0) const;
    // The upgrade (or, with -p, the one package); returns apt's verdict.
    bool upgrade() const;
    // The newest kernel metapackage, when the sources offer it; returns apt's verdict.
    bool installLatestKernel() const;
    // What the upgrade (or the given apt-get request) would do, from apt's simulation, with each
    // package's mark and architecture before it.
    QList<PlannedChange> plan() const;
    QList<PlannedChange> plan(const QStringList& request) const;
    // An apt-get request that installs and removes, answered when nobody can answer.
    bool install(const QStringList& request) const;
    // Brings a dpkg that an interrupted run left inconsistent back in order with the session's
    // sources: what dpkg says must be reinstalled is reinstalled, apt completes what was half done,
    // dpkg configures the rest. Returns the packages dpkg's audit still names (none: in order).
    QStringList repair(bool whileStopping) const;

private:
    // apt-get with the session's configuration and environment.
    ChildRun aptGet(const QStringList& arguments) const;
    // An apt-get command that installs: simulated with -n, answered when nobody can answer.
    bool runAptGet(const QStringList& arguments) const;
    // What apt-get is asked for the upgrade (or, with -p, the one package).
    QStringList upgradeArguments() const;

    Options m_options;
    QString m_archivesDirectory;
    QStringList m_configuration; // -o pairs
    QProcessEnvironment m_environment;
    bool m_interactive = false;
};

// Space a step needs at a path.
struct SpaceNeed
{
    QString path;
    qint64 bytes;
};
// What does not fit, per file system ("/ needs 812 MB, 640 MB are free"), with a margin for dpkg's
// own files; empty when all fits.
QString spaceShortage(const QList<SpaceNeed>& needs);

// The Russian messages of apt and dpkg are what the progress display reads.
void ensureRussianLocale();
// Throws a Failure naming the process when another package manager holds dpkg's lock.
void refuseWhileLocked();
// dpkg --configure -a: finishes what an interrupted dpkg left half done; returns dpkg's verdict.
// While stopping, it runs all the same: it is the clean-up.
bool configurePending(bool whileStopping = false);
// The packages dpkg's audit names (unpacked, half-installed, to be reinstalled...); empty when dpkg
// is consistent.
QStringList packagesInDisorder();
// VERSION_CODENAME of /etc/os-release, else of /usr/lib/os-release; throws a Failure when neither
// names one.
QString systemCodename();
