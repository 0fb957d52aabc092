#include "childrun.h"

#include <csignal>

#include <QDeadlineTimer>
#include <QProcess>

namespace {

volatile std::sig_atomic_t stopSignal = 0;

void noteStopSignal(int signalNumber)
{
    stopSignal = signalNumber;
}

// How long a child may take to end after it was asked to.
constexpr int endGraceMs = 10000;

} // namespace

void watchStopSignals()
{
    struct sigaction action = {};
    action.sa_handler = noteStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : {SIGTERM, SIGINT, SIGHUP, SIGQUIT})
        sigaction(signalNumber, &action, nullptr);
}

void checkStopRequest()
{
    if (stopSignal != 0)
        throw Failure {ExitCode::stoppedBySignal + stopSignal,
            QStringLiteral("norvo-update: stopped by signal %1").arg(int(stopSignal))};
}

ChildResult runChild(const ChildRun& run)
{
    checkStopRequest();
    QProcess process;
    process.setProgram(run.program);
    process.setArguments(run.arguments);
    process.setProcessEnvironment(run.environment);
    process.setProcessChannelMode(
        run.captureOutput ? QProcess::ForwardedErrorChannel : QProcess::ForwardedChannels);
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
    // Short waits, so that a stop signal is noticed while the child runs.
    while (!process.waitForFinished(100)) {
        if (process.state() == QProcess::NotRunning)
            break;
        if (run.captureOutput)
            result.output += process.readAllStandardOutput();
        if (stopSignal != 0 || deadline.hasExpired()) {
            process.terminate();
            if (!process.waitForFinished(endGraceMs)) {
                process.kill();
                process.waitForFinished(endGraceMs);
            }
            checkStopRequest();
            throw Failure {ExitCode::updateFailed,
                QStringLiteral("norvo-update: %1 did not end within %2 minutes and was stopped")
                    .arg(run.program)
                    .arg(run.timeoutMs / 60000)};
        }
    }
    if (run.captureOutput)
        result.output += process.readAllStandardOutput();
    result.exitCode = process.exitCode();
    result.succeeded = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return result;
}
