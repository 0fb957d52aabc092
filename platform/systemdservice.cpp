#include "systemdservice.h"

#include "helpercommand.h"

namespace KivAdmin {

SystemdService::SystemdService(const QString& unit)
    : m_unit(unit)
{ }

bool SystemdService::getAliveStatus() const
{
    const HelperResult result = runHelper(QStringLiteral("systemctl"),
        {QStringLiteral("show"), QStringLiteral("--property=LoadState"), QStringLiteral("--value"),
            QStringLiteral("--"), m_unit});
    return result.succeeded() && QString::fromLocal8Bit(result.output).trimmed() == QLatin1String("loaded");
}

bool SystemdService::isActive() const
{
    const HelperResult result
        = runHelper(QStringLiteral("systemctl"), {QStringLiteral("is-active"), QStringLiteral("--"), m_unit});
    return result.succeeded() && QString::fromLocal8Bit(result.output).trimmed() == QLatin1String("active");
}

} // namespace KivAdmin
