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
    connect(&m_deadline, &QTimer::timeout, &m_probe, &QProcess::kill);
    connect(
        &m_probe, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this, &SnapshotFillWatch::read);
}

void SnapshotFillWatch::start(const QSharedPointer<const Snapshot>& snapshot)
{
    if (snapshot->fillCommand().isEmpty())
        return;
    m_snapshot = snapshot;
    m_warned = 0;
    m_interval.start();
    check();
}

void SnapshotFillWatch::stop()
{
    m_interval.stop();
    m_deadline.stop();
    if (m_probe.state() != QProcess::NotRunning) {
        m_probe.kill();
        m_probe.waitForFinished(1000);
    }
}

void SnapshotFillWatch::check()
{
    if (m_probe.state() != QProcess::NotRunning)
        return;
    const QStringList command = m_snapshot->fillCommand();
    m_probe.start(command.first(), command.mid(1));
    m_deadline.start();
}

void SnapshotFillWatch::read(int exitCode, QProcess::ExitStatus exitStatus)
{
    m_deadline.stop();
    const QByteArray output = m_probe.readAllStandardOutput();
    if (exitStatus != QProcess::NormalExit || exitCode != 0 || !m_interval.isActive())
        return;
    const double percent = m_snapshot->fillPercent(output);
    if (percent < 0)
        return;
    // The highest level the volume has reached, 0 for none.
    const auto highest = std::find_if(std::rbegin(warningLevels), std::rend(warningLevels),
        [percent](int level) { return percent >= level; });
    const int reached = highest == std::rend(warningLevels) ? 0 : *highest;
    if (reached <= m_warned)
        return;
    m_warned = reached;
    emit warning(m_snapshot->fillWarning(percent));
}
