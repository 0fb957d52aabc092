#include "keptsources.h"

#include <pwd.h>
#include <sys/stat.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSaveFile>
#include <QScopeGuard>
#include <QUrl>

#include "childrun.h"
#include "console.h"
#include "runlog.h"

namespace {

const QString keptDirectory = QStringLiteral("/var/cache/norvo-update/sources");
const QString keptSourcesList = QStringLiteral("/etc/apt/sources.list.d/norvo-update-kept.list");
// The sources list is readable by everyone; the passwords of its addresses live here, root's alone.
const QString keptCredentials = QStringLiteral("/etc/apt/auth.conf.d/norvo-update-kept.conf");

QStringList linesOf(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// The links of the tree that lead out of it, or nowhere, relative to the tree.
QStringList linksLeaving(const QString& root)
{
    const QString inside = QFileInfo(root).canonicalFilePath();
    QStringList leaving;
    QDirIterator entries(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    while (entries.hasNext()) {
        const QFileInfo entry(entries.next());
        const QString target = entry.isSymLink() ? entry.canonicalFilePath() : QString();
        if (entry.isSymLink() && target != inside && !target.startsWith(inside + QLatin1Char('/')))
            leaving << QDir(root).relativeFilePath(entry.filePath());
    }
    return leaving;
}

// Who reads a source for its copy, with the groups that user has.
struct Reader
{
    uid_t uid = 0;
    gid_t gid = 0;
    QString name; // empty for root, and for a user without one
};

Reader readerOf(uid_t uid)
{
    Reader reader;
    reader.uid = uid;
    if (const passwd* entry = ::getpwuid(uid)) {
        reader.gid = entry->pw_gid;
        reader.name = QString::fromLocal8Bit(entry->pw_name);
    } else {
        reader.gid = uid;
    }
    return reader;
}

bool isImage(const Repository& repository)
{
    return !repository.source.startsWith(QLatin1String("file:"));
}

// A copy gives nobody more than the source's owner could read, so it is read as that owner would
// read it. An image's tree is the image's own, unchanged while it is mounted: read as root. A
// folder of root's that others can change is read as nobody, who reads what everybody may.
Reader sourceReader(const Repository& repository)
{
    if (isImage(repository))
        return {};
    struct stat status = {};
    if (::stat(QFile::encodeName(repository.localRoot).constData(), &status) != 0)
        throw Failure {ExitCode::updateFailed, QStringLiteral("cannot read %1").arg(repository.source)};
    if (status.st_uid != 0)
        return readerOf(status.st_uid);
    QDirIterator entries(repository.localRoot,
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (entries.hasNext()) {
        if (::lstat(QFile::encodeName(entries.next()).constData(), &status) != 0 || status.st_uid != 0
            || (S_ISDIR(status.st_mode) && (status.st_mode & 022) != 0)) {
            const passwd* nobody = ::getpwnam("nobody");
            return readerOf(nobody ? nobody->pw_uid : 65534);
        }
    }
    return {};
}

// What may not be kept of a copy: anything but root's folders and files that only root can change.
QStringList unsafeEntries(const QString& copy)
{
    QStringList found;
    QDirIterator entries(copy, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    while (entries.hasNext()) {
        const QString path = entries.next();
        struct stat status = {};
        if (::lstat(QFile::encodeName(path).constData(), &status) != 0
            || !(S_ISDIR(status.st_mode) || S_ISREG(status.st_mode)) || status.st_uid != 0
            || status.st_gid != 0 || (status.st_mode & (S_ISUID | S_ISGID | 022)) != 0)
            found << QDir(copy).relativeFilePath(path);
    }
    return found;
}

QString copyOf(const Repository& repository, const QString& target)
{
    say(QStringLiteral("Keeping %1 in %2...").arg(repository.source, target));
    // Removal is recursive: only ever of a folder directly in the folder of kept copies.
    if (QFileInfo(target).absolutePath() != keptDirectory
        || QFileInfo(target).fileName().startsWith(QLatin1Char('.')))
        throw Failure {ExitCode::updateFailed, QStringLiteral("refusing to keep a copy in %1").arg(target)};
    refuseLinksLeaving(repository);
    const Reader reader = sourceReader(repository);
    QDir(target).removeRecursively();
    // apt trusts the copy, so it is root's and only root can change it, whatever the owners, modes
    // and links of its source: no ownership or mode kept, the links inside it replaced by what they
    // point to, and created under a mask that takes away the write bits of the others.
    const mode_t previousMask = ::umask(022);
    const auto restoreMask = qScopeGuard([previousMask] { ::umask(previousMask); });
    QDir().mkpath(target);
    ChildRun copy;
    copy.program = QStringLiteral("bash");
    copy.arguments = QStringList {QStringLiteral("-c"),
        QStringLiteral("set -o pipefail; \"${@:3}\" tar -C \"$1\" --dereference -cf - . "
                       "| tar -C \"$2\" -xf - --no-same-owner --no-same-permissions"),
        QStringLiteral("copy"), repository.localRoot, target};
    if (reader.uid != 0)
        copy.arguments << QStringLiteral("setpriv") << QStringLiteral("--reuid=%1").arg(reader.uid)
                       << QStringLiteral("--regid=%1").arg(reader.gid)
                       << (reader.name.isEmpty() ? QStringLiteral("--clear-groups")
                                                 : QStringLiteral("--init-groups"));
    copy.timeoutMs = 60 * 60 * 1000; // a whole image on a slow disk
    copy.captureErrors = true;
    const ChildResult copied = runChild(copy);
    const QStringList unsafe = copied.succeeded ? unsafeEntries(target) : QStringList();
    if (!copied.succeeded || !unsafe.isEmpty()) {
        QDir(target).removeRecursively();
        throw Failure {ExitCode::updateFailed,
            QStringLiteral("cannot keep %1 in %2: %3")
                .arg(repository.source, target,
                    unsafe.isEmpty() ? QString::fromUtf8(copied.errors).trimmed()
                                     : QStringLiteral("the copy holds what root alone may not own: ")
                            + unsafe.join(QStringLiteral(", ")))};
    }
    return target;
}

// apt reads the sources file as the system's apt would, with package lists of its own.
void checkWithApt(const QString& sourcesFile, const QString& workDirectory)
{
    const QString check = workDirectory + QStringLiteral("/kept-check");
    QDir().mkpath(check + QStringLiteral("/parts"));
    QDir().mkpath(check + QStringLiteral("/lists/partial"));
    ChildRun run;
    run.program = QStringLiteral("apt-cache");
    run.arguments = QStringList {QStringLiteral("-o"), QStringLiteral("Dir::Etc::SourceList=") + sourcesFile,
        QStringLiteral("-o"), QStringLiteral("Dir::Etc::SourceParts=") + check + QStringLiteral("/parts"),
        QStringLiteral("-o"), QStringLiteral("Dir::State::Lists=") + check + QStringLiteral("/lists"),
        QStringLiteral("-o"), QStringLiteral("Dir::Cache::pkgcache="), QStringLiteral("-o"),
        QStringLiteral("Dir::Cache::srcpkgcache="), QStringLiteral("policy")};
    run.captureOutput = true;
    run.captureErrors = true;
    const ChildResult result = runChild(run);
    if (!result.succeeded)
        throw Failure {ExitCode::updateFailed,
            QStringLiteral("%1 is left as it was: apt cannot read the new list: %2")
                .arg(keptSourcesList, QString::fromUtf8(result.errors).trimmed())};
}

// Through a temporary file renamed into place, so that the file is whole or as it was.
void writeWhole(const QString& path, const QByteArray& content)
{
    QSaveFile file(path);
    // Unbuffered: a full disk shows in write()'s result; a buffered write's error is lost at commit.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) || file.write(content) != content.size()
        || !file.commit())
        throw Failure {
            ExitCode::updateFailed, QStringLiteral("cannot write %1: %2").arg(path, file.errorString())};
}

} // namespace

void refuseLinksLeaving(const Repository& repository)
{
    const QStringList leaving = linksLeaving(repository.localRoot);
    if (!leaving.isEmpty())
        throw Failure {ExitCode::usage,
            QStringLiteral("%1 cannot be kept: links in it lead out of it: %2")
                .arg(repository.source, leaving.join(QStringLiteral(", ")))};
}

QString keptName(const Repository& repository)
{
    QString name = QFileInfo(repository.source).completeBaseName();
    if (repository.source.startsWith(QLatin1String("file:")) || name.isEmpty())
        name = QDir(repository.localRoot).dirName();
    static const QRegularExpression unsafe(QStringLiteral("[^A-Za-z0-9._-]+"));
    name.replace(unsafe, QStringLiteral("_"));
    // No hidden name, and never "." or "..".
    while (name.startsWith(QLatin1Char('.')))
        name.remove(0, 1);
    return name.isEmpty() ? QStringLiteral("source") : name;
}

void keepSources(const QList<Repository>& repositories, const QString& workDirectory, const RunLog& log)
{
    QStringList lines = linesOf(keptSourcesList);
    QStringList credentials = linesOf(keptCredentials);

    QHash<QString, QString> copies; // repository root -> its copy
    for (Repository repository : repositories) {
        if (!repository.localRoot.isEmpty()) {
            QString target = copies.value(repository.localRoot);
            if (target.isEmpty()) {
                // Two sources of one name (images in different folders) keep two copies.
                const QString name = keptName(repository);
                target = keptDirectory + QLatin1Char('/') + name;
                for (int n = 2; copies.values().contains(target); ++n)
                    target = keptDirectory + QLatin1Char('/') + name + QStringLiteral("-%1").arg(n);
                copies.insert(repository.localRoot, copyOf(repository, target));
            }
            repository.uri = QStringLiteral("file:") + target;
        } else {
            const QString login = loginLine(repository.uri);
            if (!login.isEmpty()) {
                if (!credentials.contains(login))
                    credentials << login;
                QUrl url(repository.uri, QUrl::TolerantMode);
                url.setUserInfo(QString());
                repository.uri = url.toString();
            }
        }
        const QString line = repository.sourcesLine();
        if (!lines.contains(line))
            lines << line;
    }

    const QByteArray content = (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8();
    const QString candidate = workDirectory + QStringLiteral("/kept.list");
    writeWhole(candidate, content);
    checkWithApt(candidate, workDirectory);
    if (!credentials.isEmpty()) {
        QDir().mkpath(QFileInfo(keptCredentials).path());
        // Created root's alone, not made so after the passwords are in it.
        const mode_t previousMask = ::umask(077);
        const auto restoreMask = qScopeGuard([previousMask] { ::umask(previousMask); });
        writeWhole(keptCredentials, (credentials.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());
        QFile::setPermissions(keptCredentials, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
    QDir().mkpath(QFileInfo(keptSourcesList).path());
    writeWhole(keptSourcesList, content);
    log.note(QStringLiteral("sources kept in %1, listed in %2").arg(keptDirectory, keptSourcesList));
}
