#include "startupchecks.h"

#include "helpercommand.h"
#include "packagemanager.h"
#include "systemdservice.h"

bool isUpdateToolInstalled()
{
    const KivAdmin::HelperResult dpkg
        = KivAdmin::runHelper(QStringLiteral("dpkg"), {QStringLiteral("-s"), QStringLiteral("norvo-update")});
    if (dpkg.exitStatus == QProcess::CrashExit)
        return false;
    return dpkg.exitCode == 0;
}

bool isAutoUpdateServiceActive()
{
    const QString service = QStringLiteral("norvo-update-service");
    if (!KivAdmin::PackageManager::isPackageInstalled(service, QStringLiteral("ii\\s%1")))
        return false;
    const KivAdmin::SystemdService unit(service);
    return unit.getAliveStatus() && unit.isActive();
}
