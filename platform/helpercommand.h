#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace KivAdmin {

// How long the GUI thread may wait for any short helper command.
inline constexpr int helperTimeoutMs = 30000;

// What a synchronous helper command left behind. exitStatus and exitCode read as QProcess
// reports them after the wait, so a program that could not start or did not finish in time
// reads as a normal exit with code 0 (the callers decide what that means for them).
struct HelperResult
{
    bool started = false;
    bool finished = false;
    QProcess::ExitStatus exitStatus = QProcess::NormalExit;
    int exitCode = 0;
    QByteArray output;

    bool succeeded() const { return finished && exitStatus == QProcess::NormalExit && exitCode == 0; }
};

// Runs one program with its arguments, no shell, and waits at most timeoutMs for it.
// A program still running at the deadline is killed.
HelperResult runHelper(const QString& program, const QStringList& arguments, int timeoutMs = helperTimeoutMs);

} // namespace KivAdmin
