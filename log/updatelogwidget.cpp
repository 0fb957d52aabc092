#include "updatelogwidget.h"

#include <QCoreApplication>

#include "ui_updatelogwidget.h"

UpdateLogWidget::UpdateLogWidget(QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::UpdateLogWidget)
{
    ui->setupUi(this);
    ui->m_buttonsWidget->hide();
    connect(ui->m_backPushButton, &QPushButton::clicked, this, &UpdateLogWidget::back);
    connect(ui->m_backPushButton, &QPushButton::clicked, ui->m_buttonsWidget, &QWidget::hide);
    connect(ui->m_exitPushButton, &QPushButton::clicked, this, []() { QCoreApplication::exit(0); });
    connect(&m_parser, &UpdateLogParser::errorDetected, this, &UpdateLogWidget::error);
}

UpdateLogWidget::~UpdateLogWidget()
{
    delete ui;
}

void UpdateLogWidget::addText(QString text)
{
    ui->m_logTextEdit->appendText(text);
    setProgress(m_parser.parse(text));
    QCoreApplication::processEvents();
}

void UpdateLogWidget::setInfoText(const QString& text)
{
    ui->m_infoLabel->setText(text);
}

void UpdateLogWidget::resetProgress()
{
    m_parser.reset();
    ui->m_updateProgressBar->setRange(0, 0);
    ui->m_updateProgressBar->setValue(0);
    ui->m_updateProgressBar->setFocus(Qt::OtherFocusReason);
}

void UpdateLogWidget::clearLog()
{
    resetProgress();
    ui->m_logTextEdit->clearText();
}

void UpdateLogWidget::setProgress(int value)
{
    if (value <= 0)
        return;
    ui->m_updateProgressBar->setRange(0, 100);
    ui->m_updateProgressBar->setValue(value);
}

void UpdateLogWidget::completeProgress()
{
    setProgress(100);
}

void UpdateLogWidget::showButtons()
{
    ui->m_buttonsWidget->show();
}
