#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QProcess>
#include <QSharedPointer>
#include <QStringList>
#include <QThread>

#include "snapshot.h"
#include "snapshotfillwatch.h"

// The process the update tool runs in: a session of its own, which no terminal signal reaches.
// The program ignores the termination signals during a run, and a child would inherit that; the
// tool gets SIGTERM's default handling back, so that stop() can end it.
class ToolProcess final : public QProcess
{
    Q_OBJECT

protected:
    void setupChildProcess() override;
};

// Carries out an update run: executes a queue of commands, each as a run of the update tool
// norvo-update or as the snapshot job on the worker thread, relays the tool's output to the log
// and reports how each command ended, once, through commandFinished. The window decides whether
// the run goes on.
class NorvoUpdate final : public QObject
{
    Q_OBJECT

public:
    enum Commands
    {
        Imitation = 1,
        Update = 2,
        CreateSnapshot = 3,
        ProgramUpdate = 4,
        ProgramUpdateImitation = 5,
        Rollback = 6
    };
    Q_ENUM(Commands)

    // How a command ended.
    struct Outcome
    {
        Commands command = Imitation;
        bool succeeded = false;
        // Why it failed, translated; empty when it succeeded or when a snapshot job failed (the
        // snapshot's errorText() says why).
        QString error;
        // The tool ended with a code that means it changed nothing: a bad command line (2), a
        // missing or wrong checksum (3), another package manager or update at work (4), not enough
        // room (5). After those the system is as the snapshot has it.
        bool changedNothing = false;
        // ProgramUpdate: the application's installed version, when the command changed it.
        QString newVersion;
    };

    explicit NorvoUpdate(QObject* parent = nullptr);
    ~NorvoUpdate() override;

    // Replaces the queue and the update tool's arguments and dispatches the head.
    void start(const QList<Commands>& commands, const QStringList& arguments);
    // Returns the packages of a run of the journal (its id, or "last") to their versions before it;
    // reports its end like any command's.
    void rollBack(const QString& run);
    void nextCommand();
    Commands currentCommand() const;
    // The commands still queued.
    QList<Commands> commands() const;
    // The snapshot fitting the root file system; null when it supports none.
    QSharedPointer<Snapshot> snapshot() const;
    // The snapshot step of the run started last made the snapshot.
    bool snapshotTaken() const;
    // The update tool runs.
    bool isRunning() const;
    // The snapshot step runs on the worker thread.
    bool isTakingSnapshot() const;
    // Silences the tool's process and asks the tool to terminate; the queue stays. After the
    // application's own update the automatic update is switched back on once the tool has ended.
    void stop();
    // Waits, with events processed, until the tool has ended or timeoutMs have passed; true when
    // no tool runs.
    bool waitForToolEnd(int timeoutMs);
    // Ignores SIGQUIT, SIGINT, SIGTERM and SIGHUP for the whole process, or restores their
    // default handling.
    void setSignalsIgnored(bool ignore);
    // Starts the machine's reboot and ends the event loop; false, with the loop going on, when the
    // reboot could not be started.
    bool reboot();

    // The line that shows how long the snapshot job has run; it overwrites the line before.
    static QString elapsedText(qint64 milliseconds);

Q_SIGNALS:
    void logUpdated(QString log);
    void started();
    // Once for every command that ended, stop() aside: a process that ended or could not start,
    // a snapshot job's end.
    void commandFinished(const NorvoUpdate::Outcome& outcome);
    void createSnap();

private:
    void readStdOut();
    void readStdErr();
    void finished(int exitCode, QProcess::ExitStatus exitStatus);
    void errorOccurred(QProcess::ProcessError error);
    void elapsed();
    void finishCommand(Commands command, bool succeeded, const QString& error = QString());
    // What the update tool is asked to do; its command line follows from it alone.
    enum class ToolCall
    {
        Imitation,
        Update,
        ProgramUpdateImitation,
        ProgramUpdate,
        TimerOff,
        TimerOn
    };
    QStringList toolArguments(ToolCall call) const;
    void runTool(const QStringList& arguments);
    void runImitation();
    void runUpdate();
    void runProgramUpdate(bool imitation);
    void runToolSwitch(bool enable);
    int calculateSnapshotSize();
    void runCreateSnapshot();
    void endLeftoverProcess();

    ToolProcess m_process;
    QList<Commands> m_commands;
    int m_currentCommand = Imitation;
    QStringList m_arguments;
    QThread m_thread;
    QSharedPointer<Snapshot> m_snapshot;
    // Measures the snapshot job; QTime's own stopwatch is deprecated, and this one is immune to
    // changes of the clock.
    QElapsedTimer m_time;
    SnapshotFillWatch m_fillWatch;
    bool m_snapshotTaken = false;
    bool m_takingSnapshot = false;
    QString m_version;
    bool m_waitingForSwitch = false;
    // stop() was called: the tool's end is no outcome.
    bool m_stopped = false;
};
