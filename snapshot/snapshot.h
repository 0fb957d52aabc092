#pragma once

#include <QObject>
#include <QString>

// A snapshot of the root file system, taken before an update so that a failed update can be
// rolled back. Each kind keeps its state outside the program (a volume, an archive, a dump
// file), so a snapshot taken by an earlier run is found again. All work is done by external
// commands, one at a time, through execute().
class Snapshot : public QObject
{
    Q_OBJECT

public:
    enum ErrorCode
    {
        Error = -1,
        Success = 0
    };
    Q_ENUM(ErrorCode)

    Snapshot(const QString& name, const QString& device, double size);
    ~Snapshot() override;

    virtual QString name() const;
    // Size in gigabytes.
    virtual double size() const;
    virtual bool exists() = 0;
    // Where the snapshot lies, for an administrator who looks for it.
    virtual QString location() const = 0;
    // Takes the snapshot, then emits created() with the result.
    virtual void create() = 0;
    virtual ErrorCode remove() = 0;
    virtual ErrorCode restore() = 0;
    // What a restore that never ended (power lost, the program killed) had done, once a start of the
    // program has put in order what it left behind.
    enum class Recovery
    {
        Nothing, // there was no such restore
        OfferAgain, // it had changed nothing in use: the snapshot is as it was, to be restored again
        Completed, // it had put the snapshot in place and is now complete; errorText() says what the
                   // administrator has to do (reboot)
    };
    virtual Recovery recoverInterruptedRestore() { return Recovery::Nothing; }
    // The snapshot found at start-up was taken by a run that never ended, and is offered for a
    // restore. A kind that cannot tell its own snapshot from one left earlier says no.
    virtual bool isLeftByInterruptedRun() { return false; }
    // What a finished restore left that only the administrator may delete, as the question to ask
    // them; empty when there is nothing.
    virtual QString leftoverQuestion() { return {}; }
    // Deletes what leftoverQuestion() asked about, or keeps it; either way it is not asked again.
    virtual ErrorCode settleLeftover(bool deleteIt)
    {
        Q_UNUSED(deleteIt)
        return Success;
    }
    // The last restore failed after it had changed the system (the merge of a volume scheduled for
    // the next boot): it must not be started again, and what is left to do is in errorText().
    virtual bool isRestoreHalfDone() const { return false; }
    // While the update writes, the room the snapshot depends on can run out: a command whose
    // output tells how full it is (none when nothing can run out), that output read as a
    // percentage (negative when unreadable), and what the log says at a level worth a warning.
    virtual QStringList fillCommand() const { return {}; }
    virtual double fillPercent(const QByteArray& output) const;
    virtual QString fillWarning(double percent) const;
    // Runs a program with its arguments, which reach it as they are, without a shell and without a
    // time limit; emits tick() for every full second it runs. Whatever it creates is root's alone.
    virtual ErrorCode execute(const QString& program, const QStringList& arguments);

    // Standard error of the last command that failed; empty after a success.
    QString errorText() const { return m_errorText; }
    // Standard output of the last command.
    QString outputText() const { return m_outputText; }

Q_SIGNALS:
    // A command has run for another full second.
    void tick();
    void created(Snapshot::ErrorCode error);

protected:
    // Like execute(), but a command still running after timeoutMs is killed and counts as failed;
    // -1 for no limit.
    ErrorCode executeWithin(const QString& program, const QStringList& arguments, int timeoutMs);
    // The program and arguments of one of the program's own command lines: commandLine parted at
    // its blanks, %1, %2... in its words replaced by values. A value stays within its word, blanks
    // and quotes included.
    static QStringList commandWords(const QString& commandLine, const QStringList& values = {});
    ErrorCode execute(const QStringList& words) { return execute(words.first(), words.mid(1)); }
    ErrorCode executeWithin(const QStringList& words, int timeoutMs)
    {
        return executeWithin(words.first(), words.mid(1), timeoutMs);
    }

    double m_size = 0;
    QString m_name;
    QString m_device;
    QString m_errorText;
    QString m_outputText;
};

Q_DECLARE_METATYPE(Snapshot::ErrorCode)
