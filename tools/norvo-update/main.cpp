// norvo-update: brings the system up to the packages of the given update sources (ISO images,
// repository addresses) or of its configured repositories, through apt and dpkg.

#include <unistd.h>

#include <memory>
#include <vector>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QUrl>

#include "aptsession.h"
#include "childrun.h"
#include "console.h"
#include "images.h"
#include "inhibitor.h"
#include "keptsources.h"
#include "options.h"
#include "repositories.h"
#include "rundirectory.h"
#include "runlog.h"
#include "updatetimer.h"

namespace {

const QString stateDirectory = QStringLiteral("/run/norvo-update");
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

int update(const Options& options, const RunLog& log)
{
    if (options.timerSwitch != Options::TimerSwitch::None)
        return switchTimer(options.timerSwitch);

    // One update at a time: a second one (the automatic update beside the window's) would only
    // meet the first in apt's locks halfway through.
    QDir().mkpath(stateDirectory);
    const UpdateLock running(stateDirectory + QStringLiteral("/norvo-update.lock"));

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
    verifyImages(checked, extensions);

    // The run's apt configuration, package lists and mount points.
    const QString workPath
        = stateDirectory + QLatin1Char('/') + QString::number(QCoreApplication::applicationPid());
    cleanUpDeadRuns(stateDirectory, workPath);
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
    if (!options.simulate)
        archives = std::make_unique<ScratchDirectory>(archivesDirectory);
    const AptSession apt(work.path(), archives ? archives->path() : QString(), repositories, options);
    apt.refresh();
    if (!options.simulate)
        apt.checkRoom();
    if (!apt.upgrade())
        throw Failure {ExitCode::updateFailed, QStringLiteral("the update failed")};
    if (options.latestKernel && options.onlyPackage.isEmpty() && !apt.installLatestKernel())
        throw Failure {ExitCode::updateFailed, QStringLiteral("the newest kernel could not be installed")};
    if (options.keepSources && !options.simulate)
        keepSources(repositories, work.path(), log);
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    watchStopSignals();
    const QStringList arguments = application.arguments().mid(1);

    Options options;
    QString error;
    if (!parseOptions(arguments, &options, &error)) {
        warn(QStringLiteral("") + error);
        complain(usage());
        return ExitCode::usage;
    }
    if (geteuid() != 0) {
        warn(QStringLiteral("must be run as root"));
        return ExitCode::usage;
    }

    // A command line is for every local user to read: the window gives addresses without their
    // passwords there, and the addresses with them in the environment, which only root can read.
    const QStringList logins
        = qEnvironmentVariable("NORVO_UPDATE_LOGINS").split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (QString& source : options.sources) {
        for (const QString& login : logins) {
            if (login != source && withoutPassword(login) == source)
                source = login;
        }
    }

    QStringList shownArguments;
    for (const QString& argument : arguments)
        shownArguments << withoutPassword(argument);
    const RunLog log(shownArguments);
    int exitCode = 0;
    try {
        exitCode = update(options, log);
        log.note(QStringLiteral("finished: success"));
    } catch (const Failure& failure) {
        warn(failure.message);
        log.note(QStringLiteral("finished: exit code %1: %2").arg(failure.exitCode).arg(failure.message));
        exitCode = failure.exitCode;
    }
    return exitCode;
}
