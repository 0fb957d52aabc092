#pragma once

#include <QString>

// Appends time-stamped lines to a log file; each write opens and closes the file, so that
// nothing is lost when the program ends abruptly.
class Logger final
{
public:
    // level 0 records problems and verdicts; a higher level records every usable entry too.
    Logger(const QString& path, int level);

    int level() const { return m_level; }

    // Returns false when the file could not be written.
    bool write(const QString& message) const;

private:
    QString m_path;
    int m_level = 0;
};
