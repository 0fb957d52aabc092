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
#include <QLockFile>
#include <QUrl>

#include "aptsession.h"
#include "childrun.h"
#include "console.h"
#include "options.h"
#include "repositories.h"
#include "runlog.h"
#include "updatetimer.h"

namespace {

const QString stateDirectory = QStringLiteral("/run/norvo-update");
// Written by -d when it disabled the timer, so that -e enables only what -d disabled.
const QString timerMark = stateDirectory + QStringLiteral("/timer-disabled-by-update");
const QString keptDirectory = QStringLiteral("/var/cache/norvo-update/sources");
const QString archivesDirectory = QStringLiteral("/var/cache/norvo-update/archives");
const QString keptSourcesList = QStringLiteral("/etc/apt/sources.list.d/norvo-update-kept.list");

// A directory that lives as long as the run: emptied first (of a run that was killed), removed
// at the end.
class ScratchDirectory final
{
public:
    explicit ScratchDirectory(const QString& path)
        : m_path(path)
    {
        QDir(m_path).removeRecursively();
        if (!QDir().mkpath(m_path))
            throw Failure {
                ExitCode::updateFailed, QStringLiteral("norvo-update: cannot create %1").arg(m_path)};
    }
    ~ScratchDirectory()
    {
        // Never remove files through a mount that could not be undone.
        QFile mounts(QStringLiteral("/proc/self/mountinfo"));
        if (mounts.open(QIODevice::ReadOnly)
            && mounts.readAll().contains(QFile::encodeName(m_path + QLatin1Char('/')))) {
            complain(QStringLiteral("norvo-update: %1 still holds a mounted image and is left in place")
                         .arg(m_path));
            return;
        }
        QDir(m_path).removeRecursively();
    }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    QString path() const { return m_path; }

private:
    QString m_path;
};

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
        if (!UpdateTimer::disable(&error))
            throw Failure {ExitCode::updateFailed,
                QStringLiteral("norvo-update: cannot disable the automatic update: %1").arg(error)};
        QDir().mkpath(stateDirectory);
        QFile mark(timerMark);
        mark.open(QIODevice::WriteOnly);
        say(QStringLiteral("The automatic update is disabled until norvo-update -e."));
        return 0;
    }
    if (!QFile::exists(timerMark)) {
        say(QStringLiteral("The automatic update was not disabled by norvo-update -d; left as it is."));
        return 0;
    }
    if (!UpdateTimer::enable(&error))
        throw Failure {ExitCode::updateFailed,
            QStringLiteral("norvo-update: cannot enable the automatic update again: %1").arg(error)};
    QFile::remove(timerMark);
    say(QStringLiteral("The automatic update is enabled again."));
    return 0;
}

QList<Repository> findRepositories(const QString& source, int index, const QString& workDirectory,
    std::vector<std::unique_ptr<MountedImage>>* images)
{
    if (isNetworkAddress(source))
        return findNetworkRepositories(source, systemCodename(), workDirectory);
    if (isLocalAddress(source))
        return findLocalRepositories(source, QUrl(source).toLocalFile());
    images->push_back(
        std::make_unique<MountedImage>(source, workDirectory + QStringLiteral("/image-%1").arg(index)));
    return findLocalRepositories(source, images->back()->mountPoint());
}

// Copies each local repository to the cache and names it in a sources file of its own, so that
// apt finds the update's packages later without the image.
void keepSources(const QList<Repository>& repositories, const RunLog& log)
{
    QStringList lines;
    QFile existing(keptSourcesList);
    if (existing.open(QIODevice::ReadOnly))
        lines = QString::fromUtf8(existing.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    existing.close();

    QHash<QString, QString> copies; // repository root -> its copy
    for (Repository repository : repositories) {
        if (!repository.localRoot.isEmpty()) {
            QString name = QFileInfo(repository.source).completeBaseName();
            if (isLocalAddress(repository.source) || name.isEmpty())
                name = QFileInfo(repository.localRoot).fileName();
            // Two images of the same name in different folders keep two copies.
            QString target = copies.value(repository.localRoot);
            if (target.isEmpty()) {
                target = keptDirectory + QLatin1Char('/') + name;
                for (int n = 2; copies.values().contains(target); ++n)
                    target = keptDirectory + QLatin1Char('/') + name + QStringLiteral("-%1").arg(n);
            }
            if (!copies.contains(repository.localRoot)) {
                say(QStringLiteral("Keeping %1 in %2...").arg(repository.source, target));
                QDir(target).removeRecursively();
                QDir().mkpath(target);
                ChildRun copy;
                copy.program = QStringLiteral("cp");
                copy.arguments
                    = QStringList {QStringLiteral("-a"), repository.localRoot + QStringLiteral("/."), target};
                copy.timeoutMs = 60 * 60 * 1000; // a whole image on a slow disk
                if (!runChild(copy).succeeded)
                    throw Failure {ExitCode::updateFailed,
                        QStringLiteral("norvo-update: cannot keep %1 in %2").arg(repository.source, target)};
                copies.insert(repository.localRoot, target);
            }
            repository.uri = QStringLiteral("file:") + target;
        }
        const QString line = repository.sourcesLine();
        if (!lines.contains(line))
            lines << line;
    }
    QDir().mkpath(QFileInfo(keptSourcesList).path());
    QFile file(keptSourcesList);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw Failure {
            ExitCode::updateFailed, QStringLiteral("norvo-update: cannot write %1").arg(keptSourcesList)};
    file.write((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());
    log.note(QStringLiteral("sources kept in %1, listed in %2").arg(keptDirectory, keptSourcesList));
}

int update(const Options& options, const RunLog& log)
{
    if (options.timerSwitch != Options::TimerSwitch::None)
        return switchTimer(options.timerSwitch);

    // One update at a time: a second one (the automatic update beside the window's) would only
    // meet the first in apt's locks halfway through.
    QDir().mkpath(stateDirectory);
    QLockFile running(stateDirectory + QStringLiteral("/norvo-update.lock"));
    running.setStaleLockTime(0); // stale only when its process is gone, however long an update takes
    if (!running.tryLock(0)) {
        qint64 pid = 0;
        QString host;
        QString program;
        running.getLockInfo(&pid, &host, &program);
        throw Failure {ExitCode::packageManagerBusy,
            QStringLiteral(
                "norvo-update: another update is running (process %1). Try again when it has finished.")
                .arg(pid)};
    }

    // Images are checked before anything is mounted or changed.
    for (const QString& source : options.sources) {
        if (!isImage(source))
            continue;
        if (!QFileInfo(source).isFile())
            throw Failure {
                ExitCode::updateFailed, QStringLiteral("norvo-update: image %1 not found").arg(source)};
        if (options.gostCheck)
            verifyImage(source, QStringLiteral("gost"));
        if (options.md5Check)
            verifyImage(source, QStringLiteral("md5"));
    }

    // The run's apt configuration, package lists and mount points.
    const ScratchDirectory work(
        stateDirectory + QLatin1Char('/') + QString::number(QCoreApplication::applicationPid()));
    std::vector<std::unique_ptr<MountedImage>> images;
    QList<Repository> repositories;
    for (int i = 0; i < options.sources.size(); ++i) {
        const QString& source = options.sources.at(i);
        const QList<Repository> found = findRepositories(source, i, work.path(), &images);
        if (found.isEmpty())
            throw Failure {ExitCode::updateFailed,
                QStringLiteral("norvo-update: no repository (dists/*/Release) found in %1").arg(source)};
        for (const Repository& repository : found) {
            say(QStringLiteral("Source %1: %2 %3")
                    .arg(source, repository.suite, repository.components.join(QLatin1Char(' '))));
            log.note(QStringLiteral("source: %1 -> %2").arg(source, repository.sourcesLine()));
        }
        repositories << found;
        checkStopRequest();
    }

    const QString codename = systemCodename();
    if (!options.systemRepositories && !options.noMainRepository) {
        const bool hasMain = std::any_of(repositories.cbegin(), repositories.cend(),
            [&](const Repository& r) { return isMainRepository(r, codename); });
        if (!hasMain)
            throw Failure {ExitCode::updateFailed,
                QStringLiteral(
                    "norvo-update: none of the sources holds the distribution's main repository (%1 main); add it, or pass -T to update without it")
                    .arg(codename)};
    }

    ensureRussianLocale();
    if (!options.simulate) {
        refuseWhileLocked();
        recoverInterruptedDpkg();
    }
    // The archives of the given sources go to a cache of the run's own on disk, not to apt's: the
    // system's cache does not fill with a whole disc, and every package the update installs is
    // fetched (and shown as fetched) by this run.
    std::unique_ptr<ScratchDirectory> archives;
    if (!options.systemRepositories && !options.simulate)
        archives = std::make_unique<ScratchDirectory>(archivesDirectory);
    const AptSession apt(work.path(), archives ? archives->path() : QString(), repositories, options);
    apt.refresh();
    checkStopRequest();
    if (!apt.upgrade())
        throw Failure {ExitCode::updateFailed, QStringLiteral("norvo-update: the update failed")};
    if (options.latestKernel && options.onlyPackage.isEmpty() && !apt.installLatestKernel())
        throw Failure {
            ExitCode::updateFailed, QStringLiteral("norvo-update: the newest kernel could not be installed")};
    if (options.keepSources && !options.simulate)
        keepSources(repositories, log);
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
        complain(QStringLiteral("norvo-update: ") + error);
        complain(usage());
        return ExitCode::usage;
    }
    if (geteuid() != 0) {
        complain(QStringLiteral("norvo-update: must be run as root"));
        return ExitCode::usage;
    }

    const RunLog log(arguments);
    int exitCode = 0;
    try {
        exitCode = update(options, log);
        log.note(QStringLiteral("finished: success"));
    } catch (const Failure& failure) {
        complain(failure.message);
        log.note(QStringLiteral("finished: exit code %1: %2").arg(failure.exitCode).arg(failure.message));
        exitCode = failure.exitCode;
    }
    return exitCode;
}
