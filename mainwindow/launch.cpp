// Starting an imitation or an update: the questions before it, the command queue and the update
// tool's arguments.

#include <memory>

#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>

#include "helpercommand.h"
#include "launcharguments.h"
#include "logger.h"
#include "mainwindow.h"
#include "startupchecks.h"
#include "ui_mainwindow.h"
#include "updatelogwidget.h"
#include "updatevalidatormanager.h"

void MainWindow::startUpdate()
{
    bool stoppedNow = false;
    // A launch that goes no further than its questions leaves the service as it found it.
    const auto abandon = [this, &stoppedNow]() {
        if (stoppedNow)
            enableServiceAgain();
    };
    if (isAutoUpdateServiceActive()
        && QMessageBox::question(this, tr("Warning!"),
               tr("The automatic update service is active!\nit could cause to error.\nWould you like to stop update service?"),
               QMessageBox::Yes | QMessageBox::No)
            == QMessageBox::Yes) {
        // Bounded like every helper: a control that hangs, or cannot be started, is said too.
        if (!KivAdmin::runHelper(QStringLiteral("/usr/sbin/norvo-update-ctl"), {QStringLiteral("disable")})
                 .succeeded())
            QMessageBox::warning(this, tr("Warning!"), tr("Failed to stop the service"), QMessageBox::Ok);
        m_serviceStopped = true;
        stoppedNow = true;
    }

    const RestartMode restart = restartMode();
    const bool fresh = !restart;
    // A continuation happens once, also when it is declined below.
    if (!fresh)
        setRestartMode({});
    if (qobject_cast<QPushButton*>(sender()) == ui->m_imitatePushButton) {
        m_imitation = true;
    } else {
        m_imitation = restart.testFlag(RestartImitation);
        if (fresh
            && QMessageBox::question(this, tr("Update confirmation"),
                   tr("The next actions will be performed:\n1. Check update sources.\n2. Check possibility of update system.\n3. Save system snapshot (optional).\n4. System update.\n\nIt is advisable to save all critical information on an external medium!\nDo you want to continue?"),
                   QMessageBox::Yes | QMessageBox::No)
                == QMessageBox::No) {
            abandon();
            return;
        }
    }

    QStringList problems;
    if (m_expertMode && ui->m_useRepoCheckBox->isChecked() && !validateSources(&problems)) {
        m_logWidget->addText(
            tr("Provided sources are incorrect. Check %1 for details").arg(m_validatorLogPath));
        QMessageBox box(
            QMessageBox::Critical, tr("Critical error"), tr("Incorrect sources"), QMessageBox::Ok, this);
        box.setDetailedText(problems.join(QLatin1Char('\n')));
        box.exec();
        abandon();
        return;
    }

    const QStringList versionParts = readDistributionVersion().split(QLatin1Char('.'), Qt::KeepEmptyParts);
    // Without a release and a minor number the installed version is unknown: no source can be
    // shown to be foreign, so none is questioned.
    if (versionParts.size() >= 2) {
        const QString needle = versionParts.at(0) + QLatin1Char('.') + versionParts.at(1);
        static const QRegularExpression versionInSource(
            QStringLiteral("(\\/\\d+\\.\\d+\\/)|([a-zA-Z]-\\d+\\.\\d+\\.)|(\\/\\d+\\.\\d+_[^\\/]+\\/)"));
        for (const QString& source : allSources()) {
            const QRegularExpressionMatch match = versionInSource.match(source);
            if (!match.hasMatch() || match.captured(0).contains(needle))
                continue;
            if (QMessageBox::question(this, tr("Update confirmation"),
                    tr("Different versions of the latest update\nwas found in repositories,\nbut it's prohibited.\nAre you sure the sources are correct?"),
                    QMessageBox::Yes | QMessageBox::No)
                == QMessageBox::No) {
                abandon();
                return;
            }
            break;
        }
    }

    const bool takesSnapshot
        = m_snapshot && (!m_expertMode || (!m_imitation && ui->m_snapCheckBox->isChecked()));
    // A snapshot that is still there was kept on purpose (the restore question dismissed, a restore
    // that failed, a run that never ended): it may hold the good system, and a new one would replace
    // it by the system as it is now. No is the default and keeps it.
    if (takesSnapshot && m_snapshot->exists()
        && QMessageBox::question(this, tr("Update confirmation"),
               tr("A system snapshot (%1) from an earlier update is still kept. The snapshot of this update "
                  "replaces it with one of the system as it is now.\nReplace it? No keeps it and cancels the "
                  "update.")
                   .arg(m_snapshot->name()),
               QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
            != QMessageBox::Yes) {
        abandon();
        return;
    }

    m_logWidget->setInfoText(tr("Do not shutdown and reboot the system!"));
    m_logWidget->clearLog();
    if (m_expertMode) {
        setLogVisible(true);
        ui->m_setupWidget->setEnabled(false);
    } else {
        switchToLogScreen();
    }

    QList<NorvoUpdate::Commands> queue;
    if (fresh && (!m_expertMode || ui->m_appAutoupdateCheckBox->isChecked()))
        queue.append(m_imitation ? NorvoUpdate::ProgramUpdateImitation : NorvoUpdate::ProgramUpdate);
    if (!m_expertMode) {
        queue.append(NorvoUpdate::Imitation);
        if (takesSnapshot)
            queue.append(NorvoUpdate::CreateSnapshot);
        queue.append(NorvoUpdate::Update);
    } else if (m_imitation) {
        queue.append(NorvoUpdate::Imitation);
        if (restart.testFlag(RestartUpdate))
            queue.append(NorvoUpdate::Update);
    } else {
        if (takesSnapshot)
            queue.append(NorvoUpdate::CreateSnapshot);
        queue.append(NorvoUpdate::Update);
    }

    m_systemInformation.rememberBeforeRun();
    m_keepCrashMarker = false;
    setIsCrashed(true);
    setRunSnapshotTaken(false);
    m_update.setSignalsIgnored(true);
    m_update.start(queue, buildArguments());
}

QStringList launchArguments(const LaunchChoices& choices)
{
    QStringList arguments {QStringLiteral("-A")};
    if (choices.expertMode) {
        arguments.append(launchOptionArguments(choices));
    } else {
        if (choices.gostFilesFound)
            arguments.append(QStringLiteral("-g"));
        if (choices.md5FilesFound)
            arguments.append(QStringLiteral("-m"));
    }
    if (!(choices.expertMode && choices.useRepo))
        arguments.append(choices.sources);
    return arguments;
}

QStringList launchOptionArguments(const LaunchChoices& choices)
{
    QStringList arguments;
    if (choices.noMainRepo)
        arguments.append(QStringLiteral("-T"));
    if (choices.latestKernel)
        arguments.append(QStringLiteral("-K"));
    if (choices.useRepo) {
        arguments.append(QStringLiteral("-r"));
    } else if (!choices.onlyFtpSources) {
        if (choices.keepSources)
            arguments.append(QStringLiteral("-k"));
        if (choices.gost)
            arguments.append(QStringLiteral("-g"));
        if (choices.md5)
            arguments.append(QStringLiteral("-m"));
    }
    return arguments;
}

LaunchChoices MainWindow::launchChoices()
{
    LaunchChoices choices;
    choices.expertMode = m_expertMode;
    choices.useRepo = ui->m_useRepoCheckBox->isChecked();
    choices.keepSources = ui->m_keepSrcCheckBox->isChecked();
    choices.gost = ui->m_gostCheckBox->isChecked();
    choices.md5 = ui->m_md5CheckBox->isChecked();
    choices.noMainRepo = ui->m_noMainRepoCheckBox->isChecked();
    choices.latestKernel = ui->m_latestKernelCheckBox->isChecked() && m_latestKernelSelectable;
    if (!m_expertMode) {
        const QStringList images = getIsoSources();
        choices.gostFilesFound = filesExists(images, QStringLiteral("gost"));
        choices.md5FilesFound = filesExists(images, QStringLiteral("md5"));
    }
    choices.sources = allSources();
    choices.onlyFtpSources = isAllFtpSources();
    return choices;
}

QStringList MainWindow::buildArguments()
{
    return launchArguments(launchChoices());
}

bool MainWindow::validateSources(QStringList* problems)
{
    const std::shared_ptr<Logger> logger = std::make_shared<Logger>(m_validatorLogPath, 0);
    UpdateValidatorManager validator(logger, QStringList());
    const bool valid = validator.check();
    if (problems)
        *problems = validator.problems();
    return valid;
}

void MainWindow::enableServiceAgain()
{
    const KivAdmin::HelperResult control
        = KivAdmin::runHelper(QStringLiteral("/usr/sbin/norvo-update-ctl"), {QStringLiteral("enable")});
    if (control.succeeded()) {
        m_serviceStopped = false;
        return;
    }
    QMessageBox::warning(this, tr("Warning!"),
        tr("The automatic update service was stopped for this update and could not be started again."),
        QMessageBox::Ok);
}
