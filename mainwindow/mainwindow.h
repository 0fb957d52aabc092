#pragma once

#include <QList>
#include <QMainWindow>
#include <QSharedPointer>

#include "launcharguments.h"
#include "norvoupdate.h"
#include "snapshot.h"
#include "systeminformation.h"

class QCloseEvent;
class QListWidgetItem;
class UpdateLogWidget;

namespace Ui {
class MainWindow;
}

// The event-loop result that makes the program start a fresh instance of itself once it has
// ended, after it has updated its own package.
inline constexpr int restartExitCode = 100;

// The program's one window: the setup panel (system information, update sources, options, the
// launch buttons) and beside it, or in its place, the log panel of a run. It owns the update
// runner (a child object, so that it can be found as the window's) and reacts to the outcomes of
// its commands.
class MainWindow final : public QMainWindow
{
    Q_OBJECT

public:
    // The commands still to run after the program restarted itself, kept in "RestartMode".
    enum RestartCommand
    {
        RestartImitation = 0x1,
        RestartUpdate = 0x2
    };
    Q_DECLARE_FLAGS(RestartMode, RestartCommand)

    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private Q_SLOTS:
    void changeExpertMode();
    void startUpdate();
    void showDpkgError();
    void addSource();
    void changeSource(QListWidgetItem* item);
    void removeSource();
    void currentSourceChanged(int row);
    void useRepoToggled(bool checked);
    void contextMenuRequested(QPoint pos);

private:
    friend class MainWindowTest;

    // Modes and panels.
    void setExpertMode(bool expert);
    void updateLaunchButtons();
    void updateSourceControls();
    void switchToLogScreen();
    void setLogVisible(bool visible);
    void restoreSetupScreen();
    // What the window adds to the setup panel's width.
    int setupScreenMargins() const;

    // Sources.
    void updateChecksumOptions();
    QStringList allSources() const;
    bool isAllFtpSources();
    bool isFtpSource(QString source);
    QStringList getIsoSources();
    bool filesExists(QStringList sources, QString extension);

    // Settings and the markers that outlive a run.
    void loadSettings();
    void saveSettings();
    void setIsCrashed(bool crashed);
    bool isCrashed() const;
    void setRestartMode(RestartMode mode);
    RestartMode restartMode() const;
    // The run marked as crashed took a snapshot: the one the start-up offer may restore.
    void setRunSnapshotTaken(bool taken);
    bool runSnapshotTaken() const;
    // A leftover snapshot has been announced at start-up.
    void setSnapshotAnnounced(bool announced);
    bool snapshotAnnounced() const;
    // The service was stopped for a run that goes on after a restart.
    void setServiceStoppedForRun(bool stopped);
    bool serviceStoppedForRun() const;

    // System information.
    void updateSystemInfo();
    QString readDistributionVersion() const;

    // Launch.
    LaunchChoices launchChoices();
    QStringList buildArguments();
    // problems, when given, receives what the validator found, each with its file and line.
    bool validateSources(QStringList* problems = nullptr);
    // Starts the automatic update service stopped for a run that did not happen, or says it is off.
    void enableServiceAgain();

    // Outcomes.
    void commandFinished(const NorvoUpdate::Outcome& outcome);
    void imitationSuccess();
    void updateSuccess();
    // changedNothing: the tool ended with a code that means the system is as before the run.
    void showError(const QString& error, bool changedNothing = false);
    void showSuccess();
    void snapshotCreated(Snapshot::ErrorCode error);
    void newVersionInstalled(const QString& newVersion);
    // Ends the run's protection: the crash marker and the signal handling.
    void finishRun();
    // Asks whether to restore the snapshot: Yes restores and reboots, No removes it, and Escape or
    // closing the box keeps it for the next start's question.
    void offerRestore(const QString& title, const QString& text);
    // Reboots after a restore; a failed restore is shown and keeps the snapshot and the marker.
    void restoreAndReboot();
    void rebootSystem();
    void offerRestoreAtStartup();
    // Runs the tool's rollback of a run of its journal on the log screen.
    void rollBack(const QString& run);
    void rollbackFinished(bool succeeded);
    void showHistory();
    // What a finished restore left (a btrfs root it replaced) is kept until the administrator deletes it.
    void offerToDeleteLeftover();

    QString m_validatorLogPath = QStringLiteral("/var/log/libnorvoupdatechecks.log");
    bool m_expertMode = true;
    bool m_imitation = false;
    bool m_latestKernelSelectable = true;
    bool m_serviceStopped = false;
    // A restore failed: the crash marker stays for the next start's offer.
    bool m_keepCrashMarker = false;
    QList<QWidget*> m_repoDependentWidgets;
    NorvoUpdate m_update;
    SystemInformation m_systemInformation;
    QSharedPointer<Snapshot> m_snapshot;
    UpdateLogWidget* m_logWidget = nullptr;
    Ui::MainWindow* ui = nullptr;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(MainWindow::RestartMode)
