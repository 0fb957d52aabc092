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
        *error = !result.started ? QStringLiteral("systemctl could not be started")
            : !result.finished   ? QStringLiteral("systemctl did not finish in time")
                                 : QString::fromLocal8Bit(result.output).trimmed();
        if (error->isEmpty())
            *error = QStringLiteral("systemctl %1 failed with code %2")
                         .arg(arguments.join(QLatin1Char(' ')))
                         .arg(result.exitCode);
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
