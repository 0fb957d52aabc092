// norvo-update-ctl: switches the automatic update on and off and tells its state.

#include <QCoreApplication>
#include <QStringList>

#include "console.h"
#include "updatetimer.h"

namespace {

QString enabledWord(bool enabled)
{
    return enabled ? QStringLiteral("enabled") : QStringLiteral("disabled");
}

QString activeWord(bool active)
{
    return active ? QStringLiteral("active") : QStringLiteral("inactive");
}

int status()
{
    using namespace UpdateTimer;
    say(QStringLiteral("%1: %2, %3")
            .arg(timerUnit, enabledWord(isEnabled(timerUnit)), activeWord(isActive(timerUnit))));
    say(QStringLiteral("%1: %2").arg(serviceUnit, activeWord(isActive(serviceUnit))));
    if (!systemdRunning())
        say(QStringLiteral(
            "systemd is not running: nothing is started or stopped, only unit files are changed."));
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments().mid(1);
    const QString command = arguments.value(0);
    if (arguments.size() != 1
        || (command != QLatin1String("disable") && command != QLatin1String("enable")
            && command != QLatin1String("status"))) {
        complain(QStringLiteral("Usage: norvo-update-ctl disable|enable|status"));
        return 2;
    }
    if (command == QLatin1String("status"))
        return status();

    QString error;
    const bool done
        = command == QLatin1String("disable") ? UpdateTimer::disable(&error) : UpdateTimer::enable(&error);
    if (!done) {
        complain(QStringLiteral("norvo-update-ctl: cannot %1 the automatic update: %2").arg(command, error));
        return 1;
    }
    say(QStringLiteral("The automatic update is %1.").arg(enabledWord(command == QLatin1String("enable"))));
    return 0;
}
