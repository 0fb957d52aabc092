#include "childrun.h"

#include <algorithm>
#include <cerrno>
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

// A child that answers a terminal writes to it itself. Every other child's output passes through
// the tool: when the reader goes away (a closed pipe), the tool alone gets SIGPIPE, a stop like
// any other, instead of apt or dpkg, which it would kill half-way through a package.
QProcess::ProcessChannelMode channelMode(const ChildRun& run)
{
    if (!run.forwardInput)
        return QProcess::SeparateChannels;
    if (run.captureOutput && run.captureErrors)
        return QProcess::SeparateChannels;
    if (run.captureOutput)
        return QProcess::ForwardedErrorChannel;
    if (run.captureErrors)
        return QProcess::ForwardedOutputChannel;
    return QProcess::ForwardedChannels;
}

// A reader that went away is a stop by SIGPIPE, noted here as well: QProcess ignores SIGPIPE once it
// has started a child, so the signal itself never arrives. Nothing more is written there then.
void relay(int fd, const QByteArray& data)
{
    static bool readerGone[3] = {};
    for (qint64 written = 0; !readerGone[fd] && written < data.size();) {
        const ssize_t chunk = ::write(fd, data.constData() + written, size_t(data.size() - written));
        if (chunk < 0 && errno == EINTR)
            continue;
        readerGone[fd] = chunk <= 0;
        if (chunk < 0 && errno == EPIPE && stopSignal == 0)
            stopSignal = SIGPIPE;
        written += qMax<ssize_t>(chunk, 0);
    }
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
    // One child's process and where it stands.
    struct Child
    {
        explicit Child(const ChildRun& run)
            : run(run)
            , process(!run.forwardInput)
            , passedOn(run.runWhileStopping)
        { }
        const ChildRun& run;
        ChildProcess process;
        ChildResult result;
        QDeadlineTimer deadline;
        QElapsedTimer clock;
        bool passedOn; // the stop has been passed on, or is not to be
        bool done = false;
    };
    std::vector<std::unique_ptr<Child>> children;
    for (const ChildRun& run : runs)
        children.push_back(std::make_unique<Child>(run));

    auto start = [](Child& child) {
        const ChildRun& run = child.run;
        child.process.setProgram(run.program);
        child.process.setArguments(run.arguments);
        child.process.setProcessEnvironment(run.environment);
        child.process.setWorkingDirectory(run.workingDirectory);
        child.process.setProcessChannelMode(channelMode(run));
        if (run.forwardInput)
            child.process.setInputChannelMode(QProcess::ForwardedInputChannel);
        else
            child.process.setStandardInputFile(QProcess::nullDevice());
        if (!run.announcement.isEmpty())
            say(run.announcement);
        child.clock.start();
        child.process.start(QIODevice::ReadOnly);
        if (!child.process.waitForStarted(KivAdmin::helperTimeoutMs))
            throw Failure {ExitCode::updateFailed,
                QStringLiteral("cannot start %1: %2").arg(run.program, child.process.errorString())};
        child.deadline = QDeadlineTimer(run.timeoutMs);
    };
    auto finish = [whileStopping](Child& child) {
        child.done = true;
        child.result.exitCode = child.process.exitCode();
        child.result.succeeded
            = child.process.exitStatus() == QProcess::NormalExit && child.result.exitCode == 0;
        child.result.elapsedMs = child.clock.elapsed();
        // A stopped run reports no child's verdict.
        if (!whileStopping)
            checkStopRequest();
        if (child.run.onFinished)
            child.run.onFinished(child.result);
    };
    // A failure, a stop or the end of this function ends whatever still runs.
    const auto endAll = qScopeGuard([&children] {
        for (const auto& child : children) {
            if (child->process.state() == QProcess::NotRunning)
                continue;
            child->process.terminate();
            if (!child->process.waitForFinished(endGraceMs)) {
                child->process.kill();
                child->process.waitForFinished(endGraceMs);
            }
        }
    });

    size_t started = 0;
    size_t finished = 0;
    while (finished < children.size()) {
        while (started < children.size() && started - finished < size_t(atOnce))
            start(*children[started++]);
        finished = 0;
        // Short waits, so that a stop signal is noticed while the children run.
        for (size_t i = 0; i < started; ++i) {
            Child& child = *children[i];
            if (child.process.state() != QProcess::NotRunning)
                child.process.waitForFinished(int(100 / started));
            const QByteArray output = child.process.readAllStandardOutput();
            const QByteArray errors = child.process.readAllStandardError();
            if (child.run.captureOutput)
                child.result.output += output;
            else if (!child.run.forwardInput)
                relay(STDOUT_FILENO, output);
            if (child.run.captureErrors)
                child.result.errors += errors;
            else if (!child.run.forwardInput)
                relay(STDERR_FILENO, errors);
            if (child.process.state() == QProcess::NotRunning) {
                if (!child.done)
                    finish(child);
                ++finished;
                continue;
            }
            if (stopSignal != 0 && !child.passedOn) {
                child.passedOn = true;
                if (child.run.onStop == ChildRun::OnStop::Interrupt)
                    ::kill(pid_t(child.process.processId()), SIGINT);
                else if (child.run.onStop == ChildRun::OnStop::Terminate)
                    checkStopRequest();
            }
            if (child.deadline.hasExpired()) {
                if (!child.run.runWhileStopping)
                    checkStopRequest();
                throw Failure {ExitCode::updateFailed,
                    QStringLiteral("%1 did not end within %2 and was stopped")
                        .arg(child.run.program, spokenDuration(child.run.timeoutMs))};
            }
        }
    }
    QList<ChildResult> results;
    for (const auto& child : children)
        results << child->result;
    return results;
}
