#include "childrun.h"

#include <csignal>

#include <unistd.h>

#include <QDeadlineTimer>
#include <QProcess>

namespace {

volatile std::sig_atomic_t stopSignal = 0;

void noteStopSignal(int signalNumber)
{
    stopSignal = signalNumber;
}

// How long a terminated child may take to end.
constexpr int endGraceMs = 10000;

// A child that reads no terminal gets a process group of its own: a Ctrl-C on the terminal
// reaches the tool alone, which passes it on as the child can take it (dpkg and the maintainer
// scripts under apt never see it).
class ChildProcess final : public QProcess
{
public:
    explicit ChildProcess(bool ownGroup)
        : m_ownGroup(ownGroup)
    { }

protected:
    void setupChildProcess() override
    {
        if (m_ownGroup)
            ::setpgid(0, 0);
    }

private:
    bool m_ownGroup;
};

QProcess::ProcessChannelMode channelMode(const ChildRun& run)
{
    if (run.captureOutput && run.captureErrors)
        return QProcess::SeparateChannels;
    if (run.captureOutput)
        return QProcess::ForwardedErrorChannel;
    if (run.captureErrors)
        return QProcess::ForwardedOutputChannel;
    return QProcess::ForwardedChannels;
}

QString spokenDuration(int milliseconds)
{
    if (milliseconds < 2 * 60 * 1000)
        return QStringLiteral("%1 seconds").arg(milliseconds / 1000);
    return QStringLiteral("%1 minutes").arg(milliseconds / 60000);
}

} // namespace

void watchStopSignals()
{
    struct sigaction action = {};
    action.sa_handler = noteStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGPIPE})
        sigaction(signalNumber, &action, nullptr);
}

bool isStopRequested()
{
    return stopSignal != 0;
}

void checkStopRequest()
{
    if (stopSignal != 0)
        throw Failure {ExitCode::stoppedBySignal + stopSignal,
            QStringLiteral("norvo-update: stopped by signal %1").arg(int(stopSignal))};
}

ChildResult runChild(const ChildRun& run)
{
    if (!run.runWhileStopping)
        checkStopRequest();
    ChildProcess process(!run.forwardInput);
    process.setProgram(run.program);
    process.setArguments(run.arguments);
    process.setProcessEnvironment(run.environment);
    process.setProcessChannelMode(channelMode(run));
    if (run.forwardInput)
        process.setInputChannelMode(QProcess::ForwardedInputChannel);
    else
        process.setStandardInputFile(QProcess::nullDevice());
    process.start(QIODevice::ReadOnly);
    if (!process.waitForStarted(KivAdmin::helperTimeoutMs))
        throw Failure {ExitCode::updateFailed,
            QStringLiteral("norvo-update: cannot start %1: %2").arg(run.program, process.errorString())};

    const QDeadlineTimer deadline(run.timeoutMs);
    ChildResult result;
    bool passedOn = run.runWhileStopping;
    // Short waits, so that a stop signal is noticed while the child runs.
    while (!process.waitForFinished(100) && process.state() != QProcess::NotRunning) {
        result.output += process.readAllStandardOutput();
        result.errors += process.readAllStandardError();
        if (stopSignal != 0 && !passedOn) {
            passedOn = true;
            if (run.onStop == ChildRun::OnStop::Interrupt)
                ::kill(pid_t(process.processId()), SIGINT);
        }
        const bool terminate = deadline.hasExpired()
            || (stopSignal != 0 && run.onStop == ChildRun::OnStop::Terminate && !run.runWhileStopping);
        if (terminate) {
            process.terminate();
            if (!process.waitForFinished(endGraceMs)) {
                process.kill();
                process.waitForFinished(endGraceMs);
            }
            if (!run.runWhileStopping)
                checkStopRequest();
            throw Failure {ExitCode::updateFailed,
                QStringLiteral("norvo-update: %1 did not end within %2 and was stopped")
                    .arg(run.program, spokenDuration(run.timeoutMs))};
        }
    }
    // Whatever the child's own verdict, a stopped run is a stopped run.
    if (!run.runWhileStopping)
        checkStopRequest();
    result.output += process.readAllStandardOutput();
    result.errors += process.readAllStandardError();
    result.exitCode = process.exitCode();
    result.succeeded = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return result;
}
