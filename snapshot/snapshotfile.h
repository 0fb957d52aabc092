#pragma once

#include <QCoreApplication>
#include <QList>
#include <QString>

// Sizes in the snapshots' room checks and messages.
inline constexpr qint64 mebibyte = 1024 * 1024;

// The snapshot files lie in /var/tmp, where every local user may write. These rules make sure that
// root writes only files it created itself, keeps them to itself, and restores only from files
// that nobody else could have made or changed. Each returns an empty string on success, otherwise
// the reason, ready to be shown.
class SnapshotFile final
{
    Q_DECLARE_TR_FUNCTIONS(SnapshotFile)

public:
    // Removes whatever stands at path (a file, a link, a folder) and creates an empty file there that
    // only root can read, without following links and only if nobody got there first.
    static QString createPrivate(const QString& path);

    // A snapshot file as root left it: a regular file owned by root, not writable by anyone else,
    // and with no second name through which it could be changed.
    static QString checkGenuine(const QString& path);

    // Like checkGenuine, and readable by root alone: for a file just written.
    static QString checkPrivate(const QString& path);

    // Records that the file is complete at its present size. Only root can set or change the mark.
    static QString markComplete(const QString& path);
    // The file carries the mark of completion and still has the size it had then.
    static bool isMarkedComplete(const QString& path);

    // The system's words for the last failed call (errno).
    static QString systemError();

    // Removes whatever stands at path without following a link; true when nothing is left there.
    static bool removeAny(const QString& path);

    // One mount as /proc/self/mountinfo shows it, its paths decoded.
    struct Mount
    {
        QString root; // the folder of the file system mounted there (a btrfs subvolume's path)
        QString mountPoint;
        QString type;
        QString source;
    };
    // The mounts this process sees.
    static QList<Mount> mounts();
};
