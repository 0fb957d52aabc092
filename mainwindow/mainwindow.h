#pragma once

#include <QList>
#include <QMainWindow>
#include <QSharedPointer>

#include "norvoupdate.h"
#include "snapshot.h"

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
// runner and reacts to the outcomes of its commands.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // The launch tests read the queue the window hands to its runner.
    friend class LaunchTest;

protected:
    void closeEvent(QCloseEvent* event) override;

private Q_SLOTS:
    void changeExpertMode();
    void startUpdate();
    void imitationSuccess();
    void updateSuccess();
    void showError(QString error);
    void showSuccess();
    void showDpkgError();
    void addSource();
    void changeSource(QListWidgetItem* item);
    void removeSource();
    bool isAllFtpSources();
    bool isFtpSource(QString source);
    QStringList getIsoSources();
    bool filesExists(QStringList sources, QString extension);
    void currentSourceChanged(int row);
    void useRepoToggled(bool checked);
    void snapshotCreated(Snapshot::ErrorCode error);
    void newVersionInstalled(QString newVersion);
    void contextMenuRequested(QPoint pos);

private:
    // Modes and panels.
    void updateLaunchButtons();
    void updateSourceControls();
    void switchToLogScreen();
    void setLogVisible(bool visible);
    void restoreSetupScreen();

    // Sources.
    void updateChecksumOptions();
    QStringList allSources() const;

    // Settings and the markers that outlive a run.
    void loadSettings();
    void saveSettings();
    void setIsCrashed(bool crashed);
    bool isCrashed() const;
    void setRestartMode(int mode);
    int restartMode() const;

    // System information.
    void updateSystemInfo();
    QString readDistributionVersion() const;

    // Launch.
    QStringList buildArguments();
    QStringList optionArguments();
    bool validateSources();

    // Outcomes.
    void rebootSystem();
    void offerRestoreAtStartup();
    bool isSnapshotVolumeListed();

    QString m_validatorLogPath = QStringLiteral("/var/log/libnorvoupdatechecks.log");
    bool m_expertMode = true;
    bool m_imitation = false;
    bool m_latestKernelSelectable = true;
    bool m_serviceStopped = false;
    QList<QWidget*> m_repoDependentWidgets;
    NorvoUpdate m_update;
    QSharedPointer<Snapshot> m_snapshot;
    UpdateLogWidget* m_logWidget = nullptr;
    Ui::MainWindow* ui = nullptr;
};
