#include "repositories.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

#include "childrun.h"
#include "console.h"
#include "helpercommand.h"
#include "regularfile.h"
#include "rundirectory.h"

namespace {

// apt's downloader names an answer from the server by its status code after the address
// ("Failed to fetch URL  404  File not found"); anything else there means no server answered.
QString unreachableReason(const QString& errors)
{
    static const QRegularExpression failedFetch(
        QStringLiteral("^E: Failed to fetch \\S+\\s*(.*)$"), QRegularExpression::MultilineOption);
    static const QRegularExpression answered(QStringLiteral("^\\d{3}\\s"));
    const QRegularExpressionMatch match = failedFetch.match(errors);
    if (!match.hasMatch())
        return errors.trimmed().section(QLatin1Char('\n'), 0, 0);
    const QString rest = match.captured(1).trimmed();
    if (answered.match(rest).hasMatch())
        return QString();
    // Some failures (a disabled method) put the reason on the line before.
    return rest.isEmpty() ? errors.trimmed().section(QLatin1Char('\n'), 0, 0) : rest;
}

QList<Repository> suitesOf(const QString& source, const QString& root)
{
    QList<Repository> found;
    const QDir dists(root + QStringLiteral("/dists"));
    const QFileInfoList suites = dists.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& suite : suites) {
        // Images link "stable" and the like to the codename's directory; read each suite once.
        if (suite.isSymLink())
            continue;
        QString release = suite.filePath() + QStringLiteral("/Release");
        if (!QFile::exists(release))
            release = suite.filePath() + QStringLiteral("/InRelease");
        // Nothing to read, or anything but a regular file, gives no components: the suite is left out.
        const ReleaseInfo info = parseRelease(readRegularFile(release));
        Repository repository;
        repository.source = source;
        repository.uri = QStringLiteral("copy:") + root;
        repository.localRoot = root;
        repository.suite = suite.fileName();
        repository.codename = info.codename;
        // A Release may name components the image does not carry; apt would fail on them.
        for (const QString& component : info.components) {
            if (QFileInfo(suite.filePath() + QLatin1Char('/') + component).isDir())
                repository.components << component;
        }
        repository.trusted = true;
        if (!repository.components.isEmpty())
            found << repository;
    }
    return found;
}

// What a probe of a network address met: the file, no such file, or no server at all.
struct Probe
{
    bool found = false;
    QString unreachable; // apt's words when no server answered
};

// A probe that finds nothing is expected; what apt's downloader says about it is not shown. No
// retries and a short timeout: a dead server is known at once, a silent one within the bound.
Probe download(const QString& url, const QString& target)
{
    QFile::remove(target);
    ChildRun run;
    run.program = QStringLiteral("/usr/lib/apt/apt-helper");
    run.arguments = QStringList {QStringLiteral("-o"), QStringLiteral("APT::Sandbox::User=root"),
        QStringLiteral("-o"), QStringLiteral("Acquire::Retries=0")};
    // Every local user can read a command line: the password goes to apt in a file of root's.
    const QString login = loginLine(url);
    if (!login.isEmpty()) {
        const QString logins
            = privateDirectory(QFileInfo(target).path()) + QStringLiteral("/download-logins.conf");
        writeSecretFile(logins, (login + QLatin1Char('\n')).toUtf8());
        run.arguments << QStringLiteral("-o") << QStringLiteral("Dir::Etc::netrc=") + logins;
    }
    for (const char* scheme : {"http", "https", "ftp"})
        run.arguments << QStringLiteral("-o")
                      << QStringLiteral("Acquire::%1::Timeout=15").arg(QLatin1String(scheme));
    run.arguments << QStringLiteral("-qq") << QStringLiteral("download-file") << withoutPassword(url)
                  << target;
    run.environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    run.captureOutput = true;
    run.captureErrors = true;
    const ChildResult result = runChild(run);
    Probe probe;
    probe.found = result.succeeded && QFileInfo(target).isFile();
    if (!probe.found)
        probe.unreachable = unreachableReason(QString::fromUtf8(result.errors));
    return probe;
}

} // namespace

QString Repository::sourcesLine() const
{
    return QStringLiteral("deb %1%2 %3 %4")
        .arg(trusted ? QStringLiteral("[trusted=yes] ") : QString(), encodedUri(uri), suite,
            components.join(QLatin1Char(' ')));
}

QString encodedUri(const QString& uri)
{
    // A sources line is split at blanks: apt reads a blank, and any other byte, percent-encoded.
    for (const char* scheme : {"copy:", "file:"}) {
        if (uri.startsWith(QLatin1String(scheme))) {
            const QString path = uri.mid(int(qstrlen(scheme)));
            return QLatin1String(scheme) + QString::fromLatin1(QUrl::toPercentEncoding(path, "/"));
        }
    }
    return QUrl(uri, QUrl::TolerantMode).toString(QUrl::FullyEncoded);
}

QString withoutPassword(const QString& address)
{
    QUrl url(address, QUrl::TolerantMode);
    if (!url.isValid() || url.password().isEmpty())
        return address;
    url.setPassword(QString());
    return url.toString();
}

QString loginLine(const QString& address)
{
    const QUrl url(address, QUrl::TolerantMode);
    if (!url.isValid() || url.password().isEmpty())
        return QString();
    return QStringLiteral("machine %1%2 login %3 password %4")
        .arg(url.host(), url.port() == -1 ? QString() : QStringLiteral(":%1").arg(url.port()), url.userName(),
            url.password());
}

ReleaseInfo parseRelease(const QByteArray& text)
{
    ReleaseInfo info;
    for (const QByteArray& line : text.split('\n')) {
        const int colon = line.indexOf(':');
        if (colon <= 0 || line.startsWith(' '))
            continue;
        const QByteArray field = line.left(colon);
        const QString value = QString::fromUtf8(line.mid(colon + 1)).trimmed();
        if (field == "Codename")
            info.codename = value;
        else if (field == "Components")
            info.components = value.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    }
    return info;
}

QList<Repository> findLocalRepositories(const QString& source, const QString& root)
{
    QList<Repository> found = suitesOf(source, root);
    if (!found.isEmpty())
        return found;
    const QFileInfoList children = QDir(root).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& child : children)
        found << suitesOf(source, child.filePath());
    return found;
}

QList<Repository> findNetworkRepositories(
    const QString& address, const QString& systemCodename, const QString& workDirectory)
{
    QString base = address;
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    auto refuseUnreachable = [&address](const Probe& probe) {
        if (!probe.unreachable.isEmpty())
            throw Failure {ExitCode::updateFailed,
                QStringLiteral("the server of %1 could not be reached: %2")
                    .arg(withoutPassword(address), probe.unreachable)};
    };

    // This release and its companions first, so that a suite linked to the codename's (stable,
    // say) counts as the codename's own.
    const QStringList ownSuites {systemCodename, systemCodename + QStringLiteral("-updates"),
        systemCodename + QStringLiteral("-security")};
    QStringList suites = ownSuites;
    const QString index = workDirectory + QStringLiteral("/dists-index");
    const Probe indexProbe = download(base + QStringLiteral("/dists/"), index);
    refuseUnreachable(indexProbe);
    if (indexProbe.found) {
        // Directory entries of an HTML index or of an FTP listing.
        static const QRegularExpression entry(
            QStringLiteral(
                "href=\"(?:\\./)?([A-Za-z0-9][A-Za-z0-9._-]*)/\"|^d\\S+\\s.*\\s([A-Za-z0-9][A-Za-z0-9._-]*)\\r?$"),
            QRegularExpression::MultilineOption);
        QRegularExpressionMatchIterator it = entry.globalMatch(QString::fromUtf8(readRegularFile(index)));
        while (it.hasNext()) {
            const QRegularExpressionMatch match = it.next();
            const QString name = match.captured(1).isEmpty() ? match.captured(2) : match.captured(1);
            if (!suites.contains(name))
                suites << name;
        }
    }

    QList<Repository> found;
    QStringList codenames;
    QStringList skipped;
    for (const QString& suite : qAsConst(suites)) {
        const QString release = workDirectory + QStringLiteral("/Release-") + suite;
        const Probe probe
            = download(base + QStringLiteral("/dists/") + suite + QStringLiteral("/Release"), release);
        refuseUnreachable(probe);
        if (!probe.found)
            continue;
        const ReleaseInfo info = parseRelease(readRegularFile(release));
        if (info.components.isEmpty() || codenames.contains(info.codename))
            continue;
        // A mirror carries other releases too; only this one's keeps the system on its release.
        if (!ownSuites.contains(info.codename)) {
            skipped << QStringLiteral("%1 (%2)").arg(suite, info.codename);
            continue;
        }
        codenames << info.codename;
        Repository repository;
        repository.source = address;
        repository.uri = base;
        repository.suite = suite;
        repository.codename = info.codename;
        repository.components = info.components;
        found << repository;
    }
    if (!skipped.isEmpty())
        say(QStringLiteral("Skipped at %1, not for this system's release %2: %3")
                .arg(withoutPassword(address), systemCodename, skipped.join(QStringLiteral(", "))));
    return found;
}

bool isMainRepository(const Repository& repository, const QString& systemCodename)
{
    return !systemCodename.isEmpty() && repository.codename == systemCodename
        && repository.components.contains(QStringLiteral("main"));
}
