#pragma once

#include <QWidget>

#include "updatelogparser.h"

namespace Ui {
class UpdateLogWidget;
}

// The log screen: a warning line, the update tool's output as it arrives, a progress bar that
// follows the output, and the Back and Exit buttons shown after a failed run.
class UpdateLogWidget final : public QWidget
{
    Q_OBJECT

public:
    explicit UpdateLogWidget(QWidget* parent = nullptr);
    ~UpdateLogWidget() override;

    void setInfoText(const QString& text);
    // Busy progress bar, parser ready for a new run.
    void resetProgress();
    void clearLog();
    // Shows value out of 100; 0 or less leaves the bar as it is.
    void setProgress(int value);
    void completeProgress();
    void showButtons();

Q_SIGNALS:
    void back();
    void error();

public Q_SLOTS:
    void addText(QString text);

private:
    UpdateLogParser m_parser;
    Ui::UpdateLogWidget* ui;
};
