#include "helpercommand.h"

#include <QDeadlineTimer>

namespace KivAdmin {

HelperResult runHelper(const QString& program, const QStringList& arguments, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    QProcess process;
    process.start(program, arguments, QIODevice::ReadWrite);
    HelperResult result;
    result.started = process.waitForStarted(int(deadline.remainingTime()));
    if (result.started) {
        process.closeWriteChannel();
        result.finished = process.waitForFinished(int(deadline.remainingTime()));
    }
    // Qt leaves an exit code of 255 behind a failed start; callers read that as no exit at all.
    if (result.started) {
        result.exitStatus = process.exitStatus();
        result.exitCode = process.exitCode();
    }
    result.output = process.readAllStandardOutput();
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(1000);
    }
    return result;
}

} // namespace KivAdmin
