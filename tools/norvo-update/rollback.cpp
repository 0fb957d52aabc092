#include "rollback.h"

#include <algorithm>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSet>

#include "aptsession.h"
#include "childrun.h"
#include "console.h"
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

void setMarks(const QString& mark, const QStringList& packages)
{
    if (packages.isEmpty())
        return;
    ChildRun run;
    run.program = QStringLiteral("apt-mark");
    run.arguments = QStringList {mark} + packages;
    run.captureOutput = true;
    if (!runChild(run).succeeded)
        warn(QStringLiteral("apt's marks could not be put back (apt-mark %1 %2)")
                 .arg(mark, packages.join(QLatin1Char(' '))));
}

} // namespace

int rollBack(const Options& options, const RunLog& log, RunRecord* record)
{
    const UpdateLock running;
    Journal::cleanUpAfterAbruptEnds(*record);
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
    const QString inTheWay = laterUpdateInTheWay(target, records);
    if (!inTheWay.isEmpty())
        throw Failure {ExitCode::usage, inTheWay + QStringLiteral("; nothing was changed")};

    // Every version to put back, kept and unchanged since, before anything changes.
    QStringList request {QStringLiteral("install"), QStringLiteral("--allow-downgrades")};
    QStringList keptFiles;
    QStringList automatic;
    QStringList manual;
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
        (change.wasAuto ? automatic : manual) << change.package;
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
        if (!packagesOf(target).contains(change.package))
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
        if (packagesOf(target).contains(package))
            left << package;
    }
    if (!left.isEmpty())
        throw Failure {ExitCode::updateFailed,
            QStringLiteral("the rollback left %1 not in order (dpkg --audit)")
                .arg(left.join(QStringLiteral(", ")))};
    setMarks(QStringLiteral("auto"), automatic);
    setMarks(QStringLiteral("manual"), manual);
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
