#include "inhibitor.h"

#include <QDeadlineTimer>

#include "runlog.h"

ShutdownInhibitor::ShutdownInhibitor(const RunLog& log)
{
    m_holder.setProcessChannelMode(QProcess::SeparateChannels);
    m_holder.start(QStringLiteral("systemd-inhibit"),
        {QStringLiteral("--what=shutdown:sleep"), QStringLiteral("--who=norvo-update"),
            QStringLiteral("--why=The system is being updated; switching off now could leave it broken"),
            QStringLiteral("--mode=block"), QStringLiteral("sh"), QStringLiteral("-c"),
            QStringLiteral("echo held && exec cat")});
    // The lock is held once the command runs and says so; a failure ends systemd-inhibit.
    const QDeadlineTimer deadline(KivAdmin::helperTimeoutMs);
    QByteArray said;
    while (m_holder.waitForStarted(int(deadline.remainingTime())) && !said.contains("held")
        && m_holder.state() == QProcess::Running && !deadline.hasExpired()) {
        m_holder.waitForReadyRead(int(deadline.remainingTime()));
        said += m_holder.readAllStandardOutput();
    }
    if (said.contains("held")) {
        log.note(QStringLiteral("shutdown and sleep held off while the system changes"));
        return;
    }
    const QString reason = m_holder.state() == QProcess::NotRunning
        ? QString::fromLocal8Bit(m_holder.readAllStandardError()).trimmed()
        : QStringLiteral("no answer");
    log.note(QStringLiteral("shutdown and sleep are not held off during the update (no logind lock: %1)")
                 .arg(reason.isEmpty() ? m_holder.errorString() : reason));
    m_holder.kill();
    m_holder.waitForFinished(KivAdmin::helperTimeoutMs);
}

ShutdownInhibitor::~ShutdownInhibitor()
{
    if (m_holder.state() == QProcess::NotRunning)
        return;
    m_holder.closeWriteChannel();
    if (!m_holder.waitForFinished(KivAdmin::helperTimeoutMs)) {
        m_holder.kill();
        m_holder.waitForFinished(KivAdmin::helperTimeoutMs);
    }
}
