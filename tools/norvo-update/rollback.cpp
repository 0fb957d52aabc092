#include "rollback.h"

#include <algorithm>
#include <csignal>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSet>

#include "aptsession.h"
#include "childrun.h"
#include "console.h"
#include "helpercommand.h"
#include "inhibitor.h"
#include "keptversions.h"
#include "rundirectory.h"

namespace {

QSet<QString> packagesOf(const RunRecord& record)
{
    QSet<QString> packages;
    for (const PlannedChange& change : record.plan)
        packages << change.package;
    return packages;
}

// A later update stands in the way when it changed (some of) the same packages and was not rolled
// back itself; one that ended with a code that means it changed nothing does not. Empty when none
// does, otherwise why.
QString laterUpdateInTheWay(const RunRecord& target, const QList<RunRecord>& records)
{
    const QSet<QString> packages = packagesOf(target);
    for (const RunRecord& later : records) {
        if (later.sequence <= target.sequence || later.kind != QLatin1String("update")
            || !later.rolledBackBy.isEmpty() || !later.changedPackages())
            continue;
        QStringList shared = QStringList(packagesOf(later).intersect(packages).values());
        if (shared.isEmpty())
            continue;
        shared.sort();
        return QStringLiteral(
            "the later run %1 changed %2 as well; roll it back first (norvo-update --rollback %1)")
            .arg(later.id, shared.join(QStringLiteral(", ")));
    }
    return QString();
}

// Whether --rollback would take the run on now: an update that changed packages, not rolled back,
// with its kept files as they were kept and no later update of the same packages standing.
bool canRollBack(const RunRecord& run, const QList<RunRecord>& records)
{
    if (run.kind != QLatin1String("update") || !run.rolledBackBy.isEmpty() || !run.changedPackages()
        || !laterUpdateInTheWay(run, records).isEmpty())
        return false;
    return std::all_of(run.kept.cbegin(), run.kept.cend(),
        [](const KeptFile& file) { return KeptVersions::checkKept(file).isEmpty(); });
}

// apt's marks of the packages the update changed, as they were before it, for those whose version
// from before is installed again; returns how many.
int putMarksBack(const RunRecord& update)
{
    QStringList packages;
    for (const PlannedChange& change : update.plan)
        packages << change.package;
    // dpkg-query names what it does not know on standard error and the rest all the same.
    const QByteArray installed = KivAdmin::runHelper(QStringLiteral("dpkg-query"),
        QStringList {QStringLiteral("-W"), QStringLiteral("-f=${Package} ${Version}\n")} + packages)
                                     .output;
    const QList<QByteArray> lines = installed.split('\n');
    QStringList automatic;
    QStringList manual;
    for (const PlannedChange& change : update.plan) {
        if (!change.before.isEmpty()
            && lines.contains((change.package + QLatin1Char(' ') + change.before).toUtf8()))
            (change.wasAuto ? automatic : manual) << change.package;
    }
    for (const auto& [mark, marked] :
        {std::pair {QStringLiteral("auto"), automatic}, std::pair {QStringLiteral("manual"), manual}}) {
        if (marked.isEmpty())
            continue;
        ChildRun run;
        run.program = QStringLiteral("apt-mark");
        run.arguments = QStringList {mark} + marked;
        run.captureOutput = true;
        if (!runChild(run).succeeded)
            warn(QStringLiteral("apt's marks could not be put back (apt-mark %1 %2)")
                     .arg(mark, marked.join(QLatin1Char(' '))));
    }
    return automatic.size() + manual.size();
}

} // namespace

int rollBack(const Options& options, const RunLog& log, RunRecord* record)
{
    const UpdateLock running;
    cleanUpAfterAbruptEnds(*record);
    const QList<RunRecord> records = Journal::all();
    RunRecord target = Journal::find(options.rollback);
    if (target.kind != QLatin1String("update"))
        throw Failure {
            ExitCode::usage, QStringLiteral("%1 is a rollback itself; roll back an update").arg(target.id)};
    if (!target.rolledBackBy.isEmpty())
        throw Failure {ExitCode::usage,
            QStringLiteral("%1 was rolled back already by %2").arg(target.id, target.rolledBackBy)};
    if (!target.changedPackages())
        throw Failure {ExitCode::usage,
            QStringLiteral("run %1 changed no package; there is nothing to roll back").arg(target.id)};
    const QSet<QString> touched = packagesOf(target);
    const QString inTheWay = laterUpdateInTheWay(target, records);
    if (!inTheWay.isEmpty())
        throw Failure {ExitCode::usage, inTheWay + QStringLiteral("; nothing was changed")};

    // Every version to put back, kept and unchanged since, before anything changes.
    QStringList request {QStringLiteral("install"), QStringLiteral("--allow-downgrades")};
    QStringList keptFiles;
    for (const PlannedChange& change : target.plan) {
        if (change.before.isEmpty()) {
            request << change.package + QLatin1Char('-');
            continue;
        }
        const auto kept
            = std::find_if(target.kept.cbegin(), target.kept.cend(), [&change](const KeptFile& file) {
                  return file.package == change.package && file.version == change.before;
              });
        if (kept == target.kept.cend())
            throw Failure {ExitCode::verificationFailed,
                QStringLiteral("run %1 kept no copy of %2 %3; nothing was changed")
                    .arg(target.id, change.package, change.before)};
        const QString problem = KeptVersions::checkKept(*kept);
        if (!problem.isEmpty())
            throw Failure {ExitCode::verificationFailed, problem + QStringLiteral("; nothing was changed")};
        keptFiles << kept->file;
        request << change.package + QLatin1Char('=') + change.before;
    }
    Journal::placeNew(record);
    record->kind = QStringLiteral("rollback");
    record->rollbackOf = target.id;
    Journal::write(*record);
    log.note(QStringLiteral("rollback of %1").arg(target.id));

    refuseWhileLocked();
    const ShutdownInhibitor inhibitor(log);
    if (!configurePending())
        warn(QStringLiteral(
            "dpkg could not finish an earlier interrupted run (dpkg --configure -a, see above); the rollback goes on"));

    // A repository of the kept files, beside the store so that they are linked, not copied.
    const ScratchDirectory work(
        QStringLiteral("/var/lib/norvo-update/rollback-%1").arg(QCoreApplication::applicationPid()));
    QDir().mkpath(work.path() + QStringLiteral("/pool"));
    for (const QString& file : qAsConst(keptFiles)) {
        const QString link = work.path() + QStringLiteral("/pool/") + QFileInfo(file).fileName();
        if (!KeptVersions::linkOrCopy(file, link))
            throw Failure {
                ExitCode::updateFailed, QStringLiteral("cannot use %1 for the rollback").arg(file)};
    }
    // The index first, then the Release file that lists it.
    const QStringList indexes[] {
        {QStringLiteral("packages"), QStringLiteral("pool"), QStringLiteral("Packages")},
        {QStringLiteral("release"), QStringLiteral("."), QStringLiteral("Release")}};
    for (const QStringList& index : indexes) {
        ChildRun run;
        run.program = QStringLiteral("apt-ftparchive");
        run.arguments = index.mid(0, 2);
        run.workingDirectory = work.path();
        run.captureOutput = true;
        const ChildResult made = runChild(run);
        QFile output(work.path() + QLatin1Char('/') + index.at(2));
        if (!made.succeeded || !output.open(QIODevice::WriteOnly)
            || output.write(made.output) != made.output.size())
            throw Failure {
                ExitCode::updateFailed, QStringLiteral("cannot index the kept versions (apt-ftparchive)")};
    }
    Repository kept;
    kept.source = Journal::keptDirectory();
    kept.uri = QStringLiteral("copy:") + work.path();
    kept.suite = QStringLiteral("./");
    kept.trusted = true;
    Options aptOptions;
    aptOptions.nonInteractive = options.nonInteractive;
    QDir().mkpath(work.path() + QStringLiteral("/apt"));
    const AptSession apt(
        work.path() + QStringLiteral("/apt"), work.path() + QStringLiteral("/archives"), {kept}, aptOptions);
    apt.refresh();
    // An update cut short leaves dpkg unfinished: put in order first, with the kept versions.
    if (!packagesInDisorder().isEmpty())
        apt.repair(false);
    record->plan = apt.plan(request);
    // A package installed after the update that needs its versions would go along without a word.
    QStringList others;
    for (const PlannedChange& change : qAsConst(record->plan)) {
        if (!touched.contains(change.package))
            others << change.package;
    }
    if (!others.isEmpty() && !options.alsoOthers)
        throw Failure {ExitCode::usage,
            QStringLiteral(
                "the rollback would also change or remove %1, which the update did not touch; nothing "
                "was changed (--also-others takes them along)")
                .arg(others.join(QStringLiteral(", ")))};
    Journal::write(*record);
    say(QStringLiteral("Rolling back %1: %2 packages return to their versions before it.")
            .arg(target.id)
            .arg(target.plan.size()));
    if (!apt.install(request))
        throw Failure {ExitCode::updateFailed, QStringLiteral("the rollback failed")};
    // apt may end well and still leave a package unpacked or to be reinstalled: only dpkg's own
    // audit tells a rollback that is done.
    QStringList left;
    for (const QString& package : packagesInDisorder()) {
        if (touched.contains(package))
            left << package;
    }
    if (!left.isEmpty())
        throw Failure {ExitCode::updateFailed,
            QStringLiteral("the rollback left %1 not in order (dpkg --audit)")
                .arg(left.join(QStringLiteral(", ")))};
    putMarksBack(target);
    target.rolledBackBy = record->id;
    Journal::write(target);
    return 0;
}

int showHistory(const QString& id)
{
    if (!id.isEmpty()) {
        say(QString::fromUtf8(QJsonDocument(Journal::find(id).toJson()).toJson(QJsonDocument::Indented))
                .trimmed());
        return 0;
    }
    const QList<RunRecord> records = Journal::all();
    for (const RunRecord& record : records)
        say(record.summary()
            + (canRollBack(record, records) ? QStringLiteral("  [can be rolled back]") : QString()));
    return 0;
}

void cleanUpAfterAbruptEnds(const RunRecord& own)
{
    const auto removeLeftovers = [](const QString& folder, const QString& prefix) {
        const QString ownName = prefix + QString::number(QCoreApplication::applicationPid());
        for (const QFileInfo& entry : QDir(folder).entryInfoList({prefix + QLatin1Char('*')},
                 QDir::Dirs | QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot | QDir::NoSymLinks)) {
            if (entry.fileName() == ownName
                || !(entry.isDir() ? QDir(entry.absoluteFilePath()).removeRecursively()
                                   : QFile::remove(entry.absoluteFilePath())))
                continue;
            say(QStringLiteral("Removed %1, left by a run that ended abruptly.")
                    .arg(entry.absoluteFilePath()));
        }
    };
    removeLeftovers(QFileInfo(Journal::keptDirectory()).path(), QStringLiteral("rollback-"));

    const QList<RunRecord> records = Journal::all();
    for (RunRecord record : records) {
        if (record.state != QLatin1String("unfinished") || record.id == own.id)
            continue;
        KeptVersions::completeLeftArchives(&record);
        record.state = QStringLiteral("failed");
        record.exitCode = ExitCode::stoppedBySignal + SIGKILL;
        record.message = record.dpkgStarted
            ? QStringLiteral("the run ended abruptly (killed, or the power lost) while dpkg may have worked")
            : QStringLiteral(
                "the run ended abruptly (killed, or the power lost) before dpkg changed anything");
        if (record.kind == QLatin1String("rollback")) {
            // apt may have changed packages and not put the marks back yet.
            for (const RunRecord& update : records) {
                if (update.id == record.rollbackOf)
                    record.message
                        += QStringLiteral("; apt's marks of %1 packages put back").arg(putMarksBack(update));
            }
        }
        Journal::write(record);
        say(QStringLiteral("The run %1 %2.")
                .arg(record.id, record.message.mid(QStringLiteral("the run ").size())));
    }
    removeLeftovers(Journal::keptDirectory(), QStringLiteral(".rebuild-"));
    removeLeftovers(Journal::keptDirectory(), QStringLiteral(".archiving-"));
}
