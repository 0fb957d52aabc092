#include <unistd.h>

#include <cstdio>

#include <QIcon>
#include <QMessageBox>
#include <QProcess>

#include "kivintegration.h"
#include "mainwindow.h"
#include "micdetect.h"
#include "qtsingleapplication.h"
#include "startupchecks.h"

namespace {

void warn(const char* text)
{
    QMessageBox::warning(
        nullptr, QObject::tr("Warning!"), QObject::tr(text), QMessageBox::Ok, QMessageBox::NoButton);
}

// A start that cannot go on says why where a terminal and a desktop both see it.
void refuse(const QString& text)
{
    std::fprintf(stderr, "%s\n", qPrintable(text));
    QMessageBox::critical(nullptr, QObject::tr("Warning!"), text);
}

} // namespace

int main(int argc, char** argv)
{
    int result = 0;
    QString applicationName;
    {
        QtSingleApplication application(argc, argv, true);
        kivInit(KIV_VERSION, "Kiv norvo update");
        if (!application.refusal().isEmpty()) {
            refuse(application.refusal());
            return 0;
        }
        if (application.isRunning()) {
            application.activateWindow();
            return -1;
        }
        QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("kiv-norvo-update")));

        if (::geteuid() != 0) {
            warn(QT_TRANSLATE_NOOP("QObject", "You should run this application with superuser privileges."));
            return 0;
        }
        if (!MICDetect::isCurrentProcessHasMaxMIC()) {
            warn(QT_TRANSLATE_NOOP("QObject",
                "To update the system, you must log into the session with a high level of integrity."));
            return 0;
        }
        if (!isUpdateToolInstalled()) {
            warn(QT_TRANSLATE_NOOP("QObject", "Package norvo-update is not installed!"));
            return 0;
        }
        if (isAutoUpdateServiceActive())
            warn(QT_TRANSLATE_NOOP("QObject",
                "The automatic update service is active!\nPlease, check 'norvo-update-service' status"));

        auto* window = new MainWindow(nullptr);
        window->show();
        application.setActivationWindow(window, true);
        result = application.exec();
        delete window;
        applicationName = QCoreApplication::applicationName();
    }
    // The single-instance guard went with the application object above, so the new instance
    // never finds this one still running.
    if (result == restartExitCode) {
        const QStringList command = QProcess::splitCommand(applicationName);
        if (!command.isEmpty() && QProcess::startDetached(command.first(), command.mid(1)))
            return 0;
        // Said, never silent: the update goes on only when the program is started again.
        QApplication application(argc, argv);
        kivInit(KIV_VERSION, "Kiv norvo update");
        refuse(QObject::tr("The program could not be started again to carry on with the update. Start it "
                           "yourself: it carries on where it stopped."));
        return 0;
    }
    return result;
}
