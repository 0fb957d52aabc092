#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

// One package in apt's plan of a run: installed (no version before), upgraded or downgraded, or
// removed (no version after).
struct PlannedChange
{
    QString package;
    QString architecture;
    QString before;
    QString after;
    bool wasAuto = false; // apt's mark before the run: installed as a dependency

    QString action() const;
};

// The installed version of a package as the run kept it before dpkg changed anything.
struct KeptFile
{
    QString package;
    QString version;
    QString architecture;
    QString file;
    QString sha256;
    QString from; // "store", "cache" or "rebuilt"
};

struct SourceRecord
{
    QString source; // without a password
    QStringList checksums; // "md5:DIGEST", "gost:DIGEST": what the source was verified against
};

// One run of the tool that could change the system, as the journal keeps it: a JSON file of its
// own in the journal's folder, always written whole. The format is described in tools/README.md.
struct RunRecord
{
    QString id;
    // The run's place among all runs: one more than any run recorded before it. IDs hold the local
    // time, which a clock set back or another time zone puts out of order.
    qint64 sequence = 0;
    QString kind = QStringLiteral("update"); // or "rollback"
    bool simulation = false; // -n: the plan of an update that changed nothing
    QString rollbackOf; // for a rollback: the run it undid
    QString rolledBackBy; // for an update: the rollback that undid it
    QDateTime started;
    QDateTime ended;
    QStringList commandLine;
    QList<SourceRecord> sources;
    QString releaseBefore;
    QString releaseAfter;
    QList<PlannedChange> plan;
    QList<KeptFile> kept;
    // dpkg may have changed something: set before apt's upgrade starts. A run killed before it
    // changed nothing. Records of earlier versions have no such mark and count as changed.
    bool dpkgStarted = true;
    QString state = QStringLiteral("unfinished"); // "succeeded", "failed"
    int exitCode = -1;
    QString message;

    QJsonObject toJson() const;
    // Empty error on success.
    static RunRecord fromJson(const QJsonObject& object, QString* error);
    // One line for a list of runs.
    QString summary() const;
    // An update that changed packages, or may have: not one that ended with a code that means it
    // changed nothing (2 to 5).
    bool changedPackages() const;
};

namespace Journal {

// /var/lib/norvo-update/history: root's alone.
QString directory();
// Where the versions runs replaced are kept.
QString keptDirectory();
// Makes the folder, root's alone (0700); throws a Failure when it cannot, or when it stands there
// already as anything but a folder of root's that nobody else can write.
void makePrivateDirectory(const QString& path);
// An id that tells the time: 20261207-034512-4242 (local date, time, process).
QString newId();
// A new id and the next place in the journal for a run about to be recorded.
void placeNew(RunRecord* record);
// Writes the record whole: a reader finds the old record or the new one, never a part.
void write(const RunRecord& record);
// Every run in the order they were recorded (by their sequence); records that cannot be read are
// named on standard error and skipped.
QList<RunRecord> all();
// The run with the id, or for "last" the newest update that changed packages; throws a Failure
// (usage) when there is none.
RunRecord find(const QString& id);
// The release named in /etc/norvo_version; empty when unknown.
QString installedRelease();

} // namespace Journal
