#pragma once

#include <memory>

#include <QString>
#include <QStringList>

class Logger;

// Checks that the package sources apt is configured with are usable: one-line ".list" files and
// deb822 ".sources" files, their syntax, the scheme of every URI, and that local paths exist.
class UpdateValidatorManager final
{
public:
    // sourceFiles: the files to check; empty means the system's configuration
    // (/etc/apt/sources.list and the ".list" and ".sources" files of /etc/apt/sources.list.d).
    UpdateValidatorManager(std::shared_ptr<Logger> logger, const QStringList& sourceFiles);

    // True when at least one enabled entry is usable and no entry has a problem. Every problem
    // is logged with its file and line.
    bool check();
    // The problems the last check found, each as "file:line: what".
    QStringList problems() const { return m_problemLines; }

    static QStringList systemSourceFiles();

private:
    struct Entry;
    void checkOneLineFile(const QString& path, const QStringList& lines);
    void checkDeb822File(const QString& path, const QStringList& lines);
    bool checkEntry(const Entry& entry);
    bool checkUri(const QString& uri, const QString& where);
    void problem(const QString& where, const QString& message);

    std::shared_ptr<Logger> m_logger;
    QStringList m_sourceFiles;
    QStringList m_problemLines;
    int m_problems = 0;
    int m_usable = 0;
};
