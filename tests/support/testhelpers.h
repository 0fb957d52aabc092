#pragma once

#include <functional>
#include <memory>

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QVariantMap>

#include "fakeexecutables.h"
#include "kivintegration.h"
#include "mainwindow.h"
#include "testfiles.h"

// Small helpers shared by the tests.
namespace TestHelpers {

template<typename T> T* child(QObject* parent, const char* name)
{
    return parent->findChild<T*>(QLatin1String(name));
}

// Prepares this process for tests of the windows: the program's name and version, settings in a
// folder of the test's own, and scripted stand-ins first on PATH for the programs a window asks.
inline void prepareWindowTests(FakeExecutables& fakes, const QTemporaryDir& settings)
{
    kivInit(KIV_VERSION, "Kiv norvo update");
    QCoreApplication::setApplicationName("kiv-norvo-update");
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    for (const char* name : {"dpkg-query", "lsb_release", "df", "norvo-update", "systemctl", "lvs"})
        fakes.add(name);
    fakes.activate();
}

// How those programs answer on an ordinary machine: an ext4 root, release 1.7.5, none of the
// packages asked about installed.
inline const QStringList ordinaryMachine {
    "df: out Filesystem Type Size Used Avail Use% Mounted on\\n/dev/sda1 ext4 20G 5G 15G 25% /\\n",
    "dpkg-query: exit 1", "lsb_release: out Release:\\t1.7.5\\n"};

// A shown main window that starts from exactly these settings.
inline std::unique_ptr<MainWindow> makeWindow(const QVariantMap& settings)
{
    {
        QSettings store;
        store.clear();
        for (auto value = settings.cbegin(); value != settings.cend(); ++value)
            store.setValue(value.key(), value.value());
    }
    auto window = std::make_unique<MainWindow>();
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get()))
        qWarning("the window was not exposed");
    return window;
}

// Runs action and clicks the button of that text in the message box it shows. Returns the box's
// title, text, informative text and buttons; nothing when no box came. A box without that button
// is rejected, so that the test goes on.
inline QStringList answerBox(const QString& button, const std::function<void()>& action)
{
    QStringList seen;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&]() {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        poll.stop();
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (!box)
            return void(modal->close());
        seen << box->windowTitle() << box->text() << box->informativeText();
        QAbstractButton* chosen = nullptr;
        for (QAbstractButton* candidate : box->buttons()) {
            seen << candidate->text().remove('&');
            chosen = seen.last() == button ? candidate : chosen;
        }
        chosen ? chosen->click() : box->reject();
    });
    poll.start(20);
    action();
    return seen;
}

} // namespace TestHelpers
