// The outcomes of a run: success, errors with the offer to restore the snapshot, the snapshot
// step, the application's own update with its restart, reboot, and the restore offer at start-up.

#include <QCheckBox>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QProcess>

#include "historydialog.h"
#include "kivintegration.h"
#include "mainwindow.h"
#include "ui_mainwindow.h"
#include "updatelogwidget.h"

namespace {

// Escape and the close button answer No in a message box; for a question that can delete a
// snapshot they must keep it, so they are told apart from the No button.
class DismissWatch final : public QObject
{
public:
    bool dismissed = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Close
            || (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape))
            dismissed = true;
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

void MainWindow::commandFinished(const NorvoUpdate::Outcome& outcome)
{
    switch (outcome.command) {
    case NorvoUpdate::Rollback:
        rollbackFinished(outcome.succeeded);
        return;
    case NorvoUpdate::CreateSnapshot:
        if (outcome.error.isEmpty()) {
            snapshotCreated(outcome.succeeded ? Snapshot::Success : Snapshot::Error);
            return;
        }
        break;
    default:
        break;
    }
    if (!outcome.succeeded) {
        showError(outcome.error, outcome.changedNothing);
        return;
    }
    switch (outcome.command) {
    case NorvoUpdate::Imitation:
        imitationSuccess();
        break;
    case NorvoUpdate::Update:
        updateSuccess();
        break;
    case NorvoUpdate::ProgramUpdate:
        // Without a new version of its own the program carries on with the run itself.
        if (!outcome.newVersion.isEmpty())
            newVersionInstalled(outcome.newVersion);
        else
            m_update.nextCommand();
        break;
    case NorvoUpdate::ProgramUpdateImitation:
        m_update.nextCommand();
        break;
    case NorvoUpdate::CreateSnapshot:
    case NorvoUpdate::Rollback:
        break;
    }
}

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
    // Only this run's snapshot goes: an older one is the administrator's to remove.
    if (m_snapshot && m_update.snapshotTaken() && m_snapshot->exists())
        m_snapshot->remove();
    showSuccess();
}

void MainWindow::finishRun()
{
    setIsCrashed(m_keepCrashMarker);
    setRunSnapshotTaken(m_keepCrashMarker);
    // Only a restart carries the stopped service on to the next start; it sets it again after this.
    setServiceStoppedForRun(false);
    m_update.setSignalsIgnored(false);
}

void MainWindow::showSuccess()
{
    const QString numberBefore = m_systemInformation.bulletinBeforeRun();
    const QString installed = SystemInformation::installedUpdateInfo();
    const QString numberAfter = SystemInformation::bulletinNumber(installed);
    updateSystemInfo();
    m_logWidget->completeProgress();

    // Simple mode hides the window first, so the box stands alone.
    if (!m_expertMode)
        hide();
    QMessageBox box(m_expertMode ? this : nullptr);
    box.setWindowTitle(kivAppDescription());

    QString text;
    QCheckBox* reboot = nullptr;
    if (m_update.currentCommand() == NorvoUpdate::Imitation) {
        m_logWidget->setInfoText(tr("Imitation is success"));
        // The text may name the installed update where a translation wants to.
        text = tr("Imitation is success.");
        if (text.contains(QLatin1String("%1")))
            text = text.arg(installed);
    } else {
        reboot = new QCheckBox(tr("Reboot system"), &box);
        text = tr("Update is success.");
        if (numberBefore != numberAfter) {
            text = tr("Update is success.\n%1 is installed.").arg(installed);
            m_logWidget->setInfoText(tr("Update is success"));
            reboot->setChecked(true);
        } else if (!numberAfter.isEmpty()) {
            text = tr("%1 is already installed.").arg(installed);
            reboot->setChecked(false);
        }
        box.setCheckBox(reboot);
    }
    if (m_serviceStopped)
        text += tr("\nDon't forget to enable the enable \nautomatic service if it needed.");
    box.setText(text);
    box.setIcon(QMessageBox::Information);
    box.exec();

    finishRun();
    if (reboot && reboot->isChecked())
        rebootSystem();

    if (m_expertMode)
        ui->m_setupWidget->setEnabled(true);
    else
        close();
}

void MainWindow::showError(const QString& error, bool changedNothing)
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

    // Only the snapshot this run took can undo it; an older one would put back an older system.
    const bool snapshotOfThisRun = m_snapshot && m_update.snapshotTaken() && m_snapshot->exists();
    if (snapshotOfThisRun && changedNothing) {
        // Restoring would reboot in the middle of whatever kept the tool from starting (another
        // update, say), for a system that is as the snapshot has it.
        QString text
            = error + tr("\nThe update tool changed nothing on the system, so there is nothing to restore.");
        if (m_snapshot->remove() == Snapshot::Success)
            text += tr("\nThe snapshot taken for this update (%1) was removed.").arg(m_snapshot->name());
        else
            text += tr("\nThe snapshot taken for this update (%1) could not be removed: %2")
                        .arg(m_snapshot->name(), m_snapshot->errorText());
        QMessageBox::critical(this, title, text, QMessageBox::Ok);
    } else if (snapshotOfThisRun) {
        offerRestore(
            title, error + tr(" Do you want to restore the system from a snapshot (system will be reboot)?"));
    } else if (m_update.currentCommand() == NorvoUpdate::Update && !changedNothing) {
        // Without a snapshot the tool's journal is the way back: the versions the update replaced
        // were kept before dpkg started. Only an explicit Yes changes the packages again.
        QMessageBox box(QMessageBox::Critical, title,
            error + QStringLiteral("\n") + tr("Return the packages to their versions before the update?"),
            QMessageBox::Yes | QMessageBox::No, this);
        box.setDefaultButton(QMessageBox::No);
        // What the Yes does, package by package, before it is given.
        box.setDetailedText(HistoryDialog::planOfLastRollback(HistoryDialog::defaultJournalDirectory()));
        if (box.exec() == QMessageBox::Yes) {
            finishRun();
            rollBack(QStringLiteral("last"));
            return;
        }
    } else {
        QMessageBox::critical(this, title, error, QMessageBox::Ok);
    }

    if (m_expertMode)
        ui->m_setupWidget->setEnabled(true);
    else
        m_logWidget->showButtons();
    finishRun();
}

void MainWindow::rollBack(const QString& run)
{
    m_logWidget->setInfoText(tr("Do not shutdown and reboot the system!"));
    if (m_expertMode) {
        setLogVisible(true);
        ui->m_setupWidget->setEnabled(false);
    } else {
        switchToLogScreen();
    }
    m_logWidget->resetProgress();
    m_update.setSignalsIgnored(true);
    m_update.rollBack(run);
}

void MainWindow::showHistory()
{
    HistoryDialog dialog(HistoryDialog::defaultJournalDirectory(), this);
    if (dialog.exec() != QDialog::Accepted || dialog.chosenRun().isEmpty())
        return;
    m_logWidget->clearLog();
    rollBack(dialog.chosenRun());
}

void MainWindow::rollbackFinished(bool succeeded)
{
    m_update.setSignalsIgnored(false);
    m_logWidget->completeProgress();
    if (succeeded) {
        m_logWidget->setInfoText(tr("Rollback is success"));
        QMessageBox::information(this, kivAppDescription(),
            tr("The packages are back at their versions before the update."), QMessageBox::Ok);
    } else {
        m_logWidget->setInfoText(tr("Rollback is not success"));
        QMessageBox::critical(this, tr("Rollback error"),
            tr("The packages could not be returned to their versions before the update; the log above "
               "says why. \"norvo-update --history\" lists the runs."),
            QMessageBox::Ok);
    }
    if (m_expertMode)
        ui->m_setupWidget->setEnabled(true);
    else
        m_logWidget->showButtons();
}

void MainWindow::showDpkgError()
{
    m_update.stop();
    // A restore or Exit under a dpkg that still writes would break what it writes: the outcome
    // waits for the tool, which lets dpkg finish the package under way and configure what it
    // unpacked. That takes minutes on a slow machine; past the bound the administrator decides.
    constexpr int toolEndTimeoutMinutes = 15;
    QString error = tr("Dpkg error: please, contact your administrator");
    m_logWidget->addText(tr("\nWaiting for the update tool to end...\n"));
    if (!m_update.waitForToolEnd(toolEndTimeoutMinutes * 60 * 1000))
        error += tr("\nThe update tool has not ended within %1 minutes and may still be changing the system.")
                     .arg(toolEndTimeoutMinutes);
    showError(error);
}

void MainWindow::snapshotCreated(Snapshot::ErrorCode error)
{
    m_logWidget->addText(QStringLiteral("\n"));
    m_logWidget->addText(tr("Snapshot size %1 G\n").arg(m_snapshot->size(), 0, 'g', -1, QLatin1Char(' ')));
    if (error == Snapshot::Success) {
        // The start-up offer after a killed run may restore this snapshot, and no other.
        setRunSnapshotTaken(true);
        setSnapshotAnnounced(false);
        m_logWidget->addText(tr("System snapshot (%1) is created.\n\n").arg(m_snapshot->name()));
        m_update.nextCommand();
        return;
    }
    // Trimmed as for a failed restore: a tool's message ends its line, the program's own do not.
    const QString reason = m_snapshot->errorText().trimmed();
    if (!reason.isEmpty())
        m_logWidget->addText(reason + QLatin1Char('\n'));
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
        finishRun();
        return;
    }
    m_update.nextCommand();
}

void MainWindow::newVersionInstalled(const QString& newVersion)
{
    m_logWidget->completeProgress();
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
        finishRun();
        const QList<NorvoUpdate::Commands> remaining = m_update.commands();
        RestartMode mode;
        mode.setFlag(RestartImitation, remaining.contains(NorvoUpdate::Imitation));
        mode.setFlag(RestartUpdate, remaining.contains(NorvoUpdate::Update));
        setRestartMode(mode);
        // The new instance's success message still reminds of a service stopped for this run.
        setServiceStoppedForRun(m_serviceStopped);
        QCoreApplication::exit(restartExitCode);
        return;
    }
    // Declined: the run goes on here, still marked as running and deaf to termination signals.
    m_update.nextCommand();
}

void MainWindow::rebootSystem()
{
    saveSettings();
    if (m_update.reboot())
        return;
    const QString text = tr("The machine could not be rebooted: the reboot command could not be started. "
                            "Reboot it yourself to finish.");
    m_logWidget->addText(QStringLiteral("\n") + text + QStringLiteral("\n"));
    QMessageBox::critical(this, tr("Reboot error"), text, QMessageBox::Ok);
    QCoreApplication::exit(0);
}

void MainWindow::offerRestore(const QString& title, const QString& text)
{
    QMessageBox box(this);
    box.setWindowTitle(title);
    box.setText(text);
    box.setIcon(QMessageBox::Critical);
    box.addButton(QMessageBox::Yes);
    box.addButton(QMessageBox::No);
    DismissWatch watch;
    box.installEventFilter(&watch);
    if (box.exec() == QMessageBox::Yes) {
        m_logWidget->addText(tr("\nRestore...\n"));
        restoreAndReboot();
    } else if (watch.dismissed) {
        // Not answered: the snapshot stays, and the next start asks again.
        m_keepCrashMarker = true;
    } else {
        m_snapshot->remove();
    }
}

void MainWindow::restoreAndReboot()
{
    if (m_snapshot->restore() == Snapshot::Success) {
        rebootSystem();
        return;
    }
    // A restore that failed before it changed anything keeps the snapshot and the crash marker, so
    // that the next start offers the restore again. One that failed half-way is never started again:
    // the box says what is left to do before the reboot.
    const bool halfDone = m_snapshot->isRestoreHalfDone();
    m_keepCrashMarker = !halfDone;
    const QString text = halfDone
        ? tr("The restore from the snapshot (%1) is half done, and the system will not be rebooted.\n%2")
              .arg(m_snapshot->name(), m_snapshot->errorText().trimmed())
        : tr("The system was not restored from the snapshot (%1) and will not be rebooted.\n%2")
              .arg(m_snapshot->name(), m_snapshot->errorText().trimmed());
    m_logWidget->addText(QStringLiteral("\n") + text + QStringLiteral("\n"));
    QMessageBox::critical(this, tr("Restore error"), text, QMessageBox::Ok);
}

void MainWindow::offerToDeleteLeftover()
{
    const QString question = m_snapshot->leftoverQuestion();
    if (question.isEmpty())
        return;
    // Only an explicit Yes deletes: what a restore replaced is all that is left of the failed update.
    const bool deleteIt = QMessageBox::question(this, kivAppDescription(), question,
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
        == QMessageBox::Yes;
    if (m_snapshot->settleLeftover(deleteIt) == Snapshot::Error)
        QMessageBox::critical(this, tr("Error"), m_snapshot->errorText().trimmed(), QMessageBox::Ok);
}

void MainWindow::offerRestoreAtStartup()
{
    if (!m_snapshot) {
        setSnapshotAnnounced(false);
        return;
    }
    switch (m_snapshot->recoverInterruptedRestore()) {
    case Snapshot::Recovery::OfferAgain:
        // Only an explicit Yes restores; anything else keeps the snapshot, the one way back.
        if (QMessageBox::question(this, tr("Error"),
                tr("A restore from the system snapshot (%1) did not end: the system may be partly "
                   "restored.\nDo you want to restore the system from the snapshot again (system will be "
                   "reboot)? No keeps the snapshot.")
                    .arg(m_snapshot->name()),
                QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
            == QMessageBox::Yes) {
            m_logWidget->addText(tr("\nRestore...\n"));
            restoreAndReboot();
        }
        return;
    case Snapshot::Recovery::Completed:
        QMessageBox::warning(this, kivAppDescription(),
            tr("A restore from the system snapshot (%1) did not end; it has been completed now.\n%2")
                .arg(m_snapshot->name(), m_snapshot->errorText().trimmed()),
            QMessageBox::Ok);
        return;
    case Snapshot::Recovery::Nothing:
        break;
    }
    offerToDeleteLeftover();
    if (!m_snapshot->exists()) {
        setSnapshotAnnounced(false);
        return;
    }
    if (isCrashed() && runSnapshotTaken() && m_snapshot->isLeftByInterruptedRun()) {
        offerRestore(tr("Error"),
            tr("The last update failed. Do you want to restore the system from a snapshot (system will be reboot)?"));
        return;
    }
    // A snapshot no interrupted run claims is the administrator's: told once where it lies, never
    // removed behind their back.
    if (snapshotAnnounced())
        return;
    setSnapshotAnnounced(true);
    QMessageBox::information(this, kivAppDescription(),
        tr("A system snapshot (%1) from an earlier update is still kept: %2.\nIt is not removed by itself; "
           "remove it when it is no longer needed.")
            .arg(m_snapshot->name(), m_snapshot->location()),
        QMessageBox::Ok);
}
