#pragma once

#include <QString>

namespace KivAdmin {

// A systemd unit as systemctl reports it.
class SystemdService final
{
public:
    explicit SystemdService(const QString& unit);

    // The unit is known to systemd and its definition is loaded.
    bool getAliveStatus() const;
    // The unit is active (running, or exited after a successful start).
    bool isActive() const;

private:
    QString m_unit;
};

} // namespace KivAdmin
