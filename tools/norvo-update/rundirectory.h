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

// Whether anything is mounted at or below the path.
bool holdsMounts(const QString& path);

// The work directories of runs that ended without cleaning up (killed with SIGKILL, a power cut)
// under the state directory, with the images still mounted there: unmounted and removed. Only
// while this run holds the update lock, so that none of them can belong to a living run.
void cleanUpDeadRuns(const QString& stateDirectory, const QString& ownDirectory);
