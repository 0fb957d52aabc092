#pragma once

#include <QApplication>
#include <QPointer>
#include <QWidget>

class QLocalServer;
class QLockFile;

// An application of which each user runs one instance at a time. The first instance holds a
// lock file and listens on a local socket, both in a fixed folder of the user's own (root's in
// /run); a later instance finds the lock taken. A message sent to the first instance raises its
// window.
class QtSingleApplication final : public QApplication
{
    Q_OBJECT

public:
    QtSingleApplication(int& argc, char** argv, bool GUIenabled = true);
    ~QtSingleApplication() override;

    // True when another instance of this user already runs.
    bool isRunning() const { return !m_isPrimary && m_refusal.isEmpty(); }
    // Why no instance can start here, ready to be shown; empty when it can.
    QString refusal() const { return m_refusal; }

    // The window raised when a later instance sends a message.
    void setActivationWindow(QWidget* window, bool activateOnMessage = true);

    // Delivers message to the running instance; false when it could not be delivered in time.
    bool sendMessage(const QString& message, int timeoutMs = 3000) const;

    // Brings the activation window forward; without one (as in a later instance) nothing happens.
    void activateWindow();

private:
    void acceptConnection();

    QString m_socketName;
    QLockFile* m_lock = nullptr;
    QLocalServer* m_server = nullptr;
    bool m_isPrimary = false;
    QString m_refusal;
    QPointer<QWidget> m_activationWindow;
    bool m_activateOnMessage = false;
};
