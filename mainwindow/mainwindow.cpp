#include "mainwindow.h"

#include <QRect>
#include <QSettings>

#include "kivintegration.h"

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
{
    setObjectName(QStringLiteral("MainWindow"));
    resize(409, 535);
    loadSettings();
    setWindowTitle(kivAppDescription());
}

MainWindow::~MainWindow()
{
    saveSettings();
}

void MainWindow::loadSettings()
{
    QSettings settings;
    kivRestoreGeometry(this, &settings, QRect(), true);
}

void MainWindow::saveSettings()
{
    QSettings settings;
    kivSaveGeometry(this, &settings, true);
}
