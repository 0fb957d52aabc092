#pragma once

#include <QString>

// The automatic update: a oneshot service started periodically by its timer. Both are controlled
// through systemctl. Without a running systemd (a container, a chroot) only the unit files are
// enabled or disabled: nothing runs that could be started or stopped.
namespace UpdateTimer {

inline const QString serviceUnit = QStringLiteral("norvo-update-service.service");
inline const QString timerUnit = QStringLiteral("norvo-update-service.timer");

bool systemdRunning();
bool isEnabled(const QString& unit);
bool isActive(const QString& unit);

// Disables the timer and the service, stopping both when systemd runs. On failure the error holds
// what systemctl said.
bool disable(QString* error);
// Enables the timer, starting it when systemd runs.
bool enable(QString* error);

} // namespace UpdateTimer
