#include "norvoupdate.h"

#include <csignal>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTime>
#include <QTimer>
#include <QUrl>

#include "btrfssnapshot.h"
#include "helpercommand.h"
#include "lvmsnapshot.h"
#include "packagemanager.h"
#include "rootfilesystem.h"
#include "xfssnapshot.h"

namespace {

constexpr int switchTimeoutMs = 30000;
// A leftover child (a stopped run, a switch past its time) gets this long to end before it is
// killed.
constexpr int leftoverTimeoutMs = 5000;
constexpr double smallestSnapshotGb = 6;

} // namespace

void ToolProcess::setupChildProcess()
{
    // Runs in the child between fork and exec: only async-signal-safe calls. A session of its own
    // keeps a Ctrl-C or a closed terminal from reaching the tool and, through it, dpkg; SIGTERM,
    // with which stop() ends it, is the one signal it gets back.
    ::setsid();
    ::signal(SIGTERM, SIG_DFL);
}

NorvoUpdate::NorvoUpdate(QObject* parent)
    : QObject(parent)
{
    const RootFileSystem root = detectRootFileSystem();
    // A btrfs snapshot needs no room in a volume group, so it is taken on a mapped device too.
    if (root.isValid() && root.type() == QLatin1String("btrfs")) {
        const double size = qMax(double(calculateSnapshotSize()), smallestSnapshotGb);
        m_snapshot.reset(
            new BtrfsSnapshot(QStringLiteral("btrfssnap-kiv-norvo-update"), root.device(), size));
    } else if (root.isValid() && root.isLvm()) {
        const double size = qMax(double(calculateSnapshotSize()), smallestSnapshotGb);
        m_snapshot.reset(new LvmSnapshot(QStringLiteral("lvsnap-kiv-norvo-update"), root.device(), size));
    } else if (root.isValid() && root.type() == QLatin1String("xfs")) {
        m_snapshot.reset(new XfsSnapshot(QStringLiteral("xfssnap-kiv-norvo-update"), root.device()));
    }
    if (m_snapshot) {
        m_snapshot->moveToThread(&m_thread);
        m_thread.start();
        connect(this, &NorvoUpdate::createSnap, m_snapshot.data(), &Snapshot::create);
        connect(
            m_snapshot.data(), &Snapshot::created, this,
            [this](Snapshot::ErrorCode error) {
                m_takingSnapshot = false;
                m_snapshotTaken = error == Snapshot::Success;
                finishCommand(CreateSnapshot, m_snapshotTaken);
            },
            Qt::QueuedConnection);
        connect(m_snapshot.data(), &Snapshot::tick, this, &NorvoUpdate::elapsed, Qt::QueuedConnection);
    }
    connect(&m_fillWatch, &SnapshotFillWatch::warning, this, &NorvoUpdate::logUpdated);

    m_process.setProgram(QStringLiteral("norvo-update"));
    connect(&m_process, &QProcess::readyReadStandardOutput, this, &NorvoUpdate::readStdOut);
    connect(&m_process, &QProcess::readyReadStandardError, this, &NorvoUpdate::readStdErr);
    connect(&m_process, &QProcess::started, this, &NorvoUpdate::started);
    connect(&m_process, &QProcess::errorOccurred, this, &NorvoUpdate::errorOccurred);
    connect(
        &m_process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this, &NorvoUpdate::finished);
}

NorvoUpdate::~NorvoUpdate()
{
    // A child still running is killed with the process object, after the queue is gone.
    m_process.blockSignals(true);
    m_thread.quit();
    m_thread.wait();
}

void NorvoUpdate::start(const QList<Commands>& commands, const QStringList& arguments)
{
    m_commands = commands;
    m_arguments = arguments;
    m_snapshotTaken = false;
    nextCommand();
}

void NorvoUpdate::rollBack(const QString& run)
{
    m_commands = {Rollback};
    m_currentCommand = Rollback;
    m_snapshotTaken = false;
    emit logUpdated(tr("Rollback...\n"));
    runTool({QStringLiteral("-A"), QStringLiteral("--rollback"), run});
}

void NorvoUpdate::nextCommand()
{
    if (m_commands.isEmpty())
        return;
    const Commands command = m_commands.first();
    m_currentCommand = command;
    switch (command) {
    case Imitation:
        runImitation();
        break;
    case Update:
        runUpdate();
        break;
    case CreateSnapshot:
        runCreateSnapshot();
        break;
    case ProgramUpdate:
        runProgramUpdate(false);
        break;
    case ProgramUpdateImitation:
        runProgramUpdate(true);
        break;
    case Rollback:
        // Started by rollBack() alone, never queued behind another command.
        break;
    }
}

NorvoUpdate::Commands NorvoUpdate::currentCommand() const
{
    return Commands(m_currentCommand);
}

QList<NorvoUpdate::Commands> NorvoUpdate::commands() const
{
    return m_commands;
}

QSharedPointer<Snapshot> NorvoUpdate::snapshot() const
{
    return m_snapshot;
}

bool NorvoUpdate::isTakingSnapshot() const
{
    return m_takingSnapshot;
}

bool NorvoUpdate::snapshotTaken() const
{
    return m_snapshotTaken;
}

bool NorvoUpdate::isRunning() const
{
    return m_process.state() != QProcess::NotRunning;
}

void NorvoUpdate::stop()
{
    m_fillWatch.stop();
    // The tool's further output and exit report nothing; the queue stays.
    m_stopped = true;
    m_process.terminate();
}

bool NorvoUpdate::waitForToolEnd(int timeoutMs)
{
    if (m_process.state() == QProcess::NotRunning)
        return true;
    QEventLoop loop;
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    connect(&m_process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), &loop, &QEventLoop::quit);
    loop.exec();
    return m_process.state() == QProcess::NotRunning;
}

void NorvoUpdate::setSignalsIgnored(bool ignore)
{
    struct sigaction action = {};
    action.sa_handler = ignore ? SIG_IGN : SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGQUIT, SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
}

bool NorvoUpdate::reboot()
{
    setSignalsIgnored(false);
    if (!QProcess::startDetached(QStringLiteral("reboot"), {}))
        return false;
    QCoreApplication::exit(0);
    return true;
}

void NorvoUpdate::readStdOut()
{
    const QByteArray output = m_process.readAllStandardOutput();
    if (!m_stopped)
        emit logUpdated(QString::fromLocal8Bit(output));
}

void NorvoUpdate::readStdErr()
{
    const QByteArray output = m_process.readAllStandardError();
    if (!m_stopped)
        emit logUpdated(QString::fromLocal8Bit(output));
}

void NorvoUpdate::finished(int exitCode, QProcess::ExitStatus exitStatus)
{
    m_fillWatch.stop();
    if (m_commands.isEmpty())
        return;
    // The automatic update goes back on after the application's own update, whatever its end.
    if (m_stopped) {
        if (m_commands.first() == ProgramUpdate)
            runToolSwitch(true);
        return;
    }
    const Commands command = m_commands.takeFirst();
    if (command == ProgramUpdate)
        runToolSwitch(true);
    if (exitStatus == QProcess::CrashExit) {
        finishCommand(command, false, tr("The update crashed!"));
        return;
    }
    if (exitCode != 0) {
        Outcome outcome;
        outcome.command = command;
        outcome.error = tr("The update is not success!");
        outcome.changedNothing = exitCode >= 2 && exitCode <= 5;
        emit commandFinished(outcome);
        return;
    }
    if (command != ProgramUpdate) {
        finishCommand(command, true);
        return;
    }
    Outcome outcome;
    outcome.command = command;
    outcome.succeeded = true;
    const QStringList versions
        = KivAdmin::PackageManager::getInstalledPackagesVersions(QCoreApplication::applicationName());
    // No version to compare (the package is not installed, or dpkg did not answer): a restart
    // could not be shown to be needed, so the run goes on in this instance.
    if (!versions.isEmpty() && versions.first() != m_version)
        outcome.newVersion = versions.first();
    emit commandFinished(outcome);
}

void NorvoUpdate::errorOccurred(QProcess::ProcessError error)
{
    // A switch reports nothing, and running past its time is handled where it is waited for.
    if (m_waitingForSwitch || m_stopped)
        return;
    switch (error) {
    case QProcess::FailedToStart:
        // No finished() follows: the command ends here, and stays at the head of the queue.
        m_fillWatch.stop();
        if (m_currentCommand == ProgramUpdate)
            runToolSwitch(true);
        if (m_currentCommand == Rollback) {
            m_commands.clear();
            emit logUpdated(tr("The update tool could not be started: %1\n").arg(m_process.errorString()));
        }
        finishCommand(Commands(m_currentCommand), false, tr("The update failed to start!"));
        break;
    case QProcess::Crashed:
        // finished() follows with CrashExit and reports the command's end.
        break;
    default:
        // The tool still runs; its end is reported when it comes.
        emit logUpdated(tr("An unknown error occurred!") + QLatin1Char('\n'));
        break;
    }
}

void NorvoUpdate::finishCommand(Commands command, bool succeeded, const QString& error)
{
    Outcome outcome;
    outcome.command = command;
    outcome.succeeded = succeeded;
    outcome.error = error;
    emit commandFinished(outcome);
}

void NorvoUpdate::elapsed()
{
    // The snapshot ticks for every command it runs, also for the window's questions and removals
    // outside the snapshot step, which have no time of their own to show.
    if (m_takingSnapshot)
        emit logUpdated(elapsedText(m_time.elapsed()));
}

QString NorvoUpdate::elapsedText(qint64 milliseconds)
{
    // Added to midnight, so that the display wraps after 24 hours.
    const QTime time = QTime(0, 0, 0, 0).addMSecs(int(milliseconds % (qint64(24) * 3600 * 1000)));
    return QStringLiteral("\r") + tr("Elapsed %1").arg(time.toString(QStringLiteral("hh:mm:ss")));
}

void NorvoUpdate::endLeftoverProcess()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    // Whatever this child still reports belongs to no queued command.
    m_process.blockSignals(true);
    m_process.terminate();
    if (!m_process.waitForFinished(leftoverTimeoutMs)) {
        m_process.kill();
        m_process.waitForFinished(leftoverTimeoutMs);
    }
}

QStringList NorvoUpdate::toolArguments(ToolCall call) const
{
    QStringList arguments = m_arguments;
    switch (call) {
    case ToolCall::Imitation:
        return arguments << QStringLiteral("-n");
    case ToolCall::Update:
        return arguments;
    case ToolCall::ProgramUpdateImitation:
    case ToolCall::ProgramUpdate:
        // The window's list always begins with "-A": the program's own package is updated without
        // it, and without the newest kernel, only the package and what it needs.
        if (!arguments.isEmpty())
            arguments.removeFirst();
        arguments.removeAll(QStringLiteral("-K"));
        if (call == ToolCall::ProgramUpdateImitation)
            arguments << QStringLiteral("-n");
        return arguments << QStringLiteral("-p") << QCoreApplication::applicationName();
    case ToolCall::TimerOff:
        return {QStringLiteral("-d")};
    case ToolCall::TimerOn:
        return {QStringLiteral("-e")};
    }
    return arguments;
}

void NorvoUpdate::runTool(const QStringList& arguments)
{
    // A new command never starts on a process object whose previous child still runs.
    endLeftoverProcess();
    m_process.blockSignals(false);
    m_stopped = false;
    // Any local user reads a command line (ps): an address goes there without its password, and
    // with it in the tool's environment, which only root can read.
    QStringList shown;
    QStringList logins;
    for (const QString& argument : arguments) {
        QUrl address(argument, QUrl::TolerantMode);
        if (address.isValid() && !address.password().isEmpty() && !address.isLocalFile()) {
            logins << argument;
            address.setPassword(QString());
            shown << address.toString();
        } else {
            shown << argument;
        }
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("NORVO_UPDATE_LOGINS"), logins.join(QLatin1Char('\n')));
    m_process.setProcessEnvironment(environment);
    emit logUpdated(tr("Command line: %1 %2\n").arg(m_process.program(), shown.join(QLatin1Char(' '))));
    m_process.setArguments(shown);
    m_process.start(QIODevice::ReadWrite);
}

void NorvoUpdate::runImitation()
{
    emit logUpdated(tr("Update imitation...\n"));
    runTool(toolArguments(ToolCall::Imitation));
}

void NorvoUpdate::runUpdate()
{
    emit logUpdated(tr("Update...\n"));
    runTool(toolArguments(ToolCall::Update));
    if (m_snapshot && m_snapshotTaken)
        m_fillWatch.start(m_snapshot);
}

void NorvoUpdate::runProgramUpdate(bool imitation)
{
    const QStringList versions
        = KivAdmin::PackageManager::getInstalledPackagesVersions(QCoreApplication::applicationName());
    if (!versions.isEmpty())
        m_version = versions.first();
    emit logUpdated(imitation ? tr("Application update imitation...\n") : tr("Application update...\n"));
    runToolSwitch(false);
    runTool(toolArguments(imitation ? ToolCall::ProgramUpdateImitation : ToolCall::ProgramUpdate));
}

void NorvoUpdate::runToolSwitch(bool enable)
{
    const auto finishedSignal = qOverload<int, QProcess::ExitStatus>(&QProcess::finished);
    disconnect(&m_process, finishedSignal, this, &NorvoUpdate::finished);
    m_waitingForSwitch = true;
    runTool(toolArguments(enable ? ToolCall::TimerOn : ToolCall::TimerOff));
    const bool ended
        = m_process.waitForFinished(switchTimeoutMs) || m_process.state() == QProcess::NotRunning;
    m_waitingForSwitch = false;
    if (!ended) {
        // Past its time the switch is ended, so that the next command gets the process object.
        endLeftoverProcess();
        emit logUpdated(tr("The switch command did not end within %1 seconds and was stopped.\n")
                            .arg(switchTimeoutMs / 1000));
    }
    connect(&m_process, finishedSignal, this, &NorvoUpdate::finished);
}

int NorvoUpdate::calculateSnapshotSize()
{
    const KivAdmin::HelperResult estimate
        = KivAdmin::runHelper(QStringLiteral("/usr/sbin/space_calculator"), {});
    const QStringList lines
        = QString::fromLocal8Bit(estimate.output).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return lines.isEmpty() ? -1 : lines.last().toInt(nullptr, 10);
}

void NorvoUpdate::runCreateSnapshot()
{
    m_commands.removeFirst();
    // The window queues the snapshot only when there is one; should it not, the run ends here.
    if (!m_snapshot) {
        finishCommand(CreateSnapshot, false, tr("The file system does not support snapshots."));
        return;
    }
    emit logUpdated(tr("Create system snapshot (%1)...\n").arg(m_snapshot->name()));
    m_snapshot->remove();
    m_time.start();
    m_takingSnapshot = true;
    emit createSnap();
}
