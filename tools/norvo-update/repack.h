#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
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

    // package as dpkg names it (with :ARCH for a package of another architecture); partial the
    // archive while it is written, with its list of files at PARTIAL.files and the folder that
    // holds them at PARTIAL.root. It gets its kept name only once complete, so that a run killed
    // half-way leaves no partial archive under a kept version's name.
    Repack(const QString& package, const QString& partial, const Database& database);

    // Writes the archive's head and the list of the files; false (with error()) when this package
    // needs dpkg-repack (a file diverted by another package, a database entry it cannot read).
    bool prepare();
    // Gives the listed files second names under PARTIAL.root, so that the archive can be written
    // from them while dpkg replaces the installed ones: hard links, which cost no reading, and
    // copies of the set-id files (dpkg strips their modes before it lets go of them). False,
    // leaving nothing, where that cannot be done (the store on another file system, a device file).
    bool hold();
    // The child that appends the installed files to the archive, for a package not held.
    ChildRun stream() const;
    QString error() const { return m_error; }

    // Completes an archive whose files have been appended and gives it its name; empty, or why
    // not (the partial archive is then removed).
    static QString complete(const QString& partial, const QString& target);
    // Cuts an archive back to its head, to append its files once more (one without a head fails to
    // complete).
    static void rewind(const QString& partial);

private:
    QString m_package;
    QString m_partial;
    const Database& m_database;
    QList<QByteArray> m_paths; // the files in the archive, as installed
    QString m_error;
};
