#include "aptsession.h"

#include <algorithm>

#include <cmath>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>

#include "childrun.h"
#include "console.h"
#include "helpercommand.h"
#include "rundirectory.h"

namespace {

// A whole release upgrade from slow media takes hours; an apt run beyond this bound is hung.
constexpr int aptTimeoutMs = 6 * 60 * 60 * 1000;
const QString russianLocale = QStringLiteral("ru_RU.UTF-8");

QStringList nonInteractiveDpkgOptions()
{
    return {QStringLiteral("-o"), QStringLiteral("Dpkg::Options::=--force-confdef"), QStringLiteral("-o"),
        QStringLiteral("Dpkg::Options::=--force-confold")};
}

QProcessEnvironment toolEnvironment(bool interactive)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), russianLocale);
    environment.remove(QStringLiteral("LANGUAGE"));
    if (!interactive) {
        environment.insert(QStringLiteral("DEBIAN_FRONTEND"), QStringLiteral("noninteractive"));
        environment.insert(QStringLiteral("APT_LISTCHANGES_FRONTEND"), QStringLiteral("none"));
    }
    return environment;
}

// Nobody can answer a question without -A when standard input is not a terminal either (the
// window's own-package update runs so): then the tool behaves as with -A.
bool isInteractive(const Options& options)
{
    return !options.nonInteractive && isatty(STDIN_FILENO);
}

QString dpkgArchitecture()
{
    return QString::fromLatin1(
        KivAdmin::runHelper(QStringLiteral("dpkg"), {QStringLiteral("--print-architecture")}).output)
        .trimmed();
}

// apt's sizes as it prints them without a locale: "1860 B", "12.3 kB", "4096 MB" (powers of 1000).
qint64 sizeAfter(const QString& text, const QString& label)
{
    const QRegularExpression pattern(
        QRegularExpression::escape(label) + QStringLiteral("(?<number>[0-9][0-9.,]*) (?<unit>[kMGTPE]?)B"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return 0;
    const double number = match.captured(QStringLiteral("number")).remove(QLatin1Char(',')).toDouble();
    const int power = QStringLiteral(" kMGTPE").indexOf(match.captured(QStringLiteral("unit")).isEmpty()
            ? QStringLiteral(" ")
            : match.captured(QStringLiteral("unit")));
    return qint64(number * std::pow(1000.0, power));
}

} // namespace

QString spaceShortage(const QList<SpaceNeed>& needs)
{
    // dpkg's database, its backups and the logs grow with every package: a margin on each.
    constexpr qint64 marginBytes = 32 * 1000 * 1000;
    struct FileSystem
    {
        QStringList paths;
        qint64 needed = 0;
        qint64 available = 0;
    };
    QMap<dev_t, FileSystem> fileSystems;
    for (const SpaceNeed& need : needs) {
        struct stat status = {};
        struct statvfs room = {};
        const QByteArray path = QFile::encodeName(need.path);
        if (::stat(path.constData(), &status) != 0 || ::statvfs(path.constData(), &room) != 0)
            continue;
        FileSystem& fileSystem = fileSystems[status.st_dev];
        // / and /usr on one file system need the unpacked size once.
        if (!fileSystem.paths.isEmpty() && need.path == QLatin1String("/usr"))
            continue;
        fileSystem.paths << need.path;
        fileSystem.needed += need.bytes;
        fileSystem.available = qint64(room.f_bavail) * qint64(room.f_frsize);
    }
    QStringList shortages;
    for (const FileSystem& fileSystem : qAsConst(fileSystems)) {
        if (fileSystem.needed == 0 || fileSystem.needed + marginBytes <= fileSystem.available)
            continue;
        shortages << QStringLiteral("%1 needs %2, %3 are free")
                         .arg(fileSystem.paths.join(QStringLiteral(" and ")),
                             sizeText(fileSystem.needed + marginBytes, Rounding::up),
                             sizeText(fileSystem.available, Rounding::down));
    }
    return shortages.join(QStringLiteral("; "));
}

AptSession::AptSession(const QString& workDirectory, const QString& archivesDirectory,
    const QList<Repository>& repositories, const Options& options)
    : m_options(options)
    , m_archivesDirectory(archivesDirectory)
    , m_interactive(isInteractive(options))
{
    m_environment = toolEnvironment(m_interactive);
    auto set = [this](const QString& item, const QString& value) {
        m_configuration << QStringLiteral("-o") << item + QLatin1Char('=') + value;
    };

    if (!options.systemRepositories) {
        // An address may carry a password.
        const QString sourcesList = privateDirectory(workDirectory) + QStringLiteral("/sources.list");
        QByteArray lines;
        for (const Repository& repository : repositories)
            lines += repository.sourcesLine().toUtf8() + '\n';
        writeSecretFile(sourcesList, lines);
        QDir().mkpath(workDirectory + QStringLiteral("/sources.list.d"));
        set(QStringLiteral("Dir::Etc::SourceList"), sourcesList);
        set(QStringLiteral("Dir::Etc::SourceParts"), workDirectory + QStringLiteral("/sources.list.d"));
    }
    if (!options.systemRepositories || options.simulate) {
        QDir().mkpath(workDirectory + QStringLiteral("/lists/partial"));
        set(QStringLiteral("Dir::State::Lists"), workDirectory + QStringLiteral("/lists"));
        set(QStringLiteral("Dir::Cache::pkgcache"), QString());
        set(QStringLiteral("Dir::Cache::srcpkgcache"), QString());
    }
    if (!archivesDirectory.isEmpty()) {
        QDir().mkpath(archivesDirectory + QStringLiteral("/partial"));
        set(QStringLiteral("Dir::Cache::archives"), archivesDirectory);
    }
    if (!m_interactive)
        m_configuration << nonInteractiveDpkgOptions();
}

ChildRun AptSession::aptGet(const QStringList& arguments) const
{
    ChildRun run;
    run.program = QStringLiteral("apt-get");
    run.arguments = m_configuration + arguments;
    run.environment = m_environment;
    run.onStop = ChildRun::OnStop::Interrupt;
    run.timeoutMs = aptTimeoutMs;
    return run;
}

bool AptSession::runAptGet(const QStringList& arguments) const
{
    QStringList options;
    if (m_options.simulate)
        options << QStringLiteral("-s");
    if (!m_interactive)
        options << QStringLiteral("-y");
    ChildRun run = aptGet(options + arguments);
    run.forwardInput = m_interactive;
    try {
        return runChild(run).succeeded;
    } catch (const Failure&) {
        // Stopped, apt ends after the dpkg call under way. What it unpacked is configured before the
        // tool ends; when that needs what apt had not unpacked yet (a new perl needs its new
        // modules), apt completes the transaction from the run's sources, which are still there.
        if (isStopRequested() && !m_options.simulate && !configurePending(true))
            repair(true);
        throw;
    }
}

QStringList AptSession::repair(bool whileStopping) const
{
    const auto run = [&](const QStringList& arguments) {
        ChildRun repairing = aptGet(QStringList {QStringLiteral("-y")} + arguments);
        repairing.onStop = ChildRun::OnStop::Finish;
        repairing.runWhileStopping = whileStopping;
        runChild(repairing);
    };
    QStringList reinstall;
    const KivAdmin::HelperResult states = KivAdmin::runHelper(QStringLiteral("dpkg-query"),
        {QStringLiteral("-W"), QStringLiteral("-f=${db:Status-Abbrev} ${Package}\n")});
    for (const QByteArray& line : states.output.split('\n')) {
        // The error flag R: dpkg stopped while it unpacked the package, which must be reinstalled.
        if (line.size() > 4 && line.at(2) == 'R')
            reinstall << QString::fromUtf8(line.mid(4));
    }
    if (!reinstall.isEmpty())
        run(QStringList {QStringLiteral("install"), QStringLiteral("--reinstall")} + reinstall);
    run({QStringLiteral("--fix-broken"), QStringLiteral("install")});
    configurePending(whileStopping);
    return packagesInDisorder();
}

void AptSession::refresh() const
{
    if (!runChild(aptGet({QStringLiteral("update")})).succeeded)
        throw Failure {
            ExitCode::updateFailed, QStringLiteral("the package lists of the sources could not be read")};
}

QStringList AptSession::upgradeArguments() const
{
    if (!m_options.onlyPackage.isEmpty())
        return {QStringLiteral("install"), QStringLiteral("--only-upgrade"), m_options.onlyPackage};
    return {QStringLiteral("dist-upgrade")};
}

bool AptSession::upgrade() const
{
    return runAptGet(upgradeArguments());
}

void AptSession::checkRoom(qint64 keptBytes) const
{
    // apt's own summary of the plan, in words this code reads; with --print-uris apt fetches and
    // installs nothing (a simulation prints no sizes).
    ChildRun plan
        = aptGet(QStringList {QStringLiteral("--print-uris"), QStringLiteral("-y")} + upgradeArguments());
    plan.environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    plan.onStop = ChildRun::OnStop::Terminate;
    plan.captureOutput = true;
    plan.captureErrors = true;
    const ChildResult result = runChild(plan);
    // A plan apt cannot make is reported by the upgrade itself, in apt's words.
    if (!result.succeeded)
        return;
    const QString summary = QString::fromUtf8(result.output);
    QList<SpaceNeed> needs;
    if (!m_archivesDirectory.isEmpty())
        needs << SpaceNeed {m_archivesDirectory, sizeAfter(summary, QStringLiteral("Need to get "))};
    const qint64 unpacked = sizeAfter(summary, QStringLiteral("After this operation, "));
    if (!summary.contains(QStringLiteral("disk space will be freed")))
        needs << SpaceNeed {QStringLiteral("/"), unpacked} << SpaceNeed {QStringLiteral("/usr"), unpacked};
    if (keptBytes > 0)
        needs << SpaceNeed {QStringLiteral("/var/lib"), keptBytes};
    const QString shortage = spaceShortage(needs);
    if (!shortage.isEmpty())
        throw Failure {ExitCode::notEnoughSpace,
            QStringLiteral("not enough free space for the update, nothing was changed: %1").arg(shortage)};
}

QList<PlannedChange> AptSession::plan() const
{
    return plan(upgradeArguments());
}

QList<PlannedChange> AptSession::plan(const QStringList& request) const
{
    ChildRun simulation = aptGet(QStringList {QStringLiteral("-s")} + request);
    simulation.environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    simulation.onStop = ChildRun::OnStop::Terminate;
    simulation.captureOutput = true;
    simulation.captureErrors = true;
    const ChildResult result = runChild(simulation);
    QList<PlannedChange> changes;
    // A plan apt cannot make is reported by the request itself, in apt's words.
    if (!result.succeeded)
        return changes;
    // "Inst NAME [OLD] (NEW ORIGIN [ARCH])", "Inst NAME (NEW ORIGIN [ARCH])", "Remv NAME [OLD]".
    static const QRegularExpression install(
        QStringLiteral("^Inst (\\S+) (?:\\[([^\\]]*)\\] )?\\((\\S+) .*\\[([^\\]]+)\\]\\)"),
        QRegularExpression::MultilineOption);
    static const QRegularExpression removal(
        QStringLiteral("^Remv (\\S+) \\[([^\\]]*)\\]"), QRegularExpression::MultilineOption);
    const QString text = QString::fromUtf8(result.output);
    for (auto match = install.globalMatch(text); match.hasNext();) {
        const QRegularExpressionMatch next = match.next();
        changes << PlannedChange {
            next.captured(1), next.captured(4), next.captured(2), next.captured(3), false};
    }
    QStringList removed;
    for (auto match = removal.globalMatch(text); match.hasNext();) {
        const QRegularExpressionMatch next = match.next();
        changes << PlannedChange {next.captured(1), QString(), next.captured(2), QString(), false};
        removed << next.captured(1);
    }
    const QSet<QString> automatic = [] {
        const QByteArray output
            = KivAdmin::runHelper(QStringLiteral("apt-mark"), {QStringLiteral("showauto")}).output;
        QSet<QString> names;
        for (const QByteArray& line : output.split('\n'))
            names << QString::fromUtf8(line.trimmed());
        return names;
    }();
    QHash<QString, QString> architectures;
    if (!removed.isEmpty()) {
        const QByteArray output = KivAdmin::runHelper(QStringLiteral("dpkg-query"),
            QStringList {
                QStringLiteral("-W"), QStringLiteral("-f"), QStringLiteral("${Package}\\t${Architecture}\\n")}
                + removed)
                                      .output;
        for (const QByteArray& line : output.split('\n')) {
            const QList<QByteArray> fields = line.split('\t');
            if (fields.size() == 2)
                architectures.insert(QString::fromUtf8(fields.at(0)), QString::fromUtf8(fields.at(1)));
        }
    }
    for (PlannedChange& change : changes) {
        change.wasAuto = !change.before.isEmpty() && automatic.contains(change.package);
        if (change.architecture.isEmpty())
            change.architecture = architectures.value(change.package.section(QLatin1Char(':'), 0, 0));
    }
    return changes;
}

bool AptSession::install(const QStringList& request) const
{
    return runAptGet(request);
}

bool AptSession::installLatestKernel() const
{
    const QString metapackage = QStringLiteral("linux-image-") + dpkgArchitecture();
    const QStringList query = m_configuration
        + QStringList {QStringLiteral("show"), QStringLiteral("--no-all-versions"), metapackage};
    if (!KivAdmin::runHelper(QStringLiteral("apt-cache"), query).succeeded()) {
        say(QStringLiteral("The sources offer no %1; the kernel stays as it is.").arg(metapackage));
        return true;
    }
    return runAptGet({QStringLiteral("install"), metapackage});
}

void ensureRussianLocale()
{
    const QByteArray locales = KivAdmin::runHelper(QStringLiteral("locale"), {QStringLiteral("-a")}).output;
    if (locales.split('\n').contains("ru_RU.utf8"))
        return;
    say(QStringLiteral("Generating the locale %1...").arg(russianLocale));
    const KivAdmin::HelperResult generated = KivAdmin::runHelper(QStringLiteral("localedef"),
        {QStringLiteral("-i"), QStringLiteral("ru_RU"), QStringLiteral("-f"), QStringLiteral("UTF-8"),
            russianLocale});
    // The update does not depend on the language of its messages, only the progress display does.
    if (!generated.succeeded())
        warn(QStringLiteral("cannot generate the locale %1; apt will write its messages untranslated")
                 .arg(russianLocale));
}

void refuseWhileLocked()
{
    for (const QString& path :
        {QStringLiteral("/var/lib/dpkg/lock-frontend"), QStringLiteral("/var/lib/dpkg/lock")}) {
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        const qint64 pid = lockHolder(fd);
        ::close(fd);
        if (pid == 0)
            continue;
        QString holder = QStringLiteral("another process");
        if (pid > 0) {
            QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
            const QString name = comm.open(QIODevice::ReadOnly)
                ? QString::fromLocal8Bit(comm.readAll()).trimmed()
                : QString();
            holder = QStringLiteral("%1 (process %2)")
                         .arg(name.isEmpty() ? QStringLiteral("a process") : name)
                         .arg(pid);
        }
        throw Failure {ExitCode::packageManagerBusy,
            QStringLiteral("another package manager is working: %1 holds %2. Try again when it has finished.")
                .arg(holder, path)};
    }
}

bool configurePending(bool whileStopping)
{
    ChildRun run;
    run.program = QStringLiteral("dpkg");
    run.arguments = QStringList {QStringLiteral("--force-confdef"), QStringLiteral("--force-confold"),
        QStringLiteral("--configure"), QStringLiteral("-a")};
    run.environment = toolEnvironment(false);
    run.onStop = ChildRun::OnStop::Finish;
    run.runWhileStopping = whileStopping;
    run.timeoutMs = aptTimeoutMs;
    return runChild(run).succeeded;
}

QStringList packagesInDisorder()
{
    // dpkg --audit names each package indented, before its description.
    QStringList packages;
    const KivAdmin::HelperResult audit
        = KivAdmin::runHelper(QStringLiteral("dpkg"), {QStringLiteral("--audit")});
    static const QRegularExpression entry(QStringLiteral("^ (\\S+)\\s"), QRegularExpression::MultilineOption);
    for (auto match = entry.globalMatch(QString::fromUtf8(audit.output)); match.hasNext();)
        packages << match.next().captured(1).section(QLatin1Char(':'), 0, 0);
    return packages;
}

QString systemCodename()
{
    // os-release(5): the file in /etc, else the vendor's in /usr/lib.
    const QStringList files {QStringLiteral("/etc/os-release"), QStringLiteral("/usr/lib/os-release")};
    const auto present = std::find_if(
        files.cbegin(), files.cend(), [](const QString& file) { return QFileInfo::exists(file); });
    if (present == files.cend())
        throw Failure {ExitCode::updateFailed,
            QStringLiteral("this system's release is unknown: neither %1 nor %2 exists")
                .arg(files.at(0), files.at(1))};
    const QString codename
        = QSettings(*present, QSettings::IniFormat).value(QStringLiteral("VERSION_CODENAME")).toString();
    if (codename.isEmpty())
        throw Failure {ExitCode::updateFailed,
            QStringLiteral("this system's release is unknown: %1 names no VERSION_CODENAME").arg(*present)};
    return codename;
}
