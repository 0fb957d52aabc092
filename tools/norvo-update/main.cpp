// norvo-update: brings the system up to the packages of the given update sources (ISO images,
// repository addresses) or of its configured repositories, through apt and dpkg.

#include <fcntl.h>
#include <unistd.h>

#include <memory>
#include <vector>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QUrl>

#include "aptsession.h"
#include "childrun.h"
#include "console.h"
#include "images.h"
#include "inhibitor.h"
#include "journal.h"
#include "keptsources.h"
#include "keptversions.h"
#include "options.h"
#include "repositories.h"
#include "rollback.h"
#include "rundirectory.h"
#include "runlog.h"
#include "updatetimer.h"

namespace {

// Written by -d when it disabled the timer, so that -e enables only what -d disabled. It lies
// where a reboot keeps it: a crash and a reboot between the two must not leave the timer off.
const QString timerMark = QStringLiteral("/var/lib/norvo-update/timer-disabled-by-update");
const QString archivesDirectory = QStringLiteral("/var/cache/norvo-update/archives");
// Private copies of images that others could change between their check and their use.
const QString imagesDirectory = QStringLiteral("/var/cache/norvo-update/images");

bool isNetworkAddress(const QString& source)
{
    for (const char* scheme : {"http://", "https://", "ftp://"}) {
        if (source.startsWith(QLatin1String(scheme)))
            return true;
    }
    return false;
}

bool isLocalAddress(const QString& source)
{
    return source.startsWith(QLatin1String("file://"));
}

bool isImage(const QString& source)
{
    return !isNetworkAddress(source) && !isLocalAddress(source);
}

int switchTimer(Options::TimerSwitch timerSwitch)
{
    QString error;
    if (timerSwitch == Options::TimerSwitch::Disable) {
        if (!UpdateTimer::isEnabled(UpdateTimer::timerUnit)) {
            say(QStringLiteral("The automatic update is not enabled; nothing to disable."));
            return 0;
        }
        // The mark first: a timer switched off without it would never be switched on again.
        QFile mark(timerMark);
        if (!QDir().mkpath(QFileInfo(timerMark).path()) || !mark.open(QIODevice::WriteOnly))
            throw Failure {ExitCode::updateFailed,
                QStringLiteral("cannot disable the automatic update: %1: %2")
                    .arg(timerMark, mark.errorString())};
        mark.close();
        if (!UpdateTimer::disable(&error)) {
            QFile::remove(timerMark);
            throw Failure {
                ExitCode::updateFailed, QStringLiteral("cannot disable the automatic update: %1").arg(error)};
        }
        say(QStringLiteral("The automatic update is disabled until norvo-update -e."));
        return 0;
    }
    if (!QFile::exists(timerMark)) {
        say(QStringLiteral("The automatic update was not disabled by norvo-update -d; left as it is."));
        return 0;
    }
    if (!UpdateTimer::enable(&error))
        throw Failure {ExitCode::updateFailed,
            QStringLiteral("cannot enable the automatic update again: %1").arg(error)};
    QFile::remove(timerMark);
    say(QStringLiteral("The automatic update is enabled again."));
    return 0;
}

QList<Repository> findRepositories(const QString& source, const QString& imagePath, int index,
    const QString& workDirectory, std::vector<std::unique_ptr<MountedImage>>* images)
{
    if (isNetworkAddress(source))
        return findNetworkRepositories(source, systemCodename(), workDirectory);
    if (isLocalAddress(source))
        return findLocalRepositories(source, QUrl(source).toLocalFile());
    images->push_back(
        std::make_unique<MountedImage>(imagePath, workDirectory + QStringLiteral("/image-%1").arg(index)));
    return findLocalRepositories(source, images->back()->mountPoint());
}

// The packages a run fetched, moved to the store of kept versions however the run ends: they are
// the versions the next run replaces.
class FetchedPackages final
{
public:
    explicit FetchedPackages(const QString& archives)
        : m_archives(archives)
    { }
    ~FetchedPackages() { KeptVersions::storeFetched(m_archives); }
    FetchedPackages(const FetchedPackages&) = delete;
    FetchedPackages& operator=(const FetchedPackages&) = delete;

private:
    QString m_archives;
};

// The run in the journal: recorded as unfinished from the start, so that a run killed half-way
// leaves a record that says so.
void recordRun(RunRecord* record)
{
    Journal::placeNew(record);
    Journal::write(*record);
}

// --json: standard output carries the run's record alone. What the tool says, and everything its
// children (apt, dpkg) write there, goes to standard error instead.
class JsonOutput final
{
public:
    // The record's own descriptor is closed in every child: a daemon that a maintainer script
    // starts must neither hold the reader's pipe open nor write into the record.
    JsonOutput()
        : m_output(::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3))
    {
        ::dup2(STDERR_FILENO, STDOUT_FILENO);
    }
    ~JsonOutput() { ::close(m_output); }
    JsonOutput(const JsonOutput&) = delete;
    JsonOutput& operator=(const JsonOutput&) = delete;

    void print(const RunRecord& record) const
    {
        const QByteArray text = QJsonDocument(record.toJson()).toJson(QJsonDocument::Compact) + '\n';
        for (qint64 written = 0; written < text.size();) {
            const ssize_t chunk
                = ::write(m_output, text.constData() + written, size_t(text.size() - written));
            if (chunk <= 0)
                return;
            written += chunk;
        }
    }

private:
    int m_output;
};

int update(const Options& options, const RunLog& log, RunRecord* record)
{
    if (options.timerSwitch != Options::TimerSwitch::None)
        return switchTimer(options.timerSwitch);

    // One update at a time: a second one (the automatic update beside the window's) would only
    // meet the first in apt's locks halfway through.
    const UpdateLock running;
    if (!options.simulate) {
        record->dpkgStarted = false;
        recordRun(record);
        cleanUpAfterAbruptEnds(*record);
    }

    // Images are checked before anything is mounted or changed, and what is checked is what is
    // mounted.
    QStringList extensions;
    if (options.gostCheck)
        extensions << QStringLiteral("gost");
    if (options.md5Check)
        extensions << QStringLiteral("md5");
    std::unique_ptr<ScratchDirectory> copies;
    QHash<QString, QString> imagePaths;
    QList<ImageInUse> checked;
    for (int i = 0; i < options.sources.size(); ++i) {
        const QString& source = options.sources.at(i);
        if (!isImage(source))
            continue;
        if (extensions.isEmpty()) {
            if (!QFileInfo(source).isFile())
                throw Failure {ExitCode::updateFailed, QStringLiteral("image %1 not found").arg(source)};
            imagePaths.insert(source, source);
            continue;
        }
        if (!copies)
            copies = std::make_unique<ScratchDirectory>(imagesDirectory);
        checked << imageToCheck(source, copies->path(), i);
        imagePaths.insert(source, checked.constLast().path);
    }
    const QHash<QString, QStringList> checksums = verifyImages(checked, extensions);
    for (const QString& source : options.sources)
        record->sources << SourceRecord {withoutPassword(source), checksums.value(source)};
    if (!options.simulate)
        Journal::write(*record);

    // The run's apt configuration, package lists and mount points.
    const QString workPath
        = stateDirectory() + QLatin1Char('/') + QString::number(QCoreApplication::applicationPid());
    cleanUpDeadRuns(stateDirectory(), workPath);
    const ScratchDirectory work(workPath);
    std::vector<std::unique_ptr<MountedImage>> images;
    QList<Repository> repositories;
    for (int i = 0; i < options.sources.size(); ++i) {
        const QString& source = options.sources.at(i);
        const QList<Repository> found
            = findRepositories(source, imagePaths.value(source), i, work.path(), &images);
        const QString shown = withoutPassword(source);
        if (found.isEmpty())
            throw Failure {ExitCode::updateFailed,
                QStringLiteral("no repository (dists/*/Release) found in %1").arg(shown)};
        for (const Repository& repository : found) {
            say(QStringLiteral("Source %1: %2 %3")
                    .arg(shown, repository.suite, repository.components.join(QLatin1Char(' '))));
            Repository logged = repository;
            logged.uri = withoutPassword(repository.uri);
            log.note(QStringLiteral("source: %1 -> %2").arg(shown, logged.sourcesLine()));
        }
        repositories << found;
        checkStopRequest();
    }
    // A source that -k could not keep is refused before anything changes.
    if (options.keepSources && !options.simulate) {
        for (const Repository& repository : qAsConst(repositories)) {
            if (!repository.localRoot.isEmpty())
                refuseLinksLeaving(repository);
        }
    }

    if (!options.systemRepositories && !options.noMainRepository) {
        const QString codename = systemCodename();
        const bool hasMain = std::any_of(repositories.cbegin(), repositories.cend(),
            [&](const Repository& r) { return isMainRepository(r, codename); });
        if (!hasMain)
            throw Failure {ExitCode::updateFailed,
                QStringLiteral(
                    "none of the sources holds the distribution's main repository (%1 main); add it, or pass -T to update without it")
                    .arg(codename)};
    }

    ensureRussianLocale();
    checkStopRequest();
    std::unique_ptr<ShutdownInhibitor> inhibitor;
    if (!options.simulate) {
        refuseWhileLocked();
        inhibitor = std::make_unique<ShutdownInhibitor>(log);
        // A package whose maintainer script failed in an earlier run stays so until the update
        // that brings its fix: that update must not be refused for it.
        if (!configurePending()) {
            const QString warning = QStringLiteral(
                "warning: dpkg could not finish an earlier interrupted run (dpkg --configure -a, see above); the update goes on");
            warn(warning);
            log.note(warning);
        }
    }
    // The archives go to a cache of the run's own on disk, not to apt's: the system's cache does
    // not fill with a whole disc, and every package the update installs is fetched (and shown as
    // fetched) by this run, also with -r.
    std::unique_ptr<ScratchDirectory> archives;
    std::unique_ptr<FetchedPackages> fetched;
    if (!options.simulate) {
        archives = std::make_unique<ScratchDirectory>(archivesDirectory);
        fetched = std::make_unique<FetchedPackages>(archivesDirectory);
    }
    const AptSession apt(work.path(), archives ? archives->path() : QString(), repositories, options);
    apt.refresh();
    // A run stopped or cut short while dpkg worked can leave packages that dpkg --configure -a alone
    // cannot finish: with this run's sources they are, before anything is planned.
    const QStringList unfinished = options.simulate ? QStringList() : packagesInDisorder();
    if (!unfinished.isEmpty()) {
        say(QStringLiteral(
            "dpkg was left unfinished by an earlier run (%1); putting it in order with the sources of this run...")
                .arg(unfinished.join(QStringLiteral(", "))));
        const QStringList left = apt.repair(false);
        if (!left.isEmpty())
            warn(QStringLiteral("warning: dpkg is still not in order (%1); the update goes on")
                     .arg(left.join(QStringLiteral(", "))));
    }
    record->plan = apt.plan();
    // Archives still being written when the run ends, however it ends, are completed first.
    std::unique_ptr<KeptVersions::Archiving> archiving;
    if (!options.simulate) {
        Journal::write(*record);
        // The way back first: what the plan replaces is kept before dpkg changes anything.
        const QList<KeptVersions::Step> steps = KeptVersions::stepsFor(record->plan);
        apt.checkRoom(KeptVersions::roomNeeded(steps));
        archiving = KeptVersions::keep(steps, record);
        Journal::write(*record);
    }
    if (!options.simulate) {
        record->dpkgStarted = true;
        Journal::write(*record);
    }
    if (!apt.upgrade())
        throw Failure {ExitCode::updateFailed, QStringLiteral("the update failed")};
    // The update itself stands: what fails after it is a warning with success, so that nobody
    // takes a good update for a failed one and restores or rolls it back.
    QStringList warnings;
    if (options.latestKernel && options.onlyPackage.isEmpty() && !apt.installLatestKernel())
        warnings << QStringLiteral("the newest kernel could not be installed");
    try {
        if (options.keepSources && !options.simulate)
            keepSources(repositories, work.path(), log);
    } catch (const Failure& failure) {
        if (failure.exitCode >= ExitCode::stoppedBySignal)
            throw;
        warnings << failure.message;
    }
    for (const QString& warning : qAsConst(warnings)) {
        warn(QStringLiteral("warning: the update succeeded, but ") + warning);
        log.note(QStringLiteral("warning: ") + warning);
    }
    record->message = warnings.join(QStringLiteral("; "));
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    watchStopSignals();
    const QStringList arguments = application.arguments().mid(1);

    // A command line is for every local user to read: the window gives addresses without their
    // passwords there, and the addresses with them in the environment, which only root can read.
    // Read once and taken out, so that apt's methods, the maintainer scripts and the daemons they
    // start never carry them.
    const QStringList logins
        = qEnvironmentVariable("NORVO_UPDATE_LOGINS").split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    qunsetenv("NORVO_UPDATE_LOGINS");

    QStringList shownArguments;
    for (const QString& argument : arguments)
        shownArguments << withoutPassword(argument);
    // --json answers with one record whatever happens, a refused command line included.
    std::unique_ptr<JsonOutput> json;
    if (arguments.contains(QStringLiteral("--json")))
        json = std::make_unique<JsonOutput>();
    RunRecord record;
    record.commandLine = QStringList {QStringLiteral("norvo-update")} + shownArguments;
    record.started = QDateTime::currentDateTime();
    const auto settle = [&record](int exitCode, const QString& message) {
        record.exitCode = exitCode;
        record.state = exitCode == 0 ? QStringLiteral("succeeded") : QStringLiteral("failed");
        record.message = message;
        record.ended = QDateTime::currentDateTime();
    };
    const auto answer = [&](int exitCode) {
        if (json) {
            // A simulation, or a run refused before it was recorded, still answers with a record.
            if (record.id.isEmpty())
                record.id = Journal::newId();
            json->print(record);
        }
        return exitCode;
    };

    Options options;
    QString error;
    if (!parseOptions(arguments, &options, &error)) {
        warn(QStringLiteral("") + error);
        complain(usage());
        settle(ExitCode::usage, error);
        return answer(ExitCode::usage);
    }
    if (geteuid() != 0) {
        warn(QStringLiteral("must be run as root"));
        settle(ExitCode::usage, QStringLiteral("must be run as root"));
        return answer(ExitCode::usage);
    }

    for (QString& source : options.sources) {
        for (const QString& login : logins) {
            if (login != source && withoutPassword(login) == source)
                source = login;
        }
    }

    if (options.history) {
        try {
            return showHistory(options.historyId);
        } catch (const Failure& failure) {
            warn(failure.message);
            return failure.exitCode;
        }
    }
    const RunLog log(shownArguments);
    record.simulation = options.simulate;
    if (!options.rollback.isEmpty()) {
        record.kind = QStringLiteral("rollback");
        record.rollbackOf = options.rollback;
    }
    record.releaseBefore = Journal::installedRelease();
    int exitCode = 0;
    QString message;
    try {
        exitCode
            = options.rollback.isEmpty() ? update(options, log, &record) : rollBack(options, log, &record);
        message = record.message;
        log.note(QStringLiteral("finished: success"));
    } catch (const Failure& failure) {
        warn(failure.message);
        log.note(QStringLiteral("finished: exit code %1: %2").arg(failure.exitCode).arg(failure.message));
        exitCode = failure.exitCode;
        message = failure.message;
    }
    settle(exitCode, message);
    record.releaseAfter = Journal::installedRelease();
    if (!record.id.isEmpty()) {
        try {
            Journal::write(record);
            KeptVersions::prune(Journal::all());
        } catch (const Failure& failure) {
            warn(failure.message);
        }
    }
    return answer(exitCode);
}
