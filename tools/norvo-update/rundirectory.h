#pragma once

#include <QString>

// A directory that lives as long as the run: emptied first (of a run that was killed), removed
// at the end.
class ScratchDirectory final
{
public:
    explicit ScratchDirectory(const QString& path);
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    QString path() const { return m_path; }

private:
    QString m_path;
};

// The process that holds a record lock (fcntl) on the file open at fd which a write lock would
// meet: 0 when there is none, -1 when its process cannot be named (a lock of an open file
// description, or one from outside this system's processes).
qint64 lockHolder(int fd);

// One update at a time, for as long as the object lives. A record lock (fcntl) belongs to this
// process alone: it goes with the process however it ends, and a child caught between fork and
// exec does not hold it, as it held the lock file's flock when its parent was killed in between.
// Throws a Failure naming the process that holds it.
class UpdateLock final
{
public:
    // The lock in the state directory, which is made when missing.
    UpdateLock();
    ~UpdateLock();
    UpdateLock(const UpdateLock&) = delete;
    UpdateLock& operator=(const UpdateLock&) = delete;

private:
    int m_fd = -1;
};

// Where runs keep their work folders and the update lock: /run/norvo-update.
QString stateDirectory();

// A folder of the run's work folder for files that hold a password, root's alone (0700) from its
// creation. The work folder itself stays open to apt's sandbox user, which fetches the package
// lists into it: closed, apt would fetch them as root, outside its sandbox.
QString privateDirectory(const QString& workDirectory);

// Writes a file that holds a secret: created root's alone (0600) in one step, never through a
// link and never into a file that somebody already holds open. Throws a Failure.
void writeSecretFile(const QString& path, const QByteArray& content);

// Whether anything is mounted at or below the path.
bool holdsMounts(const QString& path);

// The work directories of runs that ended without cleaning up (killed with SIGKILL, a power cut)
// under the state directory, with the images still mounted there: unmounted and removed. Only
// while this run holds the update lock, so that none of them can belong to a living run.
void cleanUpDeadRuns(const QString& stateDirectory, const QString& ownDirectory);
