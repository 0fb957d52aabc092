#pragma once

#include <QList>
#include <QString>

#include "repositories.h"

class RunLog;

// The name of a source's kept copy: the image's name without .iso, or the folder's, made one word
// of letters, digits, '-', '_' and '.' that cannot leave the folder of kept copies.
QString keptName(const Repository& repository);

// Refuses (exit code 2) a local repository with links that lead out of it: a copy made with root's
// rights would hold what they point to.
void refuseLinksLeaving(const Repository& repository);

// Copies each local repository to /var/cache/norvo-update/sources/NAME and lists it, with the
// network addresses, in a sources file of its own, so that apt finds the update's packages later
// without the image. The file is checked with apt and put in place whole, or not at all.
void keepSources(const QList<Repository>& repositories, const QString& workDirectory, const RunLog& log);
