#include "keptversions.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include <memory>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QSet>
#include <QSettings>
#include <QThread>

#include "childrun.h"
#include "console.h"
#include "helpercommand.h"
#include "regularfile.h"
#include "repack.h"

namespace {

const QString aptCache = QStringLiteral("/var/cache/apt/archives");
// A package rebuilt from its files takes seconds: no single one may take more.
constexpr int rebuildTimeoutMs = 10 * 60 * 1000;

QString storePath(const QString& name)
{
    return Journal::keptDirectory() + QLatin1Char('/') + name;
}

QString storeName(const PlannedChange& change)
{
    return KeptVersions::fileName(
        change.package.section(QLatin1Char(':'), 0, 0), change.before, change.architecture);
}

// Root's own regular file, which nobody else can change.
bool isRootsFile(const QString& path)
{
    struct stat status = {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 && S_ISREG(status.st_mode)
        && status.st_uid == 0 && (status.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

QString archivingFolder(const QString& runId)
{
    return storePath(QStringLiteral(".archiving-") + runId);
}

QString sha256(const QString& path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return QString();
    return QString::fromLatin1(hash.result().toHex());
}

} // namespace

namespace KeptVersions {

bool linkOrCopy(const QString& from, const QString& to)
{
    QFile::remove(to);
    return ::link(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0
        || QFile::copy(from, to);
}

QString fileName(const QString& package, const QString& version, const QString& architecture)
{
    // apt's own names: the epoch's colon encoded, so that the name is one path component.
    return QStringLiteral("%1_%2_%3.deb")
        .arg(package, QString(version).replace(QLatin1Char(':'), QLatin1String("%3a")), architecture);
}

QList<Step> stepsFor(const QList<PlannedChange>& plan)
{
    QList<Step> steps;
    QStringList packages;
    for (const PlannedChange& change : plan) {
        if (!change.before.isEmpty())
            packages << change.package;
    }
    if (packages.isEmpty())
        return steps;
    // What only a rebuild can give costs about the installed size in the store.
    QHash<QString, qint64> installedBytes;
    const KivAdmin::HelperResult query = KivAdmin::runHelper(QStringLiteral("dpkg-query"),
        QStringList {
            QStringLiteral("-W"), QStringLiteral("-f"), QStringLiteral("${Package}\\t${Installed-Size}\\n")}
            + packages);
    for (const QByteArray& line : query.output.split('\n')) {
        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() == 2)
            installedBytes.insert(QString::fromUtf8(fields.at(0)), fields.at(1).toLongLong() * 1024);
    }
    for (const PlannedChange& change : plan) {
        if (change.before.isEmpty())
            continue;
        Step step {change, QStringLiteral("rebuilt"), 0};
        const QString name = storeName(change);
        if (isRootsFile(storePath(name)))
            step.from = QStringLiteral("store");
        else if (QFileInfo::exists(aptCache + QLatin1Char('/') + name))
            step.from = QStringLiteral("cache");
        else
            step.rebuildBytes = installedBytes.value(change.package.section(QLatin1Char(':'), 0, 0));
        steps << step;
    }
    return steps;
}

qint64 roomNeeded(const QList<Step>& steps)
{
    qint64 bytes = 0;
    for (const Step& step : steps)
        bytes += step.rebuildBytes;
    return bytes;
}

std::unique_ptr<Archiving> keep(const QList<Step>& steps, RunRecord* record)
{
    Journal::makePrivateDirectory(Journal::keptDirectory());
    QElapsedTimer timer;
    timer.start();
    QHash<QString, int> counts;
    // Rebuilding reads every installed file of a package. A package whose files can be held
    // (linked into the store) is written into its archive while the update goes on; one that
    // cannot is streamed into it now, one per processor at a time; one that needs more (a diverted
    // file) is rebuilt by dpkg-repack, in a working folder of its own in the store.
    QList<int> toRebuild;
    QStringList announcements;
    for (int i = 0; i < steps.size(); ++i) {
        const PlannedChange& change = steps.at(i).change;
        const QString name = storeName(change);
        announcements << QStringLiteral("Keeping %1 %2 (%3 of %4)...")
                             .arg(change.package, change.before)
                             .arg(i + 1)
                             .arg(steps.size());
        if (steps.at(i).from == QLatin1String("rebuilt")) {
            toRebuild << i;
            continue;
        }
        say(announcements.at(i));
        if (steps.at(i).from == QLatin1String("cache")
            && !linkOrCopy(aptCache + QLatin1Char('/') + name, storePath(name)))
            throw Failure {
                ExitCode::updateFailed, QStringLiteral("cannot keep %1 from apt's cache").arg(name)};
    }
    const QString archives = archivingFolder(record->id);
    if (!toRebuild.isEmpty())
        Journal::makePrivateDirectory(archives);
    const int atOnce = qMax(1, QThread::idealThreadCount());
    const Repack::Database database = toRebuild.isEmpty() ? Repack::Database() : Repack::readDatabase();
    QList<ChildRun> streams;
    QList<int> streamed;
    QList<int> repacked;
    QStringList held;
    for (int i : qAsConst(toRebuild)) {
        const PlannedChange& change = steps.at(i).change;
        const QString package
            = change.package.contains(QLatin1Char(':')) || change.architecture == QLatin1String("all")
            ? change.package
            : change.package + QLatin1Char(':') + change.architecture;
        Repack repack(package, archives + QLatin1Char('/') + storeName(change), database);
        if (!repack.prepare()) {
            say(QStringLiteral("%1: %2; dpkg-repack rebuilds it.").arg(change.package, repack.error()));
            repacked << i;
            continue;
        }
        if (repack.hold()) {
            say(announcements.at(i));
            held << storeName(change);
            continue;
        }
        ChildRun run = repack.stream();
        run.announcement = announcements.at(i);
        run.timeoutMs = rebuildTimeoutMs;
        streams << run;
        streamed << i;
    }
    const QList<ChildResult> streamResults = runChildren(streams, atOnce);
    for (int r = 0; r < streams.size(); ++r) {
        const QString partial = streams.at(r).arguments.constLast();
        const QString problem = streamResults.at(r).succeeded
            ? Repack::complete(partial, storePath(QFileInfo(partial).fileName()))
            : QStringLiteral("tar: %1").arg(QString::fromLocal8Bit(streamResults.at(r).errors).trimmed());
        if (!problem.isEmpty()) {
            say(QStringLiteral("%1: %2; dpkg-repack rebuilds it.")
                    .arg(steps.at(streamed.at(r)).change.package, problem));
            repacked << streamed.at(r);
        }
    }
    QList<ChildRun> rebuilds;
    for (int i : qAsConst(repacked)) {
        const QString folder = storePath(
            QStringLiteral(".rebuild-%1-%2").arg(QCoreApplication::applicationPid()).arg(rebuilds.size()));
        QDir(folder).removeRecursively();
        QDir().mkpath(folder);
        ChildRun run;
        run.program = QStringLiteral("dpkg-repack");
        // gzip at its fastest: as quick as no compression, half the size.
        run.arguments = QStringList {QStringLiteral("--deb-option=-Zgzip"),
            QStringLiteral("--deb-option=-z1"), steps.at(i).change.package};
        run.captureOutput = true;
        run.captureErrors = true;
        run.timeoutMs = rebuildTimeoutMs;
        run.workingDirectory = folder;
        rebuilds << run;
    }
    const QList<ChildResult> results = runChildren(rebuilds, atOnce);
    QStringList failures;
    for (int r = 0; r < rebuilds.size(); ++r) {
        const QString folder = rebuilds.at(r).workingDirectory;
        const QStringList built = QDir(folder).entryList({QStringLiteral("*.deb")}, QDir::Files);
        const PlannedChange& change = steps.at(repacked.at(r)).change;
        const bool moved = results.at(r).succeeded && built.size() == 1
            && ::rename(QFile::encodeName(folder + QLatin1Char('/') + built.first()).constData(),
                   QFile::encodeName(storePath(storeName(change))).constData())
                == 0;
        QDir(folder).removeRecursively();
        if (!moved)
            failures << QStringLiteral("%1 %2 (dpkg-repack: %3)")
                            .arg(change.package, change.before,
                                QString::fromLocal8Bit(results.at(r).errors).trimmed());
    }
    if (!failures.isEmpty())
        throw Failure {ExitCode::updateFailed,
            QStringLiteral("cannot rebuild %1 to keep it; nothing was changed")
                .arg(failures.join(QStringLiteral(", ")))};
    QList<KeptFile> kept;
    for (const Step& step : steps) {
        const PlannedChange& change = step.change;
        const QString path = storePath(storeName(change));
        ::chmod(QFile::encodeName(path).constData(), 0600);
        counts[step.from] += 1;
        // A held version's checksum comes once its archive is complete.
        kept << KeptFile {change.package, change.before, change.architecture, path, sha256(path), step.from};
    }
    if (isStopRequested())
        QDir(archives).removeRecursively();
    checkStopRequest();
    say(QStringLiteral(
        "Kept the replaced versions of %1 packages: %2 from the store, %3 from apt's cache, %4 rebuilt (%5 s).")
            .arg(steps.size())
            .arg(counts.value(QStringLiteral("store")))
            .arg(counts.value(QStringLiteral("cache")))
            .arg(counts.value(QStringLiteral("rebuilt")))
            .arg(double(timer.elapsed()) / 1000.0, 0, 'f', 1));
    record->kept = kept;
    if (held.isEmpty()) {
        QDir(archives).removeRecursively();
        return nullptr;
    }
    // What is held is on disk before dpkg changes anything: after a power cut the next run
    // completes the archives from it.
    const int descriptor
        = ::open(QFile::encodeName(archives).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool synced = descriptor >= 0 && ::syncfs(descriptor) == 0;
    if (descriptor >= 0)
        ::close(descriptor);
    if (!synced)
        throw Failure {ExitCode::updateFailed, QStringLiteral("cannot write %1 to the disk").arg(archives)};
    say(QStringLiteral("Writing %1 kept versions into their archives while the update goes on...")
            .arg(held.size()));
    return std::make_unique<Archiving>(archives, held, record);
}

Archiving::Archiving(const QString& folder, const QStringList& names, RunRecord* record)
    : m_folder(folder)
    , m_names(names)
    , m_record(record)
    , m_outcomes(names.size())
{
    m_clock.start();
    m_worker = std::thread([this] { work(); });
}

Archiving::~Archiving()
{
    complete();
}

void Archiving::work()
{
    QStringList pending;
    for (const QString& name : qAsConst(m_names)) {
        if (!QFileInfo::exists(m_folder + QLatin1Char('/') + name + QStringLiteral(".done")))
            pending << name;
    }
    QFile list(m_folder + QStringLiteral("/pending"));
    // One tar per processor, in a process group of its own: a Ctrl-C on the terminal does not
    // reach it. Each archive is marked .done once whole.
    ChildProcess tars(true);
    if (!pending.isEmpty() && list.open(QIODevice::WriteOnly)
        && list.write(pending.join(QLatin1Char('\0')).toUtf8() + '\0') > 0) {
        list.close();
        tars.setWorkingDirectory(m_folder);
        tars.setStandardInputFile(QProcess::nullDevice());
        tars.setStandardOutputFile(QProcess::nullDevice());
        tars.setStandardErrorFile(m_folder + QStringLiteral("/errors"));
        tars.start(QStringLiteral("xargs"),
            {QStringLiteral("-0"), QStringLiteral("-a"), QStringLiteral("pending"), QStringLiteral("-P"),
                QString::number(qMax(1, QThread::idealThreadCount())), QStringLiteral("-n"),
                QStringLiteral("1"), QStringLiteral("sh"), QStringLiteral("-c"),
                QStringLiteral("tar -C \"$1.root\" --no-recursion --null -T \"$1.files\" -cf - >>\"$1\" "
                               "2>\"$1.errors\" && : >\"$1.done\""),
                QStringLiteral("archive")});
        tars.waitForStarted(KivAdmin::helperTimeoutMs);
    }
    // Each archive is completed (and its checksum taken) as soon as it is whole, while the
    // others are still written.
    const QDeadlineTimer deadline(rebuildTimeoutMs);
    QVector<bool> completed(m_names.size());
    for (;;) {
        const bool running = tars.state() != QProcess::NotRunning && !tars.waitForFinished(50);
        for (int i = 0; i < m_names.size(); ++i) {
            const QString partial = m_folder + QLatin1Char('/') + m_names.at(i);
            if (completed.at(i) || !QFileInfo::exists(partial + QStringLiteral(".done")))
                continue;
            completed[i] = true;
            const QString target = storePath(m_names.at(i));
            Outcome& outcome = m_outcomes[i];
            if (QFileInfo::exists(partial))
                outcome.problem = Repack::complete(partial, target);
            ::chmod(QFile::encodeName(target).constData(), 0600);
            if (outcome.problem.isEmpty())
                outcome.checksum = sha256(target);
        }
        if (!running)
            break;
        if (deadline.hasExpired()) {
            ::kill(-pid_t(tars.processId()), SIGKILL);
            tars.waitForFinished(KivAdmin::helperTimeoutMs);
        }
    }
    for (int i = 0; i < m_names.size(); ++i) {
        if (!completed.at(i))
            m_outcomes[i].problem = QStringLiteral("tar: %1").arg(QString::fromLocal8Bit(
                readRegularFile(m_folder + QLatin1Char('/') + m_names.at(i) + QStringLiteral(".errors")))
                                                                      .trimmed());
    }
}

void Archiving::complete()
{
    if (!m_worker.joinable())
        return;
    m_worker.join();
    int written = 0;
    for (int i = 0; i < m_names.size(); ++i) {
        const QString target = storePath(m_names.at(i));
        const Outcome& outcome = m_outcomes.at(i);
        if (outcome.checksum.isEmpty()) {
            warn(QStringLiteral(
                "the replaced version in %1 could not be kept (%2); a rollback cannot bring it back")
                     .arg(target, outcome.problem));
            continue;
        }
        for (KeptFile& file : m_record->kept) {
            if (file.file == target)
                file.sha256 = outcome.checksum;
        }
        ++written;
    }
    QDir(m_folder).removeRecursively();
    say(QStringLiteral("Wrote %1 kept versions into their archives (%2 s).")
            .arg(written)
            .arg(double(m_clock.elapsed()) / 1000.0, 0, 'f', 1));
}

void completeLeftArchives(RunRecord* record)
{
    const QString folder = archivingFolder(record->id);
    QStringList names;
    for (const QString& entry : QDir(folder).entryList(QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot)) {
        const QString name = entry.section(QLatin1Char('.'), 0, -2);
        if ((entry.endsWith(QLatin1String(".root")) || entry.endsWith(QLatin1String(".done")))
            && !names.contains(name))
            names << name;
    }
    for (const QString& name : qAsConst(names)) {
        // A tar killed half-way appended part of the files.
        const QString partial = folder + QLatin1Char('/') + name;
        if (!QFileInfo::exists(partial + QStringLiteral(".done")))
            Repack::rewind(partial);
    }
    if (names.isEmpty())
        return;
    say(QStringLiteral("Completing the archives of %1 versions kept by the run %2, which ended abruptly...")
            .arg(names.size())
            .arg(record->id));
    Archiving(folder, names, record).complete();
}

void storeFetched(const QString& archivesDirectory)
{
    const QStringList fetched = QDir(archivesDirectory).entryList({QStringLiteral("*.deb")}, QDir::Files);
    if (fetched.isEmpty())
        return;
    Journal::makePrivateDirectory(Journal::keptDirectory());
    for (const QString& name : fetched) {
        const QString from = archivesDirectory + QLatin1Char('/') + name;
        // A move on the same file system; no copy is worth the time of a whole disc.
        if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(storePath(name)).constData())
            == 0)
            ::chmod(QFile::encodeName(storePath(name)).constData(), 0600);
    }
}

int keepRuns()
{
    const QSettings settings(QStringLiteral("/etc/norvo-update/norvo-update.conf"), QSettings::IniFormat);
    bool valid = false;
    const int runs = settings.value(QStringLiteral("KeepRuns"), 3).toInt(&valid);
    return valid && runs >= 0 ? runs : 3;
}

void prune(const QList<RunRecord>& records)
{
    QSet<QString> needed;
    const int runs = keepRuns();
    int updates = 0;
    for (auto it = records.crbegin(); it != records.crend() && updates < runs; ++it) {
        // A run that changed nothing (the daily automatic update, most days) replaced nothing.
        if (it->kind != QLatin1String("update") || !it->changedPackages())
            continue;
        ++updates;
        for (const KeptFile& file : it->kept)
            needed << QFileInfo(file.file).fileName();
    }
    // The installed versions are what the next run replaces.
    const KivAdmin::HelperResult installed = KivAdmin::runHelper(QStringLiteral("dpkg-query"),
        {QStringLiteral("-W"), QStringLiteral("-f"),
            QStringLiteral("${db:Status-Abbrev}\\t${Package}\\t${Version}\\t${Architecture}\\n")});
    if (!installed.succeeded())
        return;
    for (const QByteArray& line : installed.output.split('\n')) {
        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() == 4 && fields.at(0).startsWith("i"))
            needed << fileName(QString::fromUtf8(fields.at(1)), QString::fromUtf8(fields.at(2)),
                QString::fromUtf8(fields.at(3)));
    }
    const QDir store(Journal::keptDirectory());
    for (const QString& name : store.entryList({QStringLiteral("*.deb")}, QDir::Files)) {
        if (!needed.contains(name))
            QFile::remove(store.filePath(name));
    }
}

QString checkKept(const KeptFile& file)
{
    if (!QFileInfo::exists(file.file))
        return QStringLiteral("the kept version %1 %2 is missing (%3)")
            .arg(file.package, file.version, file.file);
    if (!isRootsFile(file.file))
        return QStringLiteral("the kept version %1 %2 (%3) is not root's own file")
            .arg(file.package, file.version, file.file);
    if (sha256(file.file) != file.sha256)
        return QStringLiteral("the kept version %1 %2 (%3) has changed since it was kept")
            .arg(file.package, file.version, file.file);
    return QString();
}

} // namespace KeptVersions
