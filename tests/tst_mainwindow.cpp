#include <memory>

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>

#include "fakeexecutables.h"
#include "historydialog.h"
#include "mainwindow.h"
#include "scenariotable.h"
#include "sourcedialog.h"
#include "testhelpers.h"

using TestHelpers::child;

namespace {

// A run record of the update tool's journal, as much of it as the history shows. plan: "+c 1.0"
// installs, "a 1.0>2.0" changes, "-d 1.0" removes.
QByteArray run(const QString& id, const QString& keptFile, const QStringList& plan, int exitCode = 0,
    const QString& extra = QString())
{
    QStringList changes;
    for (const QString& change : plan) {
        const QString name = change.section(' ', 0, 0).remove(QRegularExpression("^[+-]"));
        const QString versions = change.section(' ', 1);
        const QString before
            = change.startsWith('+') ? QString("null") : QString('"' + versions.section('>', 0, 0) + '"');
        const QString after
            = change.startsWith('-') ? QString("null") : QString('"' + versions.section('>', -1) + '"');
        const QString action = change.startsWith('+') ? "install"
            : change.startsWith('-')                  ? "remove"
                                                      : "change";
        changes << QString(
            R"({"package": "%1", "architecture": "all", "action": "%2", "before": %3, "after": %4, "auto": false})")
                       .arg(name, action, before, after);
    }
    return QString(R"({"format": 1, "id": "%1", "kind": "update", "started": "2026-12-07T03:45:12Z",
        "ended": "2026-12-07T03:47:40Z", "commandLine": ["norvo-update", "-A", "/srv/a.iso"],
        "sources": [{"source": "/srv/a.iso", "checksums": {"md5": "0123abcd"}}],
        "release": {"before": "1.7.3", "after": "1.7.4"}, "plan": [%2],
        "kept": {"directory": "/var/lib/norvo-update/kept", "files": [{"package": "a", "version": "1.0",
        "architecture": "all", "file": "%3", "sha256": "00", "from": "store"}]},
        "result": {"state": "%4", "exitCode": %5, "message": ""}%6})")
        .arg(id, changes.join(", "), keptFile, exitCode == 0 ? "succeeded" : "failed")
        .arg(exitCode)
        .arg(extra)
        .toUtf8();
}

} // namespace

// The setup screen. Runs in the sandbox, offscreen, with settings in a temporary place.
class MainWindowTest final : public QObject
{
    Q_OBJECT

    FakeExecutables m_fakes;
    QTemporaryDir m_config;

private slots:
    void initTestCase()
    {
        QVERIFY2(QFile::exists("/run/kiv-sandbox/layers_boot"), "the test must run in the sandbox");
        TestHelpers::prepareWindowTests(m_fakes, m_config);
    }

    void init()
    {
        m_fakes.reset();
        m_fakes.addDirectives(TestHelpers::ordinaryMachine);
    }

    // What the history shows of each run, and which runs it offers to roll back.
    void historyOfRuns_data()
    {
        QTest::addColumn<QStringList>("runs"); // "KEPT" stands for a kept file that exists
        QTest::addColumn<QStringList>("cells"); // of the last run
        QTest::addColumn<bool>("rollBack"); // offered for the first run
        const QStringList full {"+c 1.0", "a 1.0>2.0", "-d 1.0"};
        const QString later = run("20261207-050000-2", "KEPT", {"a 2.0>2.1"});
        QTest::newRow("an update") << QStringList {run("20261207-034512-1", "KEPT", full)}
                                   << QStringList {"/srv/a.iso", "1.7.3 → 1.7.4", "1", "1", "1", "succeeded"}
                                   << true;
        QTest::newRow("rolled back already")
            << QStringList {run(
                   "20261207-034512-1", "KEPT", full, 0, R"(, "rolledBackBy": "20261207-040000-9")")}
            << QStringList {"/srv/a.iso", "1.7.3 → 1.7.4", "1", "1", "1", "succeeded, rolled back"} << false;
        QTest::newRow("changed nothing")
            << QStringList {run("20261207-034512-1", "KEPT", full, 5)}
            << QStringList {"/srv/a.iso", "1.7.3 → 1.7.4", "1", "1", "1", "failed (exit code 5)"} << false;
        QTest::newRow("failed half-way")
            << QStringList {run("20261207-034512-1", "KEPT", full, 1)}
            << QStringList {"/srv/a.iso", "1.7.3 → 1.7.4", "1", "1", "1", "failed (exit code 1)"} << true;
        QTest::newRow("a kept file gone")
            << QStringList {run("20261207-034512-1", "/nonexistent/a_1.0_all.deb", full)}
            << QStringList {"/srv/a.iso", "1.7.3 → 1.7.4", "1", "1", "1", "succeeded"} << false;
        QTest::newRow("a later update of the same package")
            << QStringList {run("20261207-034512-1", "KEPT", full), later}
            << QStringList {"/srv/a.iso", "1.7.3 → 1.7.4", "0", "1", "0", "succeeded"} << false;
        QTest::newRow("a later update of other packages")
            << QStringList {run("20261207-034512-1", "KEPT", full),
                   run("20261207-050000-2", "KEPT", {"x 1.0>1.1"})}
            << QStringList {"/srv/a.iso", "1.7.3 → 1.7.4", "0", "1", "0", "succeeded"} << true;
        QTest::newRow("a later update rolled back")
            << QStringList {run("20261207-034512-1", "KEPT", full),
                   run("20261207-050000-2", "KEPT", {"a 2.0>2.1"}, 0, R"(, "rolledBackBy": "x")")}
            << QStringList {"/srv/a.iso", "1.7.3 → 1.7.4", "0", "1", "0", "succeeded, rolled back"} << true;
    }

    void historyOfRuns()
    {
        QFETCH(QStringList, runs);
        QFETCH(QStringList, cells);
        QFETCH(bool, rollBack);
        QTemporaryDir journal;
        const QString kept = journal.filePath("a_1.0_all.deb");
        TestHelpers::writeFile(kept, "package");
        for (const QString& record : runs) {
            const QString id = record.section("\"id\": \"", 1).section('"', 0, 0);
            TestHelpers::writeFile(
                journal.filePath(id + ".json"), QString(record).replace("KEPT", kept).toUtf8());
        }
        HistoryDialog dialog(journal.path());
        auto* list = child<QTreeWidget>(&dialog, "m_runsTreeWidget");
        QCOMPARE(list->topLevelItemCount(), runs.size());
        QStringList shown;
        for (int column = 1; column < list->columnCount(); ++column)
            shown << list->topLevelItem(runs.size() - 1)->text(column);
        QCOMPARE(shown, cells);
        list->setCurrentItem(list->topLevelItem(0));
        QCOMPARE(child<QPushButton>(&dialog, "m_rollBackPushButton")->isEnabled(), rollBack);
        QVERIFY(
            child<QPlainTextEdit>(&dialog, "m_detailsPlainTextEdit")->toPlainText().contains("a 1.0 → 2.0"));
    }

    void controlsFollowModeSourcesAndOption_data()
    {
        addRows(
            "setup-controls.txt", {"expert", "source", "current", "useRepo", "options", "button", "enabled"});
    }

    void controlsFollowModeSourcesAndOption()
    {
        QFETCH(const Row, row);
        // A row is chosen before the option is checked, as a user can only do it that way round.
        auto window
            = TestHelpers::makeWindow({{"ExpertMode", row.contains("expert")}, {"Sources", row["source"]}});
        child<QListWidget>(window.get(), "m_sourcesListWidget")
            ->setCurrentRow(row["current"].value(0, "-1").toInt());
        child<QCheckBox>(window.get(), "m_useRepoCheckBox")->setChecked(row.contains("useRepo"));
        QCOMPARE(child<QGroupBox>(window.get(), "m_optionsGroupBox")->isVisible(), row.contains("options"));
        QCOMPARE(
            child<QPushButton>(window.get(), "m_imitatePushButton")->isVisible(), row.contains("options"));
        QCOMPARE(child<QPushButton>(window.get(), "m_updatePushButton")->text(), row["button"].value(0));
        const std::pair<QString, QStringList> controls[] {
            {"update", {"m_updatePushButton", "m_imitatePushButton"}}, {"list", {"m_sourcesListWidget"}},
            {"add", {"m_addSourceToolButton"}}, {"remove", {"m_removeSourceToolButton"}},
            {"change", {"m_changeSourceToolButton"}},
            {"checksums", {"m_md5CheckBox", "m_gostCheckBox", "m_keepSrcCheckBox"}}};
        const QStringList enabled = row["enabled"].value(0).split(' ');
        QStringList seen, expected;
        for (const auto& [name, widgets] : controls) {
            for (const QString& widget : widgets) {
                if (child<QWidget>(window.get(), qPrintable(widget))->isEnabled())
                    seen << widget;
                if (enabled.contains(name))
                    expected << widget;
            }
        }
        QCOMPARE(seen, expected);
    }

    void sourceDialogAcceptsOnlyFittingText_data()
    {
        addRows("source-dialog.txt", {"opens", "type", "network", "refused"});
    }

    void sourceDialogAcceptsOnlyFittingText()
    {
        QFETCH(const Row, row);
        const QStringList opens = row["opens"];
        auto dialog
            = opens.isEmpty() ? std::make_unique<SourceDialog>() : std::make_unique<SourceDialog>(opens[0]);
        auto* iso = child<QRadioButton>(dialog.get(), "m_isoRadioButton");
        auto* line = child<QLineEdit>(dialog.get(), "m_sourceLineEdit");
        dialog->show();
        QCOMPARE(iso->isChecked(), opens.isEmpty() || opens[0].endsWith(".iso"));
        if (row.contains("type"))
            line->setText(row["type"][0]);
        if (row.contains("network"))
            child<QRadioButton>(dialog.get(), "m_netRadioButton")->setChecked(true);
        QCOMPARE(child<QToolButton>(dialog.get(), "m_browseToolButton")->isVisible(), iso->isChecked());
        QCOMPARE(line->placeholderText(),
            iso->isChecked() ? "Specify the path to the ISO image"
                             : "Specify a link to the network repository");
        QCOMPARE(TestHelpers::answerBox("OK", [&] { dialog->accept(); }).value(1), row["refused"].value(0));
        if (row.contains("refused")) {
            QVERIFY(dialog->isVisible());
            QCOMPARE(line->text(), row["type"].value(0));
        } else {
            QCOMPARE(dialog->result(), int(QDialog::Accepted));
            QCOMPARE(dialog->source(), (row["type"] + opens).value(0).trimmed());
        }
    }

    void informationPanel_data()
    {
        addRows("information-panel.txt", {"level", "update", "available", "shows"});
    }

    void informationPanel()
    {
        QFETCH(const Row, row);
        TestHelpers::writeFile("/etc/norvo_security_level", unescaped(row["level"]).value(0).toUtf8());
        QFile::remove("/etc/norvo_update_version");
        if (row.contains("update"))
            TestHelpers::writeFile("/etc/norvo_update_version", unescaped(row["update"])[0].toUtf8());
        m_fakes.setScenario(
            "df", TestHelpers::dfRoot("/dev/sda1", "ext4").replace("15G", row["available"].value(0)) + '\n');
        auto window = TestHelpers::makeWindow({});
        QCOMPARE(child<QLabel>(window.get(), "m_sysInfoLabel")->text(), row["shows"].join('\n'));
    }

    void optionsAreSavedUnderTheirKeys()
    {
        const QStringList sources {"/srv/b.iso", "ftp://mirror.example/a", "/srv/b.iso"};
        {
            auto window = TestHelpers::makeWindow({{"ExpertMode", true}});
            child<QListWidget>(window.get(), "m_sourcesListWidget")->addItems(sources);
            for (const char* box :
                {"m_keepSrcCheckBox", "m_md5CheckBox", "m_noMainRepoCheckBox", "m_latestKernelCheckBox"})
                child<QCheckBox>(window.get(), box)->setChecked(true);
            child<QCheckBox>(window.get(), "m_appAutoupdateCheckBox")->setChecked(false);
        }
        QSettings stored;
        QCOMPARE(stored.value("Sources").toStringList(), sources);
        QCOMPARE(stored.value("ExpertMode").toBool(), true);
        // Every option under its own key, as other versions of the program read them.
        const QStringList on {"KeepSrc", "Md5Check", "NoMainRepo", "LatestKernel"};
        for (const QString key : {"UseRepo", "KeepSrc", "GostCheck", "Md5Check", "Snapshot", "AutoUpdate",
                 "NoMainRepo", "LatestKernel"})
            QVERIFY2(stored.contains(key) && stored.value(key).toBool() == on.contains(key), qPrintable(key));
    }
};

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
