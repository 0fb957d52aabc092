#include "qtsingleapplication.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QWidget>

namespace {

// The package's name, not argv[0]: started through a link of another name, the program must
// still find the instance that runs.
constexpr char instanceName[] = "kiv-norvo-update";

// A folder that only the user can change, so that nobody else can hold or fake the lock; others
// may look into it (as into /run/kiv-norvo-update when it was made 0755).
bool isUsersOwnFolder(const QString& path)
{
    struct stat status = {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 && S_ISDIR(status.st_mode)
        && status.st_uid == ::geteuid() && (status.st_mode & 022) == 0;
}

// The same place however the program was started: from a login shell, through pkexec (which
// clears XDG_RUNTIME_DIR) or with another TMPDIR, an instance must find the one that runs.
QString instanceDirectory()
{
    if (::geteuid() == 0) {
        const QString folder = QStringLiteral("/run/") + QLatin1String(instanceName);
        ::mkdir(QFile::encodeName(folder).constData(), 0700);
        return folder;
    }
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && isUsersOwnFolder(runtime))
        return runtime;
    const QString folder = QStringLiteral("/tmp/%1-%2").arg(QLatin1String(instanceName)).arg(::geteuid());
    ::mkdir(QFile::encodeName(folder).constData(), 0700);
    return folder;
}

// The lock, also when the instance that held it is gone but a child it had forked and not yet
// started still keeps the lock file open and flocked, waiting for ever for its dead parent:
// QLockFile cannot remove that file then, though no instance runs.
bool takeLock(QLockFile* lock, const QString& path)
{
    if (lock->tryLock(0))
        return true;
    // One start at a time clears such a lock, so that none removes the lock of another.
    QLockFile removal(path + QStringLiteral(".clear"));
    qint64 pid = 0;
    QString host;
    QString program;
    if (!removal.tryLock(0) || !lock->getLockInfo(&pid, &host, &program) || pid <= 0
        || ::kill(pid_t(pid), 0) == 0 || errno != ESRCH)
        return false;
    QFile::remove(path);
    return lock->tryLock(0);
}

} // namespace

QtSingleApplication::QtSingleApplication(int& argc, char** argv, bool GUIenabled)
    : QApplication(argc, argv, GUIenabled)
{
    const QString id = QLatin1String(instanceName) + QLatin1Char('-') + QString::number(::geteuid());
    const QString directory = instanceDirectory();
    m_socketName = directory + QLatin1Char('/') + id + QStringLiteral(".socket");
    const QString lockPath = directory + QLatin1Char('/') + id + QStringLiteral(".lock");
    m_lock = new QLockFile(lockPath);
    // A lock is stale only when its process is gone, never because the instance ran for long.
    m_lock->setStaleLockTime(0);
    // In a folder somebody else controls no instance can be sure to be the only one: none starts.
    if (!isUsersOwnFolder(directory)) {
        m_refusal = tr("The program cannot start: its lock folder %1 must belong to you and be writable "
                       "by you alone. Correct its owner and mode, or remove it, and start the program again.")
                        .arg(directory);
        return;
    }
    m_isPrimary = takeLock(m_lock, lockPath);
    if (!m_isPrimary)
        return;

    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // A socket left by a killed instance would make listen() fail; the lock says it is ours now.
    QLocalServer::removeServer(m_socketName);
    m_server->listen(m_socketName);
    connect(m_server, &QLocalServer::newConnection, this, &QtSingleApplication::acceptConnection);
}

QtSingleApplication::~QtSingleApplication()
{
    if (m_server)
        m_server->close();
    delete m_lock;
}

void QtSingleApplication::setActivationWindow(QWidget* window, bool activateOnMessage)
{
    m_activationWindow = window;
    m_activateOnMessage = activateOnMessage;
}

bool QtSingleApplication::sendMessage(const QString& message, int timeoutMs) const
{
    if (m_isPrimary)
        return false;
    QLocalSocket socket;
    socket.connectToServer(m_socketName);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.write(message.toUtf8() + '\n');
    const bool written = socket.waitForBytesWritten(timeoutMs);
    socket.disconnectFromServer();
    return written;
}

void QtSingleApplication::activateWindow()
{
    // A later instance has no window of its own, and leaves the running one as it is.
    if (!m_activationWindow)
        return;
    m_activationWindow->setWindowState(m_activationWindow->windowState() & ~Qt::WindowMinimized);
    m_activationWindow->show();
    m_activationWindow->raise();
    m_activationWindow->activateWindow();
}

void QtSingleApplication::acceptConnection()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket]() {
            while (socket->canReadLine()) {
                socket->readLine();
                if (m_activateOnMessage)
                    activateWindow();
            }
        });
    }
}
