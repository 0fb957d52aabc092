#pragma once

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>

#include "childrun.h"

// An installed package written back into a .deb in one pass over its files: the control files from
// dpkg's database, the files as they are installed, streamed by tar into the archive without a
// copy in between and without compression. What dpkg-repack does, at the cost of reading the files
// once.
class Repack final
{
public:
    // What of dpkg's database the packages are written back from, read once for all of them.
    struct Database
    {
        // Each package's entry by its name:architecture and by its name alone.
        QHash<QString, QByteArray> entries;
        // The files other packages divert.
        QSet<QByteArray> diverted;
    };
    static Database readDatabase();

    // package as dpkg names it (with :ARCH for a package of another architecture); target the .deb
    // to write, which gets its name only once complete (written under .rebuild-PID-NAME beside it,
    // so that a run killed half-way leaves no partial archive under a kept version's name).
    Repack(const QString& package, const QString& target, const Database& database);

    // Writes the archive's head and returns the child that streams the files into it; empty
    // program when this package needs dpkg-repack (a file diverted by another package, a
    // database entry it cannot read), with the reason in error().
    ChildRun start();
    // Completes the archive once the child has ended well and gives it its name; false (with
    // error()) otherwise.
    bool finish(const ChildResult& result);

    QString error() const { return m_error; }

private:
    QString m_package;
    QString m_target;
    QString m_partial;
    const Database& m_database;
    QString m_fileList;
    qint64 m_dataHeader = -1; // where the data member's header lies in the archive
    QString m_error;
};
