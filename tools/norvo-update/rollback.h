#pragma once

#include <QString>

#include "journal.h"
#include "options.h"
#include "runlog.h"

// norvo-update --rollback ID|last: returns the packages a run changed to their versions before
// it. apt plans the way back from a repository of the versions the run kept; what the run newly
// installed is removed, and apt's marks are put back. Refused, with nothing changed, while a later
// update of the same packages stands, or when a kept file is missing or not as it was kept. The
// rollback itself is recorded in rollbackRecord. Returns the exit code.
int rollBack(const Options& options, const RunLog& log, RunRecord* rollbackRecord);

// Settles what runs that ended abruptly (killed, the power lost) left: their records, a rollback's
// apt marks, the store's half-rebuilt packages and the rollbacks' work folders. Says what it found.
// Only while this run holds the update lock, so that none of them can belong to a living run.
void cleanUpAfterAbruptEnds(const RunRecord& own);

// norvo-update --history [ID]: the runs, one line each, newest last; or one run's record.
int showHistory(const QString& id);
