#pragma once

#include <QObject>
#include <QProcess>
#include <QSharedPointer>
#include <QTimer>

#include "snapshot.h"

// Watches how full the room a snapshot depends on grows while the update writes (an LVM snapshot
// volume that fills up can no longer be merged back; a btrfs file system that fills up fails the
// update half-way), so that the administrator is told in time.
class SnapshotFillWatch final : public QObject
{
    Q_OBJECT

public:
    explicit SnapshotFillWatch(QObject* parent = nullptr);

    // Reads the fill level of the snapshot's room now and every few seconds; nothing for a kind
    // that has none.
    void start(const QSharedPointer<const Snapshot>& snapshot);
    void stop();

Q_SIGNALS:
    // A line for the log, once for each level passed.
    void warning(QString text);

private:
    void check();
    void read(int exitCode, QProcess::ExitStatus exitStatus);

    QProcess m_probe;
    QTimer m_interval;
    QTimer m_deadline;
    QSharedPointer<const Snapshot> m_snapshot;
    // The highest warning level already reported.
    int m_warned = 0;
};
