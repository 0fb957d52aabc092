#include "snapshotfillwatch.h"

#include <algorithm>
#include <iterator>

#include "helpercommand.h"

namespace {

// Often enough to catch a snapshot filling during a large unpack, seldom enough to cost nothing.
constexpr int intervalMs = 5000;
constexpr int warningLevels[] = {80, 95};

} // namespace

SnapshotFillWatch::SnapshotFillWatch(QObject* parent)
    : QObject(parent)
{
    m_interval.setInterval(intervalMs);
    connect(&m_interval, &QTimer::timeout, this, &SnapshotFillWatch::check);
    // Never read on the window's thread, and bounded like every helper command.
    m_deadline.setSingleShot(true);
    m_deadline.setInterval(KivAdmin::helperTimeoutMs);
    connect(&m_deadline, &QTimer::timeout, &m_lvs, &QProcess::kill);
    connect(
        &m_lvs, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this, &SnapshotFillWatch::read);
}

void SnapshotFillWatch::start(const QString& volume)
{
    m_volume = volume;
    m_warned = 0;
    m_interval.start();
    check();
}

void SnapshotFillWatch::stop()
{
    m_interval.stop();
    m_deadline.stop();
    if (m_lvs.state() != QProcess::NotRunning) {
        m_lvs.kill();
        m_lvs.waitForFinished(1000);
    }
}

void SnapshotFillWatch::check()
{
    if (m_lvs.state() != QProcess::NotRunning)
        return;
    m_lvs.start(QStringLiteral("lvs"),
        {QStringLiteral("--noheadings"), QStringLiteral("-o"), QStringLiteral("data_percent"), m_volume});
    m_deadline.start();
}

void SnapshotFillWatch::read(int exitCode, QProcess::ExitStatus exitStatus)
{
    m_deadline.stop();
    const QByteArray output = m_lvs.readAllStandardOutput();
    if (exitStatus != QProcess::NormalExit || exitCode != 0 || !m_interval.isActive())
        return;
    bool isNumber = false;
    const double percent = QString::fromLatin1(output)
                               .trimmed()
                               .replace(QLatin1Char(','), QLatin1Char('.'))
                               .toDouble(&isNumber);
    if (!isNumber)
        return;
    // The highest level the volume has reached, 0 for none.
    const auto highest = std::find_if(std::rbegin(warningLevels), std::rend(warningLevels),
        [percent](int level) { return percent >= level; });
    const int reached = highest == std::rend(warningLevels) ? 0 : *highest;
    if (reached <= m_warned)
        return;
    m_warned = reached;
    emit warning(tr("The snapshot volume %1 is %2% full. A full snapshot can no longer be restored: "
                    "\"lvextend -L +2G %1\" makes it larger.\n")
                     .arg(m_volume)
                     .arg(percent, 0, 'f', 1));
}
