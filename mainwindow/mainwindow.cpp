#include "mainwindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QMenu>
#include <QShortcut>
#include <QTimer>

#include "kivintegration.h"
#include "kivwidgets.h"
#include "ui_mainwindow.h"
#include "updatelogwidget.h"

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
    , m_update(this)
    , ui(new Ui::MainWindow)
{
    ui->setupUi(this);

    m_snapshot = m_update.snapshot();
    if (!m_snapshot) {
        ui->m_snapCheckBox->setEnabled(false);
        ui->m_snapCheckBox->setToolTip(tr("The file system is not support creating of snapshots."));
    }
    m_repoDependentWidgets = {ui->m_keepSrcCheckBox, ui->m_gostCheckBox, ui->m_md5CheckBox};
    QDir::setCurrent(QDir::homePath());

    m_logWidget = new UpdateLogWidget;
    m_logWidget->hide();
    m_logWidget->setWindowTitle(kivAppDescription());
    QSizePolicy policy = m_logWidget->sizePolicy();
    policy.setHorizontalStretch(5);
    m_logWidget->setSizePolicy(policy);
    ui->centralwidget->layout()->addWidget(m_logWidget);

    connect(ui->m_useRepoCheckBox, &QCheckBox::toggled, this, &MainWindow::useRepoToggled);
    loadSettings();
    setWindowTitle(kivAppDescription());
    updateSystemInfo();
    setExpertMode(m_expertMode);
    ui->m_updatePushButton->setFocus(Qt::OtherFocusReason);

    const auto changeCurrentSource = [this]() { changeSource(ui->m_sourcesListWidget->currentItem()); };
    connect(ui->m_expertModePushButton, &QPushButton::clicked, this, &MainWindow::changeExpertMode);
    connect(ui->m_imitatePushButton, &QPushButton::clicked, this, &MainWindow::startUpdate);
    connect(ui->m_updatePushButton, &QPushButton::clicked, this, &MainWindow::startUpdate);
    connect(ui->m_addSourceToolButton, &QToolButton::clicked, this, &MainWindow::addSource);
    connect(ui->m_sourcesListWidget, &QListWidget::itemDoubleClicked, this, &MainWindow::changeSource);
    connect(ui->m_removeSourceToolButton, &QToolButton::clicked, this, &MainWindow::removeSource);
    connect(ui->m_changeSourceToolButton, &QToolButton::clicked, this, changeCurrentSource);
    connect(ui->m_changeSourceAction, &QAction::triggered, this, changeCurrentSource);
    connect(ui->m_removeSourceAction, &QAction::triggered, this, &MainWindow::removeSource);
    connect(ui->m_sourcesListWidget, &QListWidget::customContextMenuRequested, this,
        &MainWindow::contextMenuRequested);
    connect(
        ui->m_sourcesListWidget, &QListWidget::currentRowChanged, this, &MainWindow::currentSourceChanged);
    connect(&m_update, &NorvoUpdate::logUpdated, m_logWidget, &UpdateLogWidget::addText);
    connect(&m_update, &NorvoUpdate::commandFinished, this, &MainWindow::commandFinished);
    connect(ui->m_historyPushButton, &QPushButton::clicked, this, &MainWindow::showHistory);
    connect(m_logWidget, &UpdateLogWidget::back, this, [this]() { restoreSetupScreen(); });
    connect(m_logWidget, &UpdateLogWidget::error, this, &MainWindow::showDpkgError);

    // The list at the keyboard: Delete removes, Return changes, as the buttons do.
    auto* remove
        = new QShortcut(QKeySequence::Delete, ui->m_sourcesListWidget, nullptr, nullptr, Qt::WidgetShortcut);
    connect(remove, &QShortcut::activated, this, &MainWindow::removeSource);
    for (const int key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* change
            = new QShortcut(QKeySequence(key), ui->m_sourcesListWidget, nullptr, nullptr, Qt::WidgetShortcut);
        connect(change, &QShortcut::activated, this, changeCurrentSource);
    }

    auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this, nullptr, nullptr, Qt::WindowShortcut);
    connect(help, &QShortcut::activated, this, []() { kivHelpShow(QString()); });

    if (restartMode())
        QTimer::singleShot(0, this, &MainWindow::startUpdate);
    else
        QTimer::singleShot(0, this, [this]() { offerRestoreAtStartup(); });
}

MainWindow::~MainWindow()
{
    // The runner outlives the widgets below; a child it still has must not report to them.
    disconnect(&m_update, nullptr, this, nullptr);
    disconnect(&m_update, nullptr, m_logWidget, nullptr);
    saveSettings();
    delete m_logWidget;
    delete ui;
    m_snapshot.reset();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // A snapshot still being taken would go on unseen, and the next start would know nothing of it.
    if (m_update.isRunning() || m_update.isTakingSnapshot())
        event->ignore();
}

void MainWindow::changeExpertMode()
{
    setExpertMode(!m_expertMode);
}

void MainWindow::setExpertMode(bool expert)
{
    m_expertMode = expert;
    ui->m_optionsGroupBox->setVisible(m_expertMode);
    ui->m_imitatePushButton->setVisible(m_expertMode);
    // The mode button names the mode it switches to.
    ui->m_expertModePushButton->setText(m_expertMode ? tr("Simple mode") : tr("Expert mode"));
    ui->m_updatePushButton->setText(m_expertMode ? tr("Update") : tr("Check and update system"));
    updateLaunchButtons();
    updateSourceControls();
    setLogVisible(false);
}

void MainWindow::updateLaunchButtons()
{
    const bool enabled
        = ui->m_sourcesListWidget->count() > 0 || (m_expertMode && ui->m_useRepoCheckBox->isChecked());
    ui->m_updatePushButton->setEnabled(enabled);
    ui->m_imitatePushButton->setEnabled(enabled);
}

void MainWindow::updateSourceControls()
{
    if (m_expertMode && ui->m_useRepoCheckBox->isChecked()) {
        ui->m_sourcesListWidget->setEnabled(false);
        ui->m_addSourceToolButton->setEnabled(false);
        ui->m_removeSourceToolButton->setEnabled(false);
    } else {
        ui->m_sourcesListWidget->setEnabled(true);
        ui->m_addSourceToolButton->setEnabled(true);
        ui->m_removeSourceToolButton->setEnabled(ui->m_sourcesListWidget->currentItem() != nullptr);
    }
}

int MainWindow::setupScreenMargins() const
{
    // The style decides the layout's margins (Fusion's differ from others'): read, never assumed,
    // so that a stored panel width comes back unchanged.
    const QMargins margins = ui->centralwidget->layout()->contentsMargins();
    return margins.left() + margins.right();
}

void MainWindow::switchToLogScreen()
{
    ui->m_setupWidget->hide();
    m_logWidget->show();
}

void MainWindow::setLogVisible(bool visible)
{
    if (!visible) {
        restoreSetupScreen();
        return;
    }
    if (m_logWidget->isVisible())
        return;
    QRect area = geometry();
    area.setWidth(2 * area.width());
    m_logWidget->show();
    setGeometry(area);
}

void MainWindow::restoreSetupScreen()
{
    QRect area = geometry();
    area.setWidth(ui->m_setupWidget->width() + setupScreenMargins());
    m_logWidget->hide();
    setGeometry(area);
    QCoreApplication::processEvents();
    setGeometry(area);
    ui->m_setupWidget->show();
}

void MainWindow::contextMenuRequested(QPoint pos)
{
    QMenu menu(this);
    if (!ui->m_sourcesListWidget->currentItem())
        return;
    menu.addAction(ui->m_changeSourceAction);
    menu.addAction(ui->m_removeSourceAction);
    menu.exec(ui->m_sourcesListWidget->viewport()->mapToGlobal(pos));
}
