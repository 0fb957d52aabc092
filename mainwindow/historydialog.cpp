#include "historydialog.h"

#include <algorithm>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMessageBox>
#include <QPushButton>
#include <QSet>

#include "ui_historydialog.h"

namespace {

enum Column
{
    DateColumn,
    SourcesColumn,
    ReleaseColumn,
    InstalledColumn,
    ChangedColumn,
    RemovedColumn,
    ResultColumn
};

QString text(const QJsonObject& object, const char* key)
{
    return object.value(QLatin1String(key)).toString();
}

QSet<QString> packagesOf(const QJsonObject& run)
{
    QSet<QString> packages;
    for (const QJsonValue& change : run.value(QStringLiteral("plan")).toArray())
        packages << text(change.toObject(), "package");
    return packages;
}

int count(const QJsonObject& run, const QString& action)
{
    int found = 0;
    for (const QJsonValue& change : run.value(QStringLiteral("plan")).toArray())
        found += text(change.toObject(), "action") == action;
    return found;
}

// Exit codes 2 to 5: the tool changed nothing.
bool changedNothing(const QJsonObject& run)
{
    const int code
        = run.value(QStringLiteral("result")).toObject().value(QStringLiteral("exitCode")).toInt(-1);
    return code >= 2 && code <= 5;
}

// The runs of the journal in the order they were recorded: their IDs hold the local time, which a
// clock set back or another time zone puts out of order. Records without a place come first.
QList<QJsonObject> readRuns(const QString& journalDirectory)
{
    QList<QJsonObject> runs;
    const QDir folder(journalDirectory);
    for (const QString& name : folder.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name)) {
        QFile file(folder.filePath(name));
        const QJsonDocument document
            = file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()) : QJsonDocument();
        if (document.isObject() && !text(document.object(), "id").isEmpty())
            runs << document.object();
    }
    std::stable_sort(runs.begin(), runs.end(), [](const QJsonObject& a, const QJsonObject& b) {
        return a.value(QStringLiteral("sequence")).toDouble()
            < b.value(QStringLiteral("sequence")).toDouble();
    });
    return runs;
}

// What rolling the run back does to each package it changed.
QString rollbackPlan(const QJsonObject& run)
{
    QStringList lines;
    for (const QJsonValue& value : run.value(QStringLiteral("plan")).toArray()) {
        const QJsonObject change = value.toObject();
        const QString before = text(change, "before");
        const QString after = text(change, "after");
        lines << (before.isEmpty() ? HistoryDialog::tr("remove %1 %2").arg(text(change, "package"), after)
                : after.isEmpty()
                ? HistoryDialog::tr("install %1 %2 again").arg(text(change, "package"), before)
                : HistoryDialog::tr("%1 %2 → %3").arg(text(change, "package"), after, before));
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace

HistoryDialog::HistoryDialog(const QString& journalDirectory, QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::HistoryDialog)
{
    ui->setupUi(this);
    m_runs = readRuns(journalDirectory);
    for (const QJsonObject& run : qAsConst(m_runs)) {
        const QJsonObject result = run.value(QStringLiteral("result")).toObject();
        const QJsonObject release = run.value(QStringLiteral("release")).toObject();
        QStringList sources;
        for (const QJsonValue& source : run.value(QStringLiteral("sources")).toArray())
            sources << text(source.toObject(), "source");
        const QString state = text(result, "state");
        QString outcome = state == QLatin1String("succeeded") ? tr("succeeded")
            : state == QLatin1String("failed")
            ? tr("failed (exit code %1)").arg(result.value(QStringLiteral("exitCode")).toInt())
            : tr("did not end");
        if (text(run, "kind") == QLatin1String("rollback"))
            outcome = tr("rollback of %1: %2").arg(text(run, "rollbackOf"), outcome);
        if (!text(run, "rolledBackBy").isEmpty())
            outcome = tr("%1, rolled back").arg(outcome);
        auto* item = new QTreeWidgetItem(ui->m_runsTreeWidget);
        item->setText(DateColumn,
            QDateTime::fromString(text(run, "started"), Qt::ISODate)
                .toLocalTime()
                .toString(QStringLiteral("yyyy-MM-dd HH:mm")));
        item->setText(SourcesColumn, sources.join(QStringLiteral(", ")));
        item->setText(
            ReleaseColumn, QStringLiteral("%1 → %2").arg(text(release, "before"), text(release, "after")));
        item->setText(InstalledColumn, QString::number(count(run, QStringLiteral("install"))));
        item->setText(ChangedColumn, QString::number(count(run, QStringLiteral("change"))));
        item->setText(RemovedColumn, QString::number(count(run, QStringLiteral("remove"))));
        item->setText(ResultColumn, outcome);
    }
    for (int column = 0; column < ui->m_runsTreeWidget->columnCount(); ++column)
        ui->m_runsTreeWidget->resizeColumnToContents(column);
    connect(ui->m_runsTreeWidget, &QTreeWidget::currentItemChanged, this, &HistoryDialog::showDetails);
    connect(ui->m_rollBackPushButton, &QPushButton::clicked, this, &HistoryDialog::confirmRollback);
    connect(ui->m_buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // The newest run first in view.
    if (!m_runs.isEmpty())
        ui->m_runsTreeWidget->setCurrentItem(ui->m_runsTreeWidget->topLevelItem(m_runs.size() - 1));
    else
        ui->m_detailsPlainTextEdit->setPlainText(tr("No run of the update tool is recorded yet."));
}

HistoryDialog::~HistoryDialog()
{
    delete ui;
}

QString HistoryDialog::planOfLastRollback(const QString& journalDirectory)
{
    const QList<QJsonObject> runs = readRuns(journalDirectory);
    for (auto run = runs.crbegin(); run != runs.crend(); ++run) {
        if (text(*run, "kind") == QLatin1String("update") && !changedNothing(*run)
            && !run->value(QStringLiteral("plan")).toArray().isEmpty()
            && run->value(QStringLiteral("dpkgStarted")).toBool(true))
            return rollbackPlan(*run);
    }
    return QString();
}

QString HistoryDialog::defaultJournalDirectory()
{
    return QStringLiteral("/var/lib/norvo-update/history");
}

bool HistoryDialog::canRollBack(int index) const
{
    const QJsonObject& run = m_runs.at(index);
    if (text(run, "kind") != QLatin1String("update") || !text(run, "rolledBackBy").isEmpty()
        || changedNothing(run) || run.value(QStringLiteral("plan")).toArray().isEmpty())
        return false;
    for (const QJsonValue& kept :
        run.value(QStringLiteral("kept")).toObject().value(QStringLiteral("files")).toArray()) {
        if (!QFileInfo::exists(text(kept.toObject(), "file")))
            return false;
    }
    const QSet<QString> packages = packagesOf(run);
    for (int later = index + 1; later < m_runs.size(); ++later) {
        const QJsonObject& other = m_runs.at(later);
        if (text(other, "kind") == QLatin1String("update") && text(other, "rolledBackBy").isEmpty()
            && !changedNothing(other) && packagesOf(other).intersects(packages))
            return false;
    }
    return true;
}

void HistoryDialog::showDetails()
{
    const int index = ui->m_runsTreeWidget->indexOfTopLevelItem(ui->m_runsTreeWidget->currentItem());
    if (index < 0)
        return;
    const QJsonObject& run = m_runs.at(index);
    QStringList lines;
    lines << tr("Run %1: %2")
                 .arg(text(run, "id"),
                     run.value(QStringLiteral("commandLine"))
                         .toVariant()
                         .toStringList()
                         .join(QLatin1Char(' ')));
    lines << tr("Started %1, ended %2")
                 .arg(text(run, "started"), text(run, "ended").isEmpty() ? tr("never") : text(run, "ended"));
    for (const QJsonValue& value : run.value(QStringLiteral("sources")).toArray()) {
        const QJsonObject source = value.toObject();
        QStringList checksums;
        const QJsonObject sums = source.value(QStringLiteral("checksums")).toObject();
        for (auto it = sums.begin(); it != sums.end(); ++it)
            checksums << it.key() + QLatin1Char(' ') + it.value().toString();
        lines << tr("Source %1 %2")
                     .arg(text(source, "source"),
                         checksums.isEmpty()
                             ? QString()
                             : QStringLiteral("(%1)").arg(checksums.join(QStringLiteral(", "))));
    }
    for (const QJsonValue& value : run.value(QStringLiteral("plan")).toArray()) {
        const QJsonObject change = value.toObject();
        const QString before = text(change, "before");
        const QString after = text(change, "after");
        lines << (before.isEmpty() ? tr("  installed %1 %2").arg(text(change, "package"), after)
                : after.isEmpty()  ? tr("  removed %1 %2").arg(text(change, "package"), before)
                                   : tr("  %1 %2 → %3").arg(text(change, "package"), before, after));
    }
    const QJsonObject kept = run.value(QStringLiteral("kept")).toObject();
    lines << tr("Versions kept for the way back: %1 in %2")
                 .arg(kept.value(QStringLiteral("files")).toArray().size())
                 .arg(text(kept, "directory"));
    const QString message = text(run.value(QStringLiteral("result")).toObject(), "message");
    if (!message.isEmpty())
        lines << message;
    ui->m_detailsPlainTextEdit->setPlainText(lines.join(QLatin1Char('\n')));
    ui->m_rollBackPushButton->setEnabled(canRollBack(index));
}

void HistoryDialog::confirmRollback()
{
    const int index = ui->m_runsTreeWidget->indexOfTopLevelItem(ui->m_runsTreeWidget->currentItem());
    if (index < 0 || !canRollBack(index))
        return;
    const QString id = text(m_runs.at(index), "id");
    QMessageBox box(QMessageBox::Question, windowTitle(),
        tr("Return the packages of the run %1 to their versions before it?").arg(id),
        QMessageBox::Yes | QMessageBox::No, this);
    box.setDefaultButton(QMessageBox::No);
    box.setDetailedText(rollbackPlan(m_runs.at(index)));
    if (box.exec() != QMessageBox::Yes)
        return;
    m_chosenRun = id;
    accept();
}
