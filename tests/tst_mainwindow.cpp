#include <memory>

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include "fakeexecutables.h"
#include "mainwindow.h"
#include "scenariotable.h"
#include "sourcedialog.h"
#include "testhelpers.h"

using TestHelpers::child;

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
