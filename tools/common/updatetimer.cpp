#include "updatetimer.h"

#include <QFileInfo>

#include "helpercommand.h"

namespace UpdateTimer {

namespace {

KivAdmin::HelperResult systemctl(const QStringList& arguments)
{
    return KivAdmin::runHelper(QStringLiteral("systemctl"), arguments);
}

bool change(const QString& verb, const QStringList& units, QString* error)
{
    QStringList arguments {verb};
    if (systemdRunning())
        arguments << QStringLiteral("--now");
    arguments << units;
    const KivAdmin::HelperResult result = systemctl(arguments);
    if (result.succeeded())
        return true;
    if (error) {
        const QString command = arguments.join(QLatin1Char(' '));
        *error = result.finished
            ? QStringLiteral("systemctl %1 ended with code %2").arg(command).arg(result.exitCode)
            : QStringLiteral("systemctl %1 did not run to its end").arg(command);
    }
    return false;
}

} // namespace

bool systemdRunning()
{
    return QFileInfo(QStringLiteral("/run/systemd/system")).isDir();
}

bool isEnabled(const QString& unit)
{
    return systemctl({QStringLiteral("is-enabled"), QStringLiteral("--quiet"), unit}).succeeded();
}

bool isActive(const QString& unit)
{
    return systemdRunning()
        && systemctl({QStringLiteral("is-active"), QStringLiteral("--quiet"), unit}).succeeded();
}

bool disable(QString* error)
{
    return change(QStringLiteral("disable"), {timerUnit, serviceUnit}, error);
}

bool enable(QString* error)
{
    return change(QStringLiteral("enable"), {timerUnit}, error);
}

} // namespace UpdateTimer
