#include "snapshot.h"

#include <sys/stat.h>

#include <QElapsedTimer>
#include <QProcess>

namespace {

// The snapshot commands write whole copies of the system, secrets included: nothing they create
// may be readable by other users, whatever umask the program was started with.
class PrivateProcess final : public QProcess
{
protected:
    void setupChildProcess() override { ::umask(077); }
};

} // namespace

Snapshot::Snapshot(const QString& name, const QString& device, double size)
    : m_size(size)
    , m_name(name)
    , m_device(device)
{
    // The result of a creation crosses from the worker thread in a queued connection.
    qRegisterMetaType<Snapshot::ErrorCode>("Snapshot::ErrorCode");
}

Snapshot::~Snapshot() = default;

QString Snapshot::name() const
{
    return m_name;
}

double Snapshot::size() const
{
    return m_size;
}

double Snapshot::fillPercent(const QByteArray& /*output*/) const
{
    return -1;
}

QString Snapshot::fillWarning(double /*percent*/) const
{
    return QString();
}

QStringList Snapshot::commandWords(const QString& commandLine, const QStringList& values)
{
    QStringList words = commandLine.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (QString& word : words) {
        // From the highest number down, so that %1 never takes the start of a %10.
        for (int index = values.size(); index > 0; --index)
            word.replace(QLatin1Char('%') + QString::number(index), values.at(index - 1));
    }
    return words;
}

Snapshot::ErrorCode Snapshot::execute(const QString& program, const QStringList& arguments)
{
    return executeWithin(program, arguments, -1);
}

Snapshot::ErrorCode Snapshot::executeWithin(
    const QString& program, const QStringList& arguments, int timeoutMs)
{
    m_errorText.clear();
    m_outputText.clear();
    PrivateProcess process;
    process.start(program, arguments, QIODevice::ReadWrite);
    QElapsedTimer running;
    running.start();
    while (!process.waitForFinished(1000)) {
        // A program that never started never finishes either: end the wait and name it.
        if (process.error() == QProcess::FailedToStart) {
            m_errorText
                = tr("The program \"%1\" could not be started: %2").arg(program, process.errorString());
            return Error;
        }
        if (process.state() == QProcess::NotRunning)
            break;
        if (timeoutMs >= 0 && running.elapsed() >= timeoutMs) {
            process.kill();
            process.waitForFinished(1000);
            m_errorText = tr("\"%1\" did not finish within %2 seconds and was stopped.")
                              .arg(program)
                              .arg(timeoutMs / 1000);
            return Error;
        }
        emit tick();
    }
    m_outputText = QString::fromLocal8Bit(process.readAllStandardOutput());
    if (process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return Success;
    m_errorText = QString::fromLocal8Bit(process.readAllStandardError());
    return Error;
}
