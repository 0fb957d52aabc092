#include "startupchecks.h"

#include "helpercommand.h"
#include "packagemanager.h"
#include "systemdservice.h"

bool isUpdateToolInstalled()
{
    const QStringList command = QProcess::splitCommand(QStringLiteral("dpkg -s norvo-update"));
    const KivAdmin::HelperResult dpkg = KivAdmin::runHelper(command.first(), command.mid(1));
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
