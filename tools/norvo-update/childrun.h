#pragma once

#include <functional>

#include <QList>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include "helpercommand.h"

// A stop request (SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGPIPE) is noted, passed on to the running
// child as its kind of child expects, and turned into a Failure once the child has ended, so that
// every mounted image is unmounted on the way out.
void watchStopSignals();
bool isStopRequested();
// Throws a Failure when a stop signal has arrived.
void checkStopRequest();

// Why the tool ends early: the exit code and the message for standard error.
struct Failure
{
    int exitCode;
    QString message;
};

// A line on standard error under the tool's name: a failure's message, a warning.
void warn(const QString& message);

namespace ExitCode {
inline constexpr int updateFailed = 1;
inline constexpr int usage = 2;
inline constexpr int verificationFailed = 3;
inline constexpr int packageManagerBusy = 4;
inline constexpr int notEnoughSpace = 5;
inline constexpr int stoppedBySignal = 128; // plus the signal's number
} // namespace ExitCode

// A child that reads no terminal gets a process group of its own: a Ctrl-C on the terminal
// reaches the tool alone, which passes it on as the child can take it (dpkg and the maintainer
// scripts under apt never see it).
class ChildProcess final : public QProcess
{
public:
    explicit ChildProcess(bool ownGroup);

protected:
    void setupChildProcess() override;

private:
    bool m_ownGroup;
};

struct ChildResult
{
    bool succeeded = false;
    int exitCode = -1;
    QByteArray output; // when captured
    QByteArray errors; // when captured
    qint64 elapsedMs = 0;
};

struct ChildRun
{
    // What a stop request does to the child.
    enum class OnStop
    {
        Terminate, // SIGTERM, SIGKILL after a grace period: a download, a checksum, a copy
        Interrupt, // SIGINT once, then wait: apt finishes the dpkg call under way and stops
        Finish, // nothing, wait: dpkg, which must never stop half-way through a package
    };

    QString program;
    QStringList arguments;
    QString workingDirectory; // empty: the tool's own
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    bool forwardInput = false; // the child reads the tool's standard input (a terminal)
    bool captureOutput = false; // standard output; otherwise it goes straight to the tool's own
    bool captureErrors = false; // standard error likewise
    OnStop onStop = OnStop::Terminate;
    bool runWhileStopping = false; // the clean-up after an interruption
    int timeoutMs = KivAdmin::helperTimeoutMs;
    QString announcement; // said when the child starts
    std::function<void(const ChildResult&)> onFinished; // as soon as the child has ended
};

// Runs a long child (apt, dpkg, a checksum of a large image) while watching for stop signals.
// Throws a Failure when the child cannot start, outlives its bound or the tool is asked to stop.
ChildResult runChild(const ChildRun& run);
// The same for several children, at most atOnce of them at a time; the results in their order.
QList<ChildResult> runChildren(const QList<ChildRun>& runs, int atOnce);
