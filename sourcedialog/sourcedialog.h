#pragma once

#include <QDialog>

namespace Ui {
class SourceDialog;
}

// Asks for one update source, an ISO image or a network repository, and closes only when the
// text fits the chosen kind.
class SourceDialog final : public QDialog
{
    Q_OBJECT

public:
    // An empty dialog for a new source.
    explicit SourceDialog(QWidget* parent = nullptr);
    // A dialog for changing source; the kind follows from its ending.
    explicit SourceDialog(const QString& source, QWidget* parent = nullptr);
    ~SourceDialog() override;

    // The confirmed text, without surrounding blanks.
    QString source() const;

public Q_SLOTS:
    void accept() override;

private Q_SLOTS:
    void typeChanged(bool check);
    void selectFile();

private:
    Ui::SourceDialog* ui;
};
