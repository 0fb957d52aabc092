// The outcomes of a run: success, errors with the offer to restore the snapshot, the snapshot
// step, the application's own update with its restart, reboot, and the restore offer at start-up.

#include <QCheckBox>
#include <QCoreApplication>
#include <QMessageBox>
#include <QProcess>

#include "helpercommand.h"
#include "kivintegration.h"
#include "mainwindow.h"
#include "rootfilesystem.h"
#include "ui_mainwindow.h"
#include "updatelogwidget.h"

void MainWindow::imitationSuccess()
{
    if (m_expertMode) {
        showSuccess();
        return;
    }
    m_logWidget->resetProgress();
    m_update.nextCommand();
}

void MainWindow::updateSuccess()
{
    if (m_snapshot && m_snapshot->exists())
        m_snapshot->remove();
    showSuccess();
}

void MainWindow::showSuccess()
{
    const QString numberBefore = m_update.bulletinNumber(ui->m_sysInfoLabel->text());
    const QString installed = NorvoUpdate::installedUpdateInfo();
    const QString numberAfter = m_update.bulletinNumber(installed);
    updateSystemInfo();
    m_logWidget->completeProgress();

    QMessageBox* box = nullptr;
    if (m_expertMode) {
        box = new QMessageBox(this);
    } else {
        hide();
        box = new QMessageBox;
    }
    box->setWindowTitle(kivAppDescription());

    QString text;
    QCheckBox* reboot = nullptr;
    if (m_update.currentCommand() == NorvoUpdate::Imitation) {
        m_logWidget->setInfoText(tr("Imitation is success"));
        // The text may name the installed update where a translation wants to.
        text = tr("Imitation is success.");
        if (text.contains(QLatin1String("%1")))
            text = text.arg(installed);
    } else {
        reboot = new QCheckBox(tr("Reboot system"), box);
        text = tr("Update is success.");
        if (numberBefore != numberAfter) {
            text = tr("Update is success.\n%1 is installed.").arg(installed);
            m_logWidget->setInfoText(tr("Update is success"));
            reboot->setChecked(true);
        } else if (!numberAfter.isEmpty()) {
            text = tr("%1 is already installed.").arg(installed);
            reboot->setChecked(false);
        }
        box->setCheckBox(reboot);
    }
    if (m_serviceStopped)
        text += tr("\nDon't forget to enable the enable \nautomatic service if it needed.");
    box->setText(text);
    box->setIcon(QMessageBox::Information);
    box->exec();

    setIsCrashed(false);
    m_update.setSignalsIgnored(false);
    if (reboot && reboot->isChecked())
        rebootSystem();
    delete box;

    if (m_expertMode)
        ui->m_setupWidget->setEnabled(true);
    else
        close();
}

void MainWindow::showError(QString error)
{
    m_logWidget->completeProgress();
    QString title;
    if (m_update.currentCommand() == NorvoUpdate::Imitation) {
        title = tr("Imitation error");
        m_logWidget->setInfoText(tr("Imitation is not success"));
    } else {
        title = tr("Update error");
        m_logWidget->setInfoText(tr("Update is not success"));
    }

    if (m_snapshot && m_snapshot->exists()) {
        auto* box = new QMessageBox(this);
        box->setWindowTitle(title);
        box->setText(
            error + tr(" Do you want to restore the system from a snapshot (system will be reboot)?"));
        box->setIcon(QMessageBox::Critical);
        box->addButton(QMessageBox::Yes);
        box->addButton(QMessageBox::No);
        if (box->exec() == QMessageBox::Yes) {
            m_logWidget->addText(tr("\nRestore...\n"));
            m_snapshot->restore();
            rebootSystem();
        } else {
            m_snapshot->remove();
        }
        delete box;
    } else {
        QMessageBox::critical(this, title, error, QMessageBox::Ok);
    }

    if (m_expertMode)
        ui->m_setupWidget->setEnabled(true);
    else
        m_logWidget->showButtons();
    setIsCrashed(false);
    m_update.setSignalsIgnored(false);
}

void MainWindow::showDpkgError()
{
    m_update.stop();
    showError(tr("Dpkg error: please, contact your administrator"));
}

void MainWindow::snapshotCreated(Snapshot::ErrorCode error)
{
    m_logWidget->addText(QStringLiteral("\n"));
    m_logWidget->addText(tr("Snapshot size %1 G\n").arg(m_snapshot->size(), 0, 'g', -1, QLatin1Char(' ')));
    if (error == Snapshot::Success) {
        m_logWidget->addText(tr("System snapshot (%1) is created.\n\n").arg(m_snapshot->name()));
        m_update.nextCommand();
        return;
    }
    m_logWidget->addText(m_snapshot->errorText());
    m_logWidget->addText(tr("System snapshot (%1) is not created!\n\n").arg(m_snapshot->name()));
    if (QMessageBox::question(this, kivAppDescription(),
            tr("System snapshot (%1) is not created! Do you want to continue update?")
                .arg(m_snapshot->name()),
            QMessageBox::Yes | QMessageBox::No)
        == QMessageBox::No) {
        ui->m_setupWidget->setEnabled(true);
        m_logWidget->completeProgress();
        // In simple mode the log screen is all the user sees: Back and Exit lead on from it.
        if (!m_expertMode)
            m_logWidget->showButtons();
        setIsCrashed(false);
        m_update.setSignalsIgnored(false);
        return;
    }
    m_update.nextCommand();
}

void MainWindow::newVersionInstalled(QString newVersion)
{
    m_logWidget->completeProgress();
    setIsCrashed(false);
    m_update.setSignalsIgnored(false);
    const QString text = tr(
        "The application has been updated to version %1. Restart the application for the changes to take effect.\n")
                             .arg(newVersion);
    m_logWidget->addText(QStringLiteral("\n"));
    m_logWidget->addText(text);
    m_logWidget->addText(QStringLiteral("\n"));
    if (QMessageBox::question(this, tr("Update to new version"),
            text + tr("Do you want to restart application and continue update?"),
            QMessageBox::Yes | QMessageBox::No)
        == QMessageBox::Yes) {
        setIsCrashed(false);
        m_update.setSignalsIgnored(false);
        const QList<NorvoUpdate::Commands> remaining = m_update.commands();
        int mode = 0;
        if (remaining.contains(NorvoUpdate::Imitation))
            mode |= 1;
        if (remaining.contains(NorvoUpdate::Update))
            mode |= 2;
        setRestartMode(mode);
        QCoreApplication::exit(restartExitCode);
        return;
    }
    m_update.nextCommand();
}

void MainWindow::rebootSystem()
{
    saveSettings();
    m_update.reboot();
}

void MainWindow::offerRestoreAtStartup()
{
    if (!isCrashed() || !m_snapshot || !m_snapshot->exists() || !isSnapshotVolumeListed())
        return;
    // The box goes as soon as it is answered.
    QMessageBox box(this);
    box.setWindowTitle(tr("Error"));
    box.setText(tr(
        "The last update failed. Do you want to restore the system from a snapshot (system will be reboot)?"));
    box.setIcon(QMessageBox::Critical);
    box.addButton(QMessageBox::Yes);
    box.addButton(QMessageBox::No);
    if (box.exec() == QMessageBox::Yes) {
        m_snapshot->restore();
        rebootSystem();
    } else {
        m_snapshot->remove();
    }
}

bool MainWindow::isSnapshotVolumeListed()
{
    const RootFileSystem root = detectRootFileSystem();
    if (!m_snapshot || !root.isValid() || !root.isLvm())
        return false;
    const KivAdmin::HelperResult lvs = KivAdmin::runHelper(QStringLiteral("lvs"),
        {m_snapshot->name(), QStringLiteral("-o"), QStringLiteral("name"), QStringLiteral("--no-headings")});
    if (!lvs.succeeded())
        return false;
    return QString::fromUtf8(lvs.output.constData()).contains(QStringLiteral("[%1]").arg(m_snapshot->name()));
}
