#pragma once

#include <QObject>
#include <QString>

// Turns the update tool's output, as it arrives in chunks, into a progress value and reports
// lines that say a package-manager sub-process failed. It reads the lines apt and dpkg print in
// their Russian localisation: the summary of how many packages will be upgraded and installed,
// then either "Inst" lines (a simulation) or download, unpacking and setting-up lines (an update).
class UpdateLogParser final : public QObject
{
    Q_OBJECT

public:
    explicit UpdateLogParser(QObject* parent = nullptr);

    // Scans one chunk and returns the progress so far: 0 to 99 for a normal run (more when the
    // tool prints more lines than its summary announced).
    int parse(const QString& text);
    void reset();

Q_SIGNALS:
    void errorDetected();

private:
    QString m_tail;
    qint32 m_total = 0;
    qint32 m_instCount = 0;
    qint32 m_fetchCount = 0;
    qint32 m_unpackCount = 0;
    qint32 m_setupCount = 0;
};
