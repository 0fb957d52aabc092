#pragma once

#include <QObject>
#include <QProcess>
#include <QTimer>

// Watches how full an LVM snapshot volume grows while the update writes to its origin. A snapshot
// that fills up becomes invalid and can no longer be merged back, just when it is needed, so the
// administrator is told in time to grow it.
class SnapshotFillWatch final : public QObject
{
    Q_OBJECT

public:
    explicit SnapshotFillWatch(QObject* parent = nullptr);

    // Reads the fill level of volume (VOLUME_GROUP/NAME) now and every few seconds.
    void start(const QString& volume);
    void stop();

Q_SIGNALS:
    // A line for the log, once for each level passed.
    void warning(QString text);

private:
    void check();
    void read(int exitCode, QProcess::ExitStatus exitStatus);

    QProcess m_lvs;
    QTimer m_interval;
    QTimer m_deadline;
    QString m_volume;
    // The highest warning level already reported.
    int m_warned = 0;
};
