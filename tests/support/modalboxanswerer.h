#pragma once

#include <QElapsedTimer>
#include <QMessageBox>
#include <QObject>
#include <QStringList>
#include <QTimer>

// What a modal box showed when it was answered.
struct SeenBox
{
    QString title;
    QString text;
    QString informativeText;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;
};

// Answers the next modal box of this process: polls for the active modal widget, records what it
// shows and clicks the button with the given text (mnemonic ampersands ignored). When no box came
// within the bound, or the box had no such button, the box is rejected so that the test does not
// hang, and answered() reports false.
class ModalBoxAnswerer final : public QObject
{
    Q_OBJECT

public:
    // With a title, only a box with that title is answered; others are left to other answerers.
    explicit ModalBoxAnswerer(const QString& button, int boundMs = 5000, const QString& title = QString());

    // Waits, processing events, until the box has been answered or the bound has passed.
    bool waitAnswered();
    bool answered() const { return m_answered; }
    const SeenBox& box() const { return m_box; }
    // Why the box could not be answered, for the failure message.
    QString problem() const { return m_problem; }

    // Records what a modal widget shows.
    static SeenBox describe(QWidget* widget);

private:
    void poll();

    QString m_button;
    int m_boundMs = 0;
    QString m_title;
    QTimer m_timer;
    QElapsedTimer m_started;
    bool m_answered = false;
    bool m_done = false;
    SeenBox m_box;
    QString m_problem;
};
