#include "repositories.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include "childrun.h"
#include "console.h"
#include "helpercommand.h"

namespace {

// Hashing a large image on a slow disk takes minutes; a digest that takes longer than this is lost.
constexpr int checksumTimeoutMs = 60 * 60 * 1000;

QList<Repository> suitesOf(const QString& source, const QString& root)
{
    QList<Repository> found;
    const QDir dists(root + QStringLiteral("/dists"));
    const QFileInfoList suites = dists.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& suite : suites) {
        // Images link "stable" and the like to the codename's directory; read each suite once.
        if (suite.isSymLink())
            continue;
        QFile release(suite.filePath() + QStringLiteral("/Release"));
        if (!release.exists())
            release.setFileName(suite.filePath() + QStringLiteral("/InRelease"));
        if (!release.open(QIODevice::ReadOnly))
            continue;
        const ReleaseInfo info = parseRelease(release.readAll());
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

// A probe that finds nothing is expected; what apt's downloader says about it is not shown.
bool download(const QString& url, const QString& target)
{
    QFile::remove(target);
    const QStringList arguments {QStringLiteral("-o"), QStringLiteral("APT::Sandbox::User=root"),
        QStringLiteral("-qq"), QStringLiteral("download-file"), url, target};
    return KivAdmin::runHelper(QStringLiteral("/usr/lib/apt/apt-helper"), arguments).succeeded()
        && QFileInfo(target).isFile();
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A digest as the checksum tools print it: the first word, in lower case.
QString firstWord(const QByteArray& text)
{
    return QString::fromLatin1(text).simplified().section(QLatin1Char(' '), 0, 0).toLower();
}

} // namespace

QString Repository::sourcesLine() const
{
    return QStringLiteral("deb %1%2 %3 %4")
        .arg(trusted ? QStringLiteral("[trusted=yes] ") : QString(), uri, suite,
            components.join(QLatin1Char(' ')));
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

    QStringList suites;
    if (!systemCodename.isEmpty())
        suites << systemCodename;
    const QString index = workDirectory + QStringLiteral("/dists-index");
    if (download(base + QStringLiteral("/dists/"), index)) {
        // Directory entries of an HTML index or of an FTP listing.
        static const QRegularExpression entry(
            QStringLiteral(
                "href=\"(?:\\./)?([A-Za-z0-9][A-Za-z0-9._-]*)/\"|^d\\S+\\s.*\\s([A-Za-z0-9][A-Za-z0-9._-]*)\\r?$"),
            QRegularExpression::MultilineOption);
        QRegularExpressionMatchIterator it = entry.globalMatch(QString::fromUtf8(readFile(index)));
        while (it.hasNext()) {
            const QRegularExpressionMatch match = it.next();
            const QString name = match.captured(1).isEmpty() ? match.captured(2) : match.captured(1);
            if (!suites.contains(name))
                suites << name;
        }
    }

    QList<Repository> found;
    for (const QString& suite : qAsConst(suites)) {
        const QString release = workDirectory + QStringLiteral("/Release-") + suite;
        if (!download(base + QStringLiteral("/dists/") + suite + QStringLiteral("/Release"), release))
            continue;
        const ReleaseInfo info = parseRelease(readFile(release));
        if (info.components.isEmpty())
            continue;
        Repository repository;
        repository.source = address;
        repository.uri = base;
        repository.suite = suite;
        repository.codename = info.codename;
        repository.components = info.components;
        found << repository;
    }
    return found;
}

bool isMainRepository(const Repository& repository, const QString& systemCodename)
{
    return !systemCodename.isEmpty() && repository.codename == systemCodename
        && repository.components.contains(QStringLiteral("main"));
}

QString checksumFileFor(const QString& image, const QString& extension)
{
    QString path = image + QLatin1Char('.') + extension;
    if (QFileInfo::exists(path))
        return path;
    path.replace(QStringLiteral(".iso."), QStringLiteral("."));
    return QFileInfo::exists(path) ? path : QString();
}

void verifyImage(const QString& image, const QString& extension)
{
    const QString name = extension == QLatin1String("gost") ? QStringLiteral("GOST") : QStringLiteral("MD5");
    const QString checksumFile = checksumFileFor(image, extension);
    if (checksumFile.isEmpty())
        throw Failure {ExitCode::verificationFailed,
            QStringLiteral(
                "norvo-update: no %1 checksum file for %2 (looked for %2.%3 and the name without .iso)")
                .arg(name, image, extension)};
    // The file holds the digest first: alone, or as the checksum tools print it.
    const QString expected = firstWord(readFile(checksumFile));

    say(QStringLiteral("Checking the %1 checksum of %2...").arg(name, image));
    ChildRun run;
    run.program = extension == QLatin1String("gost") ? QStringLiteral("gost12sum") : QStringLiteral("md5sum");
    run.arguments = QStringList {image};
    run.captureOutput = true;
    run.timeoutMs = checksumTimeoutMs;
    const ChildResult result = runChild(run);
    const QString actual = firstWord(result.output);
    if (!result.succeeded || actual.isEmpty())
        throw Failure {ExitCode::verificationFailed,
            QStringLiteral("norvo-update: cannot compute the %1 checksum of %2").arg(name, image)};
    if (actual != expected)
        throw Failure {ExitCode::verificationFailed,
            QStringLiteral("norvo-update: %1 checksum mismatch for %2: expected %3 (from %4), got %5")
                .arg(name, image, expected, checksumFile, actual)};
    say(QStringLiteral("%1 checksum of %2 is correct.").arg(name, image));
}

MountedImage::MountedImage(const QString& image, const QString& mountPoint)
{
    QDir().mkpath(mountPoint);
    const bool mounted = KivAdmin::runHelper(QStringLiteral("mount"),
                             {QStringLiteral("-o"), QStringLiteral("loop,ro"), image, mountPoint})
                             .succeeded()
        // Kernels built without ISO 9660 (some containers) still read the image through FUSE.
        || KivAdmin::runHelper(QStringLiteral("fuseiso"),
            {QStringLiteral("-p"), image, mountPoint, QStringLiteral("-o"), QStringLiteral("allow_other,ro")})
               .succeeded();
    if (!mounted) {
        QDir().rmdir(mountPoint);
        throw Failure {ExitCode::updateFailed,
            QStringLiteral(
                "norvo-update: cannot mount image %1 (neither through a loop device nor through fuseiso)")
                .arg(image)};
    }
    m_mountPoint = mountPoint;
}

MountedImage::~MountedImage()
{
    // A busy mount is detached lazily; its loop device goes with its last user.
    if (!KivAdmin::runHelper(QStringLiteral("umount"), {m_mountPoint}).succeeded()
        && !KivAdmin::runHelper(QStringLiteral("umount"), {QStringLiteral("-l"), m_mountPoint}).succeeded()) {
        complain(QStringLiteral("norvo-update: cannot unmount %1").arg(m_mountPoint));
        return;
    }
    QDir().rmdir(m_mountPoint);
}
