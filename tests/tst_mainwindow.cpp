#include <QCheckBox>
#include <QGroupBox>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include "fakeexecutables.h"
#include "historydialog.h"
#include "launcharguments.h"
#include "mainwindow.h"
#include "snapshot.h"
#include "testhelpers.h"

using TestHelpers::child;

namespace {

// A run record of the update tool's journal, as much of it as the history shows, in the place its
// id ends with, its kept file at "KEPT". plan: "PACKAGE BEFORE AFTER", "-" where there is no version.
QByteArray run(const QString& id, const QStringList& plan, int exitCode = 0)
{
    const auto version = [](const QString& text) { return text == "-" ? QString("null") : '"' + text + '"'; };
    QStringList changes;
    for (const QString& change : plan) {
        const QStringList words = change.split(' ');
        const QString action = words[1] == "-" ? "install" : words[2] == "-" ? "remove" : "change";
        changes << QString(
            R"({"package": "%1", "architecture": "all", "action": "%2", "before": %3, "after": %4, "auto": false})")
                       .arg(words[0], action, version(words[1]), version(words[2]));
    }
    return QString(
        R"({"format": 1, "id": "%1", "sequence": %5, "kind": "update", "started": "2026-12-07T03:45:12Z",
        "ended": "2026-12-07T03:47:40Z", "commandLine": ["norvo-update", "-A", "/srv/a.iso"],
        "sources": [{"source": "/srv/a.iso", "checksums": {"md5": "0123abcd"}}],
        "release": {"before": "1.7.3", "after": "1.7.4"}, "plan": [%2],
        "kept": {"directory": "/var/lib/norvo-update/kept", "files": [{"package": "a", "version": "1.0",
        "architecture": "all", "file": "KEPT", "sha256": "00", "from": "store"}]},
        "result": {"state": "%3", "exitCode": %4, "message": ""}})")
        .arg(id, changes.join(", "), exitCode == 0 ? "succeeded" : "failed")
        .arg(exitCode)
        .arg(id.section('-', -1))
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
        REQUIRE_SANDBOX();
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
        QTest::addColumn<QStringList>("runs");
        // Of the last run, after its source and releases: installed, changed, removed, result.
        QTest::addColumn<QString>("cells");
        QTest::addColumn<bool>("rollBack"); // offered for the first run
        QTest::addColumn<QString>("lastRollback"); // what the error box's rollback of "last" does
        const QStringList full {"c - 1.0", "a 1.0 2.0", "d 1.0 -"};
        const QString first = run("20261207-034512-1", full);
        QTest::newRow("an update") << QStringList {first} << "1 1 1 succeeded" << true
                                   << "remove c 1.0\na 2.0 → 1.0\ninstall d 1.0 again";
        QTest::newRow("changed nothing")
            << QStringList {run("20261207-034512-1", full, 5)} << "1 1 1 failed (exit code 5)" << false << "";
        QTest::newRow("a later update of the same package")
            << QStringList {first, run("20261207-050000-2", {"a 2.0 2.1"})} << "0 1 0 succeeded" << false
            << "a 2.1 → 2.0";
        // Recorded after a clock was set back: its place, not its time, makes it the later one.
        QTest::newRow("a later update of the same package, at an earlier time")
            << QStringList {run("20261207-050000-1", full), run("20261207-034512-2", {"a 2.0 2.1"})}
            << "0 1 0 succeeded" << false << "a 2.1 → 2.0";
        QTest::newRow("a later update of other packages")
            << QStringList {first, run("20261207-050000-2", {"x 1.0 1.1"})} << "0 1 0 succeeded" << true
            << "x 1.1 → 1.0";
    }

    void historyOfRuns()
    {
        QFETCH(QStringList, runs);
        QFETCH(QString, cells);
        QFETCH(bool, rollBack);
        QFETCH(QString, lastRollback);
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
        QCOMPARE(shown.join(' '), "/srv/a.iso 1.7.3 → 1.7.4 " + cells);
        list->setCurrentItem(list->topLevelItem(0));
        QCOMPARE(child<QPushButton>(&dialog, "m_rollBackPushButton")->isEnabled(), rollBack);
        QVERIFY(
            child<QPlainTextEdit>(&dialog, "m_detailsPlainTextEdit")->toPlainText().contains("a 1.0 → 2.0"));
        QCOMPARE(HistoryDialog::planOfLastRollback(journal.path()), lastRollback);
    }

    void controlsFollowModeSourcesAndOption_data()
    {
        QTest::addColumn<bool>("expert");
        QTest::addColumn<QStringList>("sources");
        QTest::addColumn<int>("current"); // the row chosen, before the option
        QTest::addColumn<bool>("useRepo"); // the system's repositories are chosen
        // The controls that can be used then, of: update (and Imitate with it), list, add, remove,
        // change, checksums (the MD5, GOST and keep check boxes).
        QTest::addColumn<QString>("enabled");
        const QStringList mixed {"/srv/a.iso", "ftp://mirror.example/b.iso"};
        QTest::newRow("first start") << false << QStringList {} << -1 << false << "list add";
        QTest::newRow("simple, a source current")
            << false << mixed << 1 << false << "update list add remove change checksums";
        QTest::newRow("expert, system repositories, a source current")
            << true << mixed << 0 << true << "update change";
        QTest::newRow("expert, only ftp sources")
            << true << QStringList {"ftp://mirror.example/a", "ftp://mirror.example/b"} << 0 << false
            << "update list add remove change";
    }

    void controlsFollowModeSourcesAndOption()
    {
        QFETCH(const bool, expert);
        QFETCH(const QStringList, sources);
        QFETCH(const int, current);
        QFETCH(const bool, useRepo);
        QFETCH(const QString, enabled);
        // A row is chosen before the option is checked, as a user can only do it that way round.
        auto window = TestHelpers::makeWindow({{"ExpertMode", expert}, {"Sources", sources}});
        child<QListWidget>(window.get(), "m_sourcesListWidget")->setCurrentRow(current);
        child<QCheckBox>(window.get(), "m_useRepoCheckBox")->setChecked(useRepo);
        // Expert mode shows the options and Imitate; the mode button names the other mode.
        QCOMPARE(child<QGroupBox>(window.get(), "m_optionsGroupBox")->isVisible(), expert);
        QCOMPARE(child<QPushButton>(window.get(), "m_imitatePushButton")->isVisible(), expert);
        QCOMPARE(child<QPushButton>(window.get(), "m_updatePushButton")->text(),
            expert ? "Update" : "Check and update system");
        const std::pair<QString, QStringList> controls[] {
            {"update", {"m_updatePushButton", "m_imitatePushButton"}}, {"list", {"m_sourcesListWidget"}},
            {"add", {"m_addSourceToolButton"}}, {"remove", {"m_removeSourceToolButton"}},
            {"change", {"m_changeSourceToolButton"}},
            {"checksums", {"m_md5CheckBox", "m_gostCheckBox", "m_keepSrcCheckBox"}}};
        QStringList seen, expected;
        for (const auto& [name, widgets] : controls) {
            for (const QString& widget : widgets) {
                if (child<QWidget>(window.get(), qPrintable(widget))->isEnabled())
                    seen << widget;
                if (enabled.split(' ').contains(name))
                    expected << widget;
            }
        }
        QCOMPARE(seen, expected);
    }

    void updateToolArgumentsFollowTheChoices_data()
    {
        QTest::addColumn<QString>("choices"); // the words of the choices made, parted by blanks
        QTest::addColumn<QStringList>("sources");
        QTest::addColumn<QString>("arguments");
        const QStringList images {"/srv/a.iso", "/srv/b.iso"};
        QTest::newRow("expert: GOST and the latest kernel")
            << "expert gost latestKernel" << images << "-A -K -g /srv/a.iso /srv/b.iso";
        QTest::newRow("expert: MD5, keep, no main repository")
            << "expert md5 keepSources noMainRepo" << QStringList {"/srv/a.iso"} << "-A -T -k -m /srv/a.iso";
        QTest::newRow("expert: system repositories, the sources left out")
            << "expert useRepo md5 keepSources" << images << "-A -r";
        QTest::newRow("expert: ftp sources only take no -k, -g, -m")
            << "expert onlyFtpSources keepSources gost md5" << QStringList {"ftp://m.example/a"}
            << "-A ftp://m.example/a";
        QTest::newRow("simple: checksum files found, the option boxes ignored")
            << "gostFilesFound md5FilesFound keepSources noMainRepo useRepo" << images
            << "-A -g -m /srv/a.iso /srv/b.iso";
        QTest::newRow("simple: no checksum files") << "gost md5" << images << "-A /srv/a.iso /srv/b.iso";
    }

    void updateToolArgumentsFollowTheChoices()
    {
        QFETCH(const QString, choices);
        QFETCH(const QStringList, sources);
        QFETCH(const QString, arguments);
        LaunchChoices launch;
        const std::pair<const char*, bool LaunchChoices::*> words[] {{"expert", &LaunchChoices::expertMode},
            {"useRepo", &LaunchChoices::useRepo}, {"keepSources", &LaunchChoices::keepSources},
            {"gost", &LaunchChoices::gost}, {"md5", &LaunchChoices::md5},
            {"noMainRepo", &LaunchChoices::noMainRepo}, {"latestKernel", &LaunchChoices::latestKernel},
            {"gostFilesFound", &LaunchChoices::gostFilesFound},
            {"md5FilesFound", &LaunchChoices::md5FilesFound},
            {"onlyFtpSources", &LaunchChoices::onlyFtpSources}};
        for (const auto& [word, choice] : words)
            launch.*choice = choices.split(' ').contains(word);
        launch.sources = sources;
        QCOMPARE(launchArguments(launch).join(' '), arguments);
    }

    // What a restore replaced is all that is left of the failed update: only a Yes deletes it.
    void leftoverIsDeletedOnYesAlone_data()
    {
        QTest::addColumn<QString>("button"); // none: the box closed
        QTest::addColumn<bool>("deleted");
        QTest::newRow("Yes") << "Yes" << true;
        QTest::newRow("No") << "No" << false;
        QTest::newRow("closed") << "none" << false;
    }

    void leftoverIsDeletedOnYesAlone()
    {
        QFETCH(const QString, button);
        QFETCH(const bool, deleted);
        struct Leftover final : Snapshot
        {
            using Snapshot::Snapshot;
            bool exists() override { return false; }
            QString location() const override { return {}; }
            void create() override { }
            ErrorCode remove() override { return Success; }
            ErrorCode restore() override { return Success; }
            QString leftoverQuestion() override { return "Delete the replaced root?"; }
            ErrorCode settleLeftover(bool deleteIt) override
            {
                settled << deleteIt;
                return Success;
            }
            QList<bool> settled;
        };
        auto window = TestHelpers::makeWindow({});
        auto* leftover = new Leftover("snapshot", "/dev/sda1", 0);
        window->m_snapshot.reset(leftover);
        QCOMPARE(TestHelpers::answerBox(button, [&] { window->offerToDeleteLeftover(); }).value(1),
            "Delete the replaced root?");
        QCOMPARE(leftover->settled, QList<bool> {deleted});
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
