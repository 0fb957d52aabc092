// Shows the real windows of the program on the display it is given (a virtual one under Xvfb in
// scripts/screenshots) in the states the README pictures, and saves what the screen shows.
//   screenshot-tour OUTPUT-DIRECTORY

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSettings>
#include <QTimer>

#include "kivintegration.h"
#include "mainwindow.h"
#include "sourcedialog.h"

namespace {

void settle(int milliseconds = 300)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

void saveScreen(const QString& path, const QRect& area)
{
    settle();
    QGuiApplication::primaryScreen()
        ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
        .save(path);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    kivInit(KIV_VERSION, "Kiv norvo update");
    QCoreApplication::setApplicationName(QStringLiteral("kiv-norvo-update"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("kiv-norvo-update")));
    const QString output = QCoreApplication::arguments().value(1, QStringLiteral("."));
    // Pictures of the windows in another language get a suffix, such as -ru.
    const QString suffix = QCoreApplication::arguments().value(2) + QStringLiteral(".png");

    QSettings().clear();
    {
        MainWindow window;
        window.move(0, 0);
        window.show();
        saveScreen(output + QStringLiteral("/simple-mode") + suffix, window.frameGeometry());
    }

    {
        QSettings settings;
        settings.setValue(QStringLiteral("ExpertMode"), true);
        settings.setValue(QStringLiteral("Sources"),
            QStringList {QStringLiteral("/srv/updates/norvo-1.7.3-update.iso"),
                QStringLiteral("/srv/updates/norvo-1.7-devel.iso"),
                QStringLiteral("http://mirror.example/norvo/1.7/")});
        settings.setValue(QStringLiteral("Md5Check"), true);
        settings.setValue(QStringLiteral("Snapshot"), true);
    }
    {
        MainWindow window;
        window.move(0, 0);
        window.show();
        settle();
        window.findChild<QPushButton*>(QStringLiteral("m_imitatePushButton"))->click();
        settle(2500);
        saveScreen(output + QStringLiteral("/expert-mode-log") + suffix, window.frameGeometry());
        // The run ends with its box; answer it so the window can close.
        bool answered = false;
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [&answered]() {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                box->buttons().constFirst()->click();
                answered = true;
            }
        });
        answer.start(50);
        for (int waited = 0; !answered && waited < 20000; waited += 100)
            settle(100);
    }

    {
        SourceDialog dialog;
        dialog.move(0, 0);
        dialog.show();
        dialog.findChild<QLineEdit*>(QStringLiteral("m_sourceLineEdit"))
            ->setText(QStringLiteral("/srv/updates/update.ISO"));
        QTimer::singleShot(0, &dialog, &SourceDialog::accept);
        QTimer::singleShot(800, [&dialog, output, suffix]() {
            saveScreen(output + QStringLiteral("/source-dialog-warning") + suffix, dialog.frameGeometry());
            if (QWidget* box = QApplication::activeModalWidget())
                box->close();
        });
        settle(2000);
    }
    QSettings().clear();
    return 0;
}
