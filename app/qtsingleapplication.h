#pragma once

#include <QApplication>
#include <QPointer>
#include <QWidget>

class QLocalServer;
class QLockFile;

// An application of which each user runs one instance at a time. The first instance holds a
// lock file and listens on a local socket, both in the user's private runtime directory; a later
// instance finds the lock taken and can send the first one a message, which raises its window.
class QtSingleApplication final : public QApplication
{
    Q_OBJECT

public:
    QtSingleApplication(int& argc, char** argv, bool GUIenabled = true);
    ~QtSingleApplication() override;

    // True when another instance of this user already runs.
    bool isRunning() const { return !m_isPrimary; }

    // The window raised when a later instance sends a message.
    void setActivationWindow(QWidget* window, bool activateOnMessage = true);

    // Delivers message to the running instance; false when it could not be delivered in time.
    bool sendMessage(const QString& message, int timeoutMs = 3000) const;

    // Brings the activation window forward. In a later instance, which has no window of its own,
    // it asks the running instance to come forward instead.
    void activateWindow();

private:
    void acceptConnection();

    QString m_socketName;
    QLockFile* m_lock = nullptr;
    QLocalServer* m_server = nullptr;
    bool m_isPrimary = false;
    QPointer<QWidget> m_activationWindow;
    bool m_activateOnMessage = false;
};
