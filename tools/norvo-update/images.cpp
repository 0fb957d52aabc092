#include "images.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include "checksumfile.h"
#include "childrun.h"
#include "console.h"
#include "helpercommand.h"
#include "regularfile.h"

namespace {

// Hashing a large image on a slow disk takes minutes; a digest that takes longer than this is lost.
constexpr int checksumTimeoutMs = 60 * 60 * 1000;

// A digest as the checksum tools print it: the first word, in lower case.
QString firstWord(const QByteArray& text)
{
    return QString::fromLatin1(text).simplified().section(QLatin1Char(' '), 0, 0).toLower();
}

// Nobody but root can write it, nor replace it or a folder above it: every folder on the way is
// root's and writable by nobody else, unless sticky (where nobody may replace root's entries).
bool onlyRootCanChange(const struct stat& file, const QString& path)
{
    if (file.st_uid != 0 || (file.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return false;
    QString folder = QFileInfo(path).absolutePath();
    for (;;) {
        struct stat status = {};
        if (::lstat(QFile::encodeName(folder).constData(), &status) != 0 || !S_ISDIR(status.st_mode)
            || status.st_uid != 0)
            return false;
        if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (status.st_mode & S_ISVTX) == 0)
            return false;
        if (folder == QLatin1String("/"))
            return true;
        folder = QFileInfo(folder).path();
    }
}

bool sameContent(const struct stat& before, const struct stat& after)
{
    return before.st_size == after.st_size && before.st_mtim.tv_sec == after.st_mtim.tv_sec
        && before.st_mtim.tv_nsec == after.st_mtim.tv_nsec && before.st_ctim.tv_sec == after.st_ctim.tv_sec
        && before.st_ctim.tv_nsec == after.st_ctim.tv_nsec;
}

// Copies from the one open file: what is copied is what was opened, whatever the path names later.
void copyPrivately(int source, const struct stat& status, const QString& image, const QString& target)
{
    struct statvfs room = {};
    const QString folder = QFileInfo(target).path();
    if (::statvfs(QFile::encodeName(folder).constData(), &room) == 0
        && qint64(room.f_bavail) * qint64(room.f_frsize) < qint64(status.st_size))
        throw Failure {ExitCode::notEnoughSpace,
            QStringLiteral("not enough free space for a private copy of %1 in %2: it needs %3, %4 are free")
                .arg(image, folder, sizeText(qint64(status.st_size), Rounding::up),
                    sizeText(qint64(room.f_bavail) * qint64(room.f_frsize), Rounding::down))};
    const int output = ::open(
        QFile::encodeName(target).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (output < 0)
        throw Failure {ExitCode::updateFailed, QStringLiteral("cannot create %1").arg(target)};
    QByteArray buffer(4 << 20, Qt::Uninitialized);
    bool written = true;
    for (;;) {
        checkStopRequest();
        const ssize_t got = ::read(source, buffer.data(), size_t(buffer.size()));
        if (got <= 0) {
            written = got == 0;
            break;
        }
        if (::write(output, buffer.constData(), size_t(got)) != got) {
            written = false;
            break;
        }
    }
    written = ::close(output) == 0 && written;
    struct stat after = {};
    if (!written || ::fstat(source, &after) != 0)
        throw Failure {ExitCode::updateFailed, QStringLiteral("cannot copy %1 to %2").arg(image, target)};
    if (!sameContent(status, after))
        throw Failure {ExitCode::verificationFailed,
            QStringLiteral("%1 changed while it was read; nothing of it is used").arg(image)};
}

} // namespace

ImageInUse imageToCheck(const QString& image, const QString& copyDirectory, int index)
{
    // Without blocking: opening a FIFO that anyone who owns the image's folder can make would
    // wait for a writer for ever, with the update lock held.
    const int fd = ::open(QFile::encodeName(image).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat status = {};
    if (fd < 0 || ::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        const bool found = fd >= 0;
        if (found)
            ::close(fd);
        throw Failure {ExitCode::updateFailed,
            found ? QStringLiteral("image %1 is not a regular file").arg(image)
                  : QStringLiteral("image %1 not found").arg(image)};
    }
    ImageInUse use {image, image};
    if (!onlyRootCanChange(status, image)) {
        use.path = copyDirectory + QStringLiteral("/image-%1.iso").arg(index);
        say(QStringLiteral("Others can change %1: checking and using a private copy of it...").arg(image));
        try {
            copyPrivately(fd, status, image, use.path);
        } catch (const Failure&) {
            ::close(fd);
            QFile::remove(use.path);
            throw;
        }
    }
    ::close(fd);
    return use;
}

QHash<QString, QStringList> verifyImages(const QList<ImageInUse>& images, const QStringList& extensions)
{
    QHash<QString, QStringList> verified;
    QList<ChildRun> checks;
    for (const ImageInUse& image : images) {
        for (const QString& extension : extensions) {
            const QString name
                = extension == QLatin1String("gost") ? QStringLiteral("GOST") : QStringLiteral("MD5");
            const QString checksumFile = KivAdmin::checksumFileFor(image.source, extension);
            if (checksumFile.isEmpty())
                throw Failure {ExitCode::verificationFailed,
                    QStringLiteral("no %1 checksum file for %2 (looked for %2.%3 and the name without .iso)")
                        .arg(name, image.source, extension)};
            // The file holds the digest first: alone, or as the checksum tools print it.
            const QString expected = firstWord(readRegularFile(checksumFile));
            ChildRun run;
            run.program
                = extension == QLatin1String("gost") ? QStringLiteral("gost12sum") : QStringLiteral("md5sum");
            run.arguments = QStringList {image.path};
            run.captureOutput = true;
            run.timeoutMs = checksumTimeoutMs;
            run.announcement = QStringLiteral("Checking the %1 checksum of %2...").arg(name, image.source);
            run.onFinished
                = [name, image, expected, checksumFile, extension, &verified](const ChildResult& result) {
                      const QString actual = firstWord(result.output);
                      if (!result.succeeded || actual.isEmpty())
                          throw Failure {ExitCode::verificationFailed,
                              QStringLiteral("cannot compute the %1 checksum of %2").arg(name, image.source)};
                      if (actual != expected)
                          throw Failure {ExitCode::verificationFailed,
                              QStringLiteral("%1 checksum mismatch for %2: expected %3 (from %4), got %5")
                                  .arg(name, image.source, expected, checksumFile, actual)};
                      verified[image.source] << extension + QLatin1Char(':') + expected;
                      say(QStringLiteral("%1 checksum of %2 is correct (%3 s).")
                              .arg(name, image.source)
                              .arg(double(result.elapsedMs) / 1000.0, 0, 'f', 1));
                  };
            checks << run;
        }
    }
    // Hashing is bound by the processor: one image per processor at a time.
    runChildren(checks, qMax(1, QThread::idealThreadCount()));
    return verified;
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
            QStringLiteral("cannot mount image %1 (neither through a loop device nor through fuseiso)")
                .arg(image)};
    }
    m_mountPoint = mountPoint;
}

MountedImage::~MountedImage()
{
    // A busy mount is detached lazily; its loop device goes with its last user.
    if (!KivAdmin::runHelper(QStringLiteral("umount"), {m_mountPoint}).succeeded()
        && !KivAdmin::runHelper(QStringLiteral("umount"), {QStringLiteral("-l"), m_mountPoint}).succeeded()) {
        warn(QStringLiteral("cannot unmount %1").arg(m_mountPoint));
        return;
    }
    QDir().rmdir(m_mountPoint);
}
