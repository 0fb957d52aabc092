#pragma once

#include <sys/stat.h>
#include <sys/vfs.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

namespace TestHelpers {

// Replaces the file, making its folder first. The file is removed before, so that a link in its
// place is never written through.
inline void writeFile(const QString& path, const QByteArray& content)
{
    QFile::remove(path);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(content);
}

// The file's content, "(missing)" when it cannot be read.
inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

// The permission bits of the file itself (of a link, not of what it points to); 0 when it is missing.
inline uint fileMode(const QString& path)
{
    struct stat status = {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode & 07777 : 0;
}

// Why a test that changes the system must not go on here, empty when it may: only in the sandbox
// are /etc, /usr/sbin, /var, /boot (and the folders given) overlays that vanish with it.
inline QString outsideSandbox(const QStringList& more = {})
{
    constexpr long overlayMagic = 0x794c7630;
    for (const QString& folder : QStringList {"/etc", "/usr/sbin", "/var", "/boot"} + more) {
        struct statfs status = {};
        if (::statfs(QFile::encodeName(folder).constData(), &status) != 0 || status.f_type != overlayMagic)
            return "refusing to run: " + folder
                + " is not under an overlay (run the test through tests/support/sandbox-run)";
    }
    return {};
}
#define REQUIRE_SANDBOX(...)                                                                                 \
    QVERIFY2(TestHelpers::outsideSandbox(__VA_ARGS__).isEmpty(),                                             \
        qPrintable(TestHelpers::outsideSandbox(__VA_ARGS__)))

// The command line that runs what follows it as user nobody, as any local user could.
inline const QStringList asNobody {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};

} // namespace TestHelpers
