#include "childrun.h"

#include <algorithm>
#include <csignal>
#include <memory>
#include <vector>

#include <unistd.h>

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QProcess>
#include <QScopeGuard>

#include "console.h"

namespace {

volatile std::sig_atomic_t stopSignal = 0;

void noteStopSignal(int signalNumber)
{
    stopSignal = signalNumber;
}

// How long a terminated child may take to end.
constexpr int endGraceMs = 10000;

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

ChildProcess::ChildProcess(bool ownGroup)
    : m_ownGroup(ownGroup)
{ }

void ChildProcess::setupChildProcess()
{
    if (m_ownGroup)
        ::setpgid(0, 0);
}

void warn(const QString& message)
{
    complain(QStringLiteral("norvo-update: ") + message);
}

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
            QStringLiteral("stopped by signal %1").arg(int(stopSignal))};
}

ChildResult runChild(const ChildRun& run)
{
    return runChildren({run}, 1).constFirst();
}

QList<ChildResult> runChildren(const QList<ChildRun>& runs, int atOnce)
{
    const bool whileStopping
        = std::all_of(runs.cbegin(), runs.cend(), [](const ChildRun& run) { return run.runWhileStopping; });
    if (!whileStopping)
        checkStopRequest();
    QList<ChildResult> results;
    std::vector<std::unique_ptr<ChildProcess>> processes;
    std::vector<QDeadlineTimer> deadlines;
    std::vector<bool> passedOn;
    std::vector<QElapsedTimer> clocks(size_t(runs.size()));
    std::vector<bool> done(size_t(runs.size()), false);
    for (int i = 0; i < runs.size(); ++i) {
        results << ChildResult();
        processes.push_back(std::make_unique<ChildProcess>(!runs.at(i).forwardInput));
        deadlines.emplace_back(QDeadlineTimer::Forever);
        passedOn.push_back(runs.at(i).runWhileStopping);
    }
    auto start = [&](int i) {
        const ChildRun& run = runs.at(i);
        ChildProcess& process = *processes[size_t(i)];
        process.setProgram(run.program);
        process.setArguments(run.arguments);
        process.setProcessEnvironment(run.environment);
        process.setProcessChannelMode(channelMode(run));
        if (run.forwardInput)
            process.setInputChannelMode(QProcess::ForwardedInputChannel);
        else
            process.setStandardInputFile(QProcess::nullDevice());
        if (!run.announcement.isEmpty())
            say(run.announcement);
        clocks[size_t(i)].start();
        process.start(QIODevice::ReadOnly);
        if (!process.waitForStarted(KivAdmin::helperTimeoutMs))
            throw Failure {ExitCode::updateFailed,
                QStringLiteral("cannot start %1: %2").arg(run.program, process.errorString())};
        deadlines[size_t(i)] = QDeadlineTimer(run.timeoutMs);
    };
    auto finish = [&](int i) {
        const ChildProcess& process = *processes[size_t(i)];
        ChildResult& result = results[i];
        result.exitCode = process.exitCode();
        result.succeeded = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
        result.elapsedMs = clocks[size_t(i)].elapsed();
        done[size_t(i)] = true;
        // A stopped run reports no child's verdict.
        if (!whileStopping)
            checkStopRequest();
        if (runs.at(i).onFinished)
            runs.at(i).onFinished(result);
    };
    // A failure, a stop or the end of this function ends whatever still runs.
    const auto endAll = qScopeGuard([&processes] {
        for (const auto& process : processes) {
            if (process->state() == QProcess::NotRunning)
                continue;
            process->terminate();
            if (!process->waitForFinished(endGraceMs)) {
                process->kill();
                process->waitForFinished(endGraceMs);
            }
        }
    });

    int started = 0;
    int finished = 0;
    while (finished < runs.size()) {
        while (started < runs.size() && started - finished < atOnce)
            start(started++);
        finished = 0;
        // Short waits, so that a stop signal is noticed while the children run.
        for (int i = 0; i < started; ++i) {
            const ChildRun& run = runs.at(i);
            ChildProcess& process = *processes[size_t(i)];
            if (process.state() != QProcess::NotRunning)
                process.waitForFinished(100 / started);
            results[i].output += process.readAllStandardOutput();
            results[i].errors += process.readAllStandardError();
            if (process.state() == QProcess::NotRunning) {
                if (!done[size_t(i)])
                    finish(i);
                ++finished;
                continue;
            }
            if (stopSignal != 0 && !passedOn[size_t(i)]) {
                passedOn[size_t(i)] = true;
                if (run.onStop == ChildRun::OnStop::Interrupt)
                    ::kill(pid_t(process.processId()), SIGINT);
            }
            const bool terminate
                = stopSignal != 0 && run.onStop == ChildRun::OnStop::Terminate && !run.runWhileStopping;
            if (terminate)
                checkStopRequest();
            if (deadlines[size_t(i)].hasExpired()) {
                if (!run.runWhileStopping)
                    checkStopRequest();
                throw Failure {ExitCode::updateFailed,
                    QStringLiteral("%1 did not end within %2 and was stopped")
                        .arg(run.program, spokenDuration(run.timeoutMs))};
            }
        }
    }
    return results;
}
