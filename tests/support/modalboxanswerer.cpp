#include "modalboxanswerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QTest>

namespace {

QString plainText(QString text)
{
    return text.remove(QLatin1Char('&'));
}

} // namespace

ModalBoxAnswerer::ModalBoxAnswerer(const QString& button, int boundMs, const QString& title)
    : m_button(button)
    , m_boundMs(boundMs)
    , m_title(title)
{
    m_started.start();
    m_timer.setInterval(20);
    connect(&m_timer, &QTimer::timeout, this, &ModalBoxAnswerer::poll);
    m_timer.start();
}

SeenBox ModalBoxAnswerer::describe(QWidget* widget)
{
    SeenBox seen;
    seen.title = widget->windowTitle();
    if (auto* box = qobject_cast<QMessageBox*>(widget)) {
        seen.text = box->text();
        seen.informativeText = box->informativeText();
        seen.icon = box->icon();
        const QList<QAbstractButton*> buttons = box->buttons();
        for (QAbstractButton* button : buttons)
            seen.buttons.append(plainText(button->text()));
    }
    return seen;
}

void ModalBoxAnswerer::poll()
{
    if (m_done)
        return;
    QWidget* modal = QApplication::activeModalWidget();
    if (modal && !m_title.isNull() && modal->windowTitle() != m_title)
        modal = nullptr;
    if (!modal) {
        if (m_started.hasExpired(m_boundMs)) {
            m_problem = QStringLiteral("no modal box came within %1 ms").arg(m_boundMs);
            m_done = true;
            m_timer.stop();
        }
        return;
    }
    m_done = true;
    m_timer.stop();
    m_box = describe(modal);
    const QList<QAbstractButton*> buttons = modal->findChildren<QAbstractButton*>();
    for (QAbstractButton* button : buttons) {
        if (button->isVisible() && plainText(button->text()) == m_button) {
            m_answered = true;
            button->click();
            return;
        }
    }
    m_problem = QStringLiteral("the box \"%1\" has no button \"%2\"").arg(m_box.title, m_button);
    if (auto* dialog = qobject_cast<QDialog*>(modal))
        dialog->reject();
    else
        modal->close();
}

bool ModalBoxAnswerer::waitAnswered()
{
    QElapsedTimer timer;
    timer.start();
    while (!m_done && timer.elapsed() <= m_boundMs + 1000)
        QTest::qWait(10);
    return m_answered;
}
