#pragma once

#include <QDialog>
#include <QJsonObject>
#include <QList>
#include <QString>

namespace Ui {
class HistoryDialog;
}

// The runs of the update tool from its journal: when, from which sources, the release before and
// after, how many packages each installed, changed and removed, and how it ended; the details of
// the chosen run, and "Roll back" for a run the tool can roll back. The window runs the rollback.
class HistoryDialog final : public QDialog
{
    Q_OBJECT

public:
    explicit HistoryDialog(const QString& journalDirectory, QWidget* parent = nullptr);
    ~HistoryDialog() override;

    // The run to roll back, once the dialog was accepted.
    QString chosenRun() const { return m_chosenRun; }

    static QString defaultJournalDirectory();
    // What a rollback of the newest update that changed packages (the tool's "last") does, a line
    // per package; empty when the journal holds none.
    static QString planOfLastRollback(const QString& journalDirectory);

private:
    void showDetails();
    void confirmRollback();
    // A run the tool would roll back: an update that changed packages, not undone, with every kept
    // file in place, and no later update of the same packages standing.
    bool canRollBack(int index) const;

    Ui::HistoryDialog* ui;
    QList<QJsonObject> m_runs;
    QString m_chosenRun;
};
