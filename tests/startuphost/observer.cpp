// Watches the program's real entry from inside its process, for the start-up tests: it writes to
// the journal named by KIV_OBSERVER_JOURNAL every message box it answers with OK, and the main
// window once it is shown, which it then closes.

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include "mainwindow.h"

namespace {

void journal(const QString& event, QString details)
{
    QFile file(qEnvironmentVariable("KIV_OBSERVER_JOURNAL"));
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        file.write(
            (event + QLatin1Char(' ') + details.replace(QLatin1Char('\n'), QLatin1String("\\n"))).toUtf8()
            + '\n');
}

void observe()
{
    if (qEnvironmentVariableIsEmpty("KIV_OBSERVER_JOURNAL"))
        return;
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, qApp, []() {
        static QPointer<QWidget> answeredBox;
        static bool windowSeen = false;
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal); box && box != answeredBox) {
            answeredBox = box;
            QStringList buttons;
            for (QAbstractButton* button : box->buttons())
                buttons << button->text().remove(QLatin1Char('&'));
            journal(QStringLiteral("box"),
                QStringList {box->windowTitle(), box->text(), QString::number(box->icon()),
                    buttons.join(QLatin1Char(','))}
                    .join(QLatin1Char('|')));
            QTimer::singleShot(0, box, [box]() { box->buttons().constFirst()->click(); });
            return;
        }
        const QWidgetList windows = QApplication::topLevelWidgets();
        for (QWidget* window : windows) {
            if (!windowSeen && window->inherits("MainWindow") && window->isVisible()) {
                windowSeen = true;
                journal(QStringLiteral("window"), window->windowTitle());
                window->close();
            }
        }
    });
    timer->start(50);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(observe)
