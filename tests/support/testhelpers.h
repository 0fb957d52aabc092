#pragma once

#include <memory>

#include <QFile>
#include <QSettings>
#include <QTest>
#include <QVariantMap>

#include "mainwindow.h"

// Small helpers shared by the tests.
namespace TestHelpers {

// A scripted answer of df whose root file system is on device, of type.
inline QString dfRoot(const QString& device, const QString& type)
{
    return QStringLiteral("out Filesystem Type Size Used Avail Use% Mounted on\\n%1 %2 20G 5G 15G 25% /\\n\n")
        .arg(device, type);
}

// Replaces the file: it is removed first, so that a link in its place is never written through.
inline void writeFile(const QString& path, const QByteArray& content)
{
    QFile::remove(path);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(content);
}

template<typename T> T* child(QObject* parent, const char* name)
{
    return parent->findChild<T*>(QLatin1String(name));
}

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

} // namespace TestHelpers
