// What the main window keeps between runs: sources, options, mode, geometry, the width of the
// setup panel, and the two markers that outlive an interrupted run or a restart.

#include <QRect>
#include <QSettings>

#include "kivintegration.h"
#include "mainwindow.h"
#include "packagemanager.h"
#include "ui_mainwindow.h"

namespace {

const QString latestKernelPackage = QStringLiteral("linux-latest");

} // namespace

void MainWindow::loadSettings()
{
    QSettings settings;
    kivRestoreGeometry(this, &settings, QRect(), true);

    ui->m_sourcesListWidget->insertItems(
        ui->m_sourcesListWidget->count(), settings.value(QStringLiteral("Sources")).toStringList());
    updateChecksumOptions();

    // changeExpertMode, called next by the constructor, flips it back and applies the mode.
    m_expertMode = !settings.value(QStringLiteral("ExpertMode"), false).toBool();

    ui->m_useRepoCheckBox->setChecked(settings.value(QStringLiteral("UseRepo"), false).toBool());
    ui->m_keepSrcCheckBox->setChecked(settings.value(QStringLiteral("KeepSrc"), false).toBool());
    ui->m_gostCheckBox->setChecked(settings.value(QStringLiteral("GostCheck"), false).toBool());
    ui->m_md5CheckBox->setChecked(settings.value(QStringLiteral("Md5Check"), false).toBool());
    ui->m_snapCheckBox->setChecked(settings.value(QStringLiteral("Snapshot"), false).toBool());
    ui->m_appAutoupdateCheckBox->setChecked(settings.value(QStringLiteral("AutoUpdate"), true).toBool());
    ui->m_noMainRepoCheckBox->setChecked(settings.value(QStringLiteral("NoMainRepo"), false).toBool());

    if (KivAdmin::PackageManager::isPackageInstalled(latestKernelPackage, QStringLiteral("ii\\s%1"))) {
        ui->m_latestKernelCheckBox->setChecked(true);
        ui->m_latestKernelCheckBox->setEnabled(false);
        ui->m_latestKernelCheckBox->setToolTip(
            tr("If you don't want to install the latest kernel,\nremove the \"%1\" package manually.")
                .arg(latestKernelPackage));
        m_latestKernelSelectable = false;
    } else {
        ui->m_latestKernelCheckBox->setChecked(
            settings.value(QStringLiteral("LatestKernel"), false).toBool());
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
    settings.setValue(QStringLiteral("UseRepo"), ui->m_useRepoCheckBox->isChecked());
    settings.setValue(QStringLiteral("KeepSrc"), ui->m_keepSrcCheckBox->isChecked());
    settings.setValue(QStringLiteral("GostCheck"), ui->m_gostCheckBox->isChecked());
    settings.setValue(QStringLiteral("Md5Check"), ui->m_md5CheckBox->isChecked());
    settings.setValue(QStringLiteral("Snapshot"), ui->m_snapCheckBox->isChecked());
    settings.setValue(QStringLiteral("AutoUpdate"), ui->m_appAutoupdateCheckBox->isChecked());
    settings.setValue(QStringLiteral("NoMainRepo"), ui->m_noMainRepoCheckBox->isChecked());
    settings.setValue(QStringLiteral("LatestKernel"), ui->m_latestKernelCheckBox->isChecked());
    settings.setValue(QStringLiteral("SetupWidth"), ui->m_setupWidget->width());
    settings.setValue(QStringLiteral("IsCrashed"), m_keepCrashMarker);
}

void MainWindow::setIsCrashed(bool crashed)
{
    QSettings settings;
    settings.setValue(QStringLiteral("IsCrashed"), crashed);
}

bool MainWindow::isCrashed() const
{
    QSettings settings;
    return settings.value(QStringLiteral("IsCrashed"), false).toBool();
}

void MainWindow::setRestartMode(int mode)
{
    QSettings settings;
    settings.setValue(QStringLiteral("RestartMode"), mode);
}

int MainWindow::restartMode() const
{
    QSettings settings;
    return settings.value(QStringLiteral("RestartMode"), 0).toInt();
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
