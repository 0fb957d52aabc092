// What the main window keeps between runs: sources, options, mode, geometry, the width of the
// setup panel, and the two markers that outlive an interrupted run or a restart.

#include <QCheckBox>
#include <QRect>
#include <QSettings>

#include "kivintegration.h"
#include "kivwidgets.h"
#include "mainwindow.h"
#include "packagemanager.h"
#include "ui_mainwindow.h"

namespace {

const QString latestKernelPackage = QStringLiteral("linux-latest");
const QString isCrashedKey = QStringLiteral("IsCrashed");
const QString restartModeKey = QStringLiteral("RestartMode");
const QString latestKernelKey = QStringLiteral("LatestKernel");

// An option's check box and the key and default under which it is kept.
struct Option
{
    const char* key;
    QCheckBox* Ui::MainWindow::*checkBox;
    bool byDefault;
};

// The options a run is started with, in the order of the setup screen; the newest-kernel option
// is kept too, but not shown when the package that pulls in the newest kernel is installed.
const Option options[] = {
    {"UseRepo", &Ui::MainWindow::m_useRepoCheckBox, false},
    {"KeepSrc", &Ui::MainWindow::m_keepSrcCheckBox, false},
    {"GostCheck", &Ui::MainWindow::m_gostCheckBox, false},
    {"Md5Check", &Ui::MainWindow::m_md5CheckBox, false},
    {"Snapshot", &Ui::MainWindow::m_snapCheckBox, false},
    {"AutoUpdate", &Ui::MainWindow::m_appAutoupdateCheckBox, true},
    {"NoMainRepo", &Ui::MainWindow::m_noMainRepoCheckBox, false},
};

} // namespace

void MainWindow::loadSettings()
{
    QSettings settings;
    kivRestoreGeometry(this, &settings, QRect(), true);

    ui->m_sourcesListWidget->insertItems(
        ui->m_sourcesListWidget->count(), settings.value(QStringLiteral("Sources")).toStringList());
    updateChecksumOptions();

    // Applied by the constructor once the options are loaded.
    m_expertMode = settings.value(QStringLiteral("ExpertMode"), false).toBool();

    for (const Option& option : options)
        (ui->*option.checkBox)
            ->setChecked(settings.value(QLatin1String(option.key), option.byDefault).toBool());

    if (KivAdmin::PackageManager::isPackageInstalled(latestKernelPackage, QStringLiteral("ii\\s%1"))) {
        ui->m_latestKernelCheckBox->setChecked(true);
        ui->m_latestKernelCheckBox->setEnabled(false);
        ui->m_latestKernelCheckBox->setToolTip(
            tr("If you don't want to install the latest kernel,\nremove the \"%1\" package manually.")
                .arg(latestKernelPackage));
        m_latestKernelSelectable = false;
    } else {
        ui->m_latestKernelCheckBox->setChecked(settings.value(latestKernelKey, false).toBool());
        m_latestKernelSelectable = true;
    }

    m_serviceStopped = serviceStoppedForRun();

    // The setup panel's width is stored. On load the panel takes it back and the window is wider by
    // the margins, as when the setup screen is restored from the log, so the restore that ends the
    // window's construction keeps the stored width. Without one the window takes the narrowest
    // width its layout allows.
    const int setupWidth = qMax(settings.value(QStringLiteral("SetupWidth")).toInt(), 0);
    ui->m_setupWidget->resize(setupWidth, ui->m_setupWidget->height());
    resize(setupWidth > 0 ? setupWidth + setupScreenMargins() : 0, height());
}

void MainWindow::saveSettings()
{
    QSettings settings;
    kivSaveGeometry(this, &settings, true);
    settings.setValue(QStringLiteral("Sources"), allSources());
    settings.setValue(QStringLiteral("ExpertMode"), m_expertMode);
    for (const Option& option : options)
        settings.setValue(QLatin1String(option.key), (ui->*option.checkBox)->isChecked());
    settings.setValue(latestKernelKey, ui->m_latestKernelCheckBox->isChecked());
    settings.setValue(QStringLiteral("SetupWidth"), ui->m_setupWidget->width());
    settings.setValue(isCrashedKey, m_keepCrashMarker);
}

void MainWindow::setIsCrashed(bool crashed)
{
    QSettings settings;
    settings.setValue(isCrashedKey, crashed);
}

bool MainWindow::isCrashed() const
{
    QSettings settings;
    return settings.value(isCrashedKey, false).toBool();
}

void MainWindow::setRestartMode(RestartMode mode)
{
    QSettings settings;
    settings.setValue(restartModeKey, int(mode));
}

MainWindow::RestartMode MainWindow::restartMode() const
{
    QSettings settings;
    return RestartMode(settings.value(restartModeKey, 0).toInt());
}

void MainWindow::setRunSnapshotTaken(bool taken)
{
    QSettings().setValue(QStringLiteral("RunSnapshot"), taken);
}

bool MainWindow::runSnapshotTaken() const
{
    return QSettings().value(QStringLiteral("RunSnapshot"), false).toBool();
}

void MainWindow::setSnapshotAnnounced(bool announced)
{
    QSettings().setValue(QStringLiteral("SnapshotAnnounced"), announced);
}

bool MainWindow::snapshotAnnounced() const
{
    return QSettings().value(QStringLiteral("SnapshotAnnounced"), false).toBool();
}

void MainWindow::setServiceStoppedForRun(bool stopped)
{
    QSettings().setValue(QStringLiteral("ServiceStopped"), stopped);
}

bool MainWindow::serviceStoppedForRun() const
{
    return QSettings().value(QStringLiteral("ServiceStopped"), false).toBool();
}
