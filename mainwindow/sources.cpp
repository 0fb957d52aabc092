// The sources list of the main window: adding, changing and removing sources, and the controls
// that follow the list.

#include <algorithm>

#include <QFile>
#include <QListWidgetItem>
#include <QMessageBox>

#include "checksumfile.h"
#include "mainwindow.h"
#include "sourcedialog.h"
#include "ui_mainwindow.h"

void MainWindow::addSource()
{
    SourceDialog dialog(this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    ui->m_sourcesListWidget->insertItem(ui->m_sourcesListWidget->count(), dialog.source());
    // The new source is the one the next key press or button acts on.
    ui->m_sourcesListWidget->setCurrentRow(ui->m_sourcesListWidget->count() - 1);
    updateLaunchButtons();
    updateChecksumOptions();
}

void MainWindow::changeSource(QListWidgetItem* item)
{
    if (!item)
        return;
    SourceDialog dialog(item->data(Qt::DisplayRole).toString(), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    item->setData(Qt::DisplayRole, dialog.source());
    ui->m_sourcesListWidget->setCurrentItem(item);
    updateChecksumOptions();
}

void MainWindow::removeSource()
{
    const QListWidgetItem* current = ui->m_sourcesListWidget->currentItem();
    if (!current)
        return;
    QMessageBox question(QMessageBox::Question, tr("Remove confirmation"),
        tr("Do you want to remove source?"), QMessageBox::Yes | QMessageBox::No, this);
    question.setInformativeText(current->text());
    if (question.exec() != QMessageBox::Yes)
        return;
    delete ui->m_sourcesListWidget->takeItem(ui->m_sourcesListWidget->currentRow());
    updateLaunchButtons();
    updateChecksumOptions();
}

void MainWindow::currentSourceChanged(int row)
{
    ui->m_removeSourceToolButton->setEnabled(row != -1);
    ui->m_changeSourceToolButton->setEnabled(row != -1);
}

void MainWindow::useRepoToggled(bool checked)
{
    for (QWidget* widget : qAsConst(m_repoDependentWidgets))
        widget->setDisabled(checked);
    if (!checked)
        updateChecksumOptions();
    updateLaunchButtons();
    updateSourceControls();
}

void MainWindow::updateChecksumOptions()
{
    const bool enabled = !isAllFtpSources();
    ui->m_md5CheckBox->setEnabled(enabled);
    ui->m_gostCheckBox->setEnabled(enabled);
    ui->m_keepSrcCheckBox->setEnabled(enabled);
}

bool MainWindow::isFtpSource(QString source)
{
    return source.startsWith(QLatin1String("ftp://"));
}

bool MainWindow::isAllFtpSources()
{
    for (int row = 0; row < ui->m_sourcesListWidget->count(); ++row) {
        if (!isFtpSource(ui->m_sourcesListWidget->item(row)->data(Qt::DisplayRole).toString()))
            return false;
    }
    return true;
}

QStringList MainWindow::getIsoSources()
{
    QStringList sources;
    for (const QString& source : allSources()) {
        if (!isFtpSource(source))
            sources.append(source);
    }
    return sources;
}

QStringList MainWindow::allSources() const
{
    QStringList sources;
    for (int row = 0; row < ui->m_sourcesListWidget->count(); ++row)
        sources.append(ui->m_sourcesListWidget->item(row)->data(Qt::DisplayRole).toString());
    return sources;
}

bool MainWindow::filesExists(QStringList sources, QString extension)
{
    return !sources.isEmpty()
        && std::all_of(sources.cbegin(), sources.cend(), [&extension](const QString& source) {
               return !KivAdmin::checksumFileFor(source, extension).isEmpty();
           });
}
