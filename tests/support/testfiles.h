#pragma once

#include <sys/stat.h>

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

// The command line that runs what follows it as user nobody, as any local user could.
inline const QStringList asNobody {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};

} // namespace TestHelpers
