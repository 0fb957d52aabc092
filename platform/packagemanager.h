#pragma once

#include <QString>
#include <QStringList>

namespace KivAdmin {

// Package queries answered by the dpkg database.
class PackageManager final
{
public:
    // True when a status line of the package, "<want><status> <name>" as dpkg-query abbreviates
    // it (for example "ii norvo-update"), matches pattern as a whole; "%1" in pattern stands for
    // the package name, taken literally.
    static bool isPackageInstalled(const QString& package, const QString& pattern);

    // Versions of the package whose files are on the system, in dpkg's order.
    static QStringList getInstalledPackagesVersions(const QString& package);
};

} // namespace KivAdmin
