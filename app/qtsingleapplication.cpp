#include "qtsingleapplication.h"

#include <unistd.h>

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QWidget>

namespace {

const QByteArray activateMessage = QByteArrayLiteral("activate");

QString instanceDirectory()
{
    // The runtime directory belongs to the user alone, so nobody else can hold or fake the lock.
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return runtime.isEmpty() ? QDir::tempPath() : runtime;
}

} // namespace

QtSingleApplication::QtSingleApplication(int& argc, char** argv, bool GUIenabled)
    : QApplication(argc, argv, GUIenabled)
{
    const QString id = QCoreApplication::applicationName() + QLatin1Char('-') + QString::number(::geteuid());
    const QString directory = instanceDirectory();
    m_socketName = directory + QLatin1Char('/') + id + QStringLiteral(".socket");
    m_lock = new QLockFile(directory + QLatin1Char('/') + id + QStringLiteral(".lock"));
    // A lock is stale only when its process is gone, never because the instance ran for long.
    m_lock->setStaleLockTime(0);
    m_isPrimary = m_lock->tryLock(0);
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
    if (!m_isPrimary) {
        sendMessage(QString::fromLatin1(activateMessage));
        return;
    }
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
