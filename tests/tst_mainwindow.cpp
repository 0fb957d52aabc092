#include <memory>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
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

private slots:
    void initTestCase();
    void init();

    void controlsFollowModeSourcesAndOption_data();
    void controlsFollowModeSourcesAndOption();
    void sourceDialogAcceptsOnlyFittingText_data();
    void sourceDialogAcceptsOnlyFittingText();
    void sourcesAreAddedChangedAndRemoved();
    void informationPanel_data();
    void informationPanel();
    void settingsSurviveARestart();
    void latestKernelForcedByItsPackage();

private:
    // Opens the source dialog with open, types text in it and presses OK or Cancel; returns the text
    // of the field that had the focus.
    QString editSource(const std::function<void()>& open, const QString& text, bool accept = true);

    FakeExecutables m_fakes;
    QTemporaryDir m_config;
};

void MainWindowTest::initTestCase()
{
    QVERIFY2(QFile::exists("/run/kiv-sandbox/layers_boot"), "the test must run in the sandbox");
    TestHelpers::prepareWindowTests(m_fakes, m_config);
}

void MainWindowTest::init()
{
    m_fakes.reset();
    m_fakes.addDirectives(TestHelpers::ordinaryMachine);
}

void MainWindowTest::controlsFollowModeSourcesAndOption_data()
{
    addRows("setup-controls.txt", {"expert", "source", "current", "useRepo", "options", "button", "enabled"});
}

void MainWindowTest::controlsFollowModeSourcesAndOption()
{
    QFETCH(QStringList, expert);
    QFETCH(QStringList, source);
    QFETCH(QStringList, current);
    QFETCH(QStringList, useRepo);
    QFETCH(QStringList, options);
    QFETCH(QStringList, button);
    QFETCH(QStringList, enabled);
    // A row is chosen before the option is checked, as a user can only do it that way round.
    auto window = TestHelpers::makeWindow({{"ExpertMode", !expert.isEmpty()}, {"Sources", source}});
    auto* list = child<QListWidget>(window.get(), "m_sourcesListWidget");
    list->setCurrentRow(current.value(0, "-1").toInt());
    child<QCheckBox>(window.get(), "m_useRepoCheckBox")->setChecked(!useRepo.isEmpty());
    auto* update = child<QPushButton>(window.get(), "m_updatePushButton");
    QCOMPARE(child<QGroupBox>(window.get(), "m_optionsGroupBox")->isVisible(), !options.isEmpty());
    QCOMPARE(update->text(), button.value(0));
    const std::pair<const char*, QWidget*> controls[] {{"update", update}, {"list", list},
        {"add", child<QToolButton>(window.get(), "m_addSourceToolButton")},
        {"remove", child<QToolButton>(window.get(), "m_removeSourceToolButton")},
        {"change", child<QToolButton>(window.get(), "m_changeSourceToolButton")},
        {"checksums", child<QCheckBox>(window.get(), "m_md5CheckBox")}};
    QStringList seen;
    for (const auto& [name, control] : controls) {
        if (control->isEnabled())
            seen << name;
    }
    QCOMPARE(seen.join(' '), enabled.value(0));
    auto* imitate = child<QPushButton>(window.get(), "m_imitatePushButton");
    QCOMPARE(imitate->isVisible(), !options.isEmpty());
    QCOMPARE(imitate->isEnabled(), update->isEnabled());
    for (const char* box : {"m_gostCheckBox", "m_keepSrcCheckBox"})
        QCOMPARE(child<QCheckBox>(window.get(), box)->isEnabled(), seen.contains("checksums"));
}

void MainWindowTest::sourceDialogAcceptsOnlyFittingText_data()
{
    addRows("source-dialog.txt", {"opens", "type", "network", "refused"});
}

void MainWindowTest::sourceDialogAcceptsOnlyFittingText()
{
    QFETCH(QStringList, opens);
    QFETCH(QStringList, type);
    QFETCH(QStringList, network);
    QFETCH(QStringList, refused);
    auto dialog
        = opens.isEmpty() ? std::make_unique<SourceDialog>() : std::make_unique<SourceDialog>(opens[0]);
    auto* iso = child<QRadioButton>(dialog.get(), "m_isoRadioButton");
    auto* line = child<QLineEdit>(dialog.get(), "m_sourceLineEdit");
    dialog->show();
    QCOMPARE(iso->isChecked(), opens.isEmpty() || opens[0].endsWith(".iso"));
    if (!type.isEmpty())
        line->setText(type[0]);
    if (!network.isEmpty())
        child<QRadioButton>(dialog.get(), "m_netRadioButton")->setChecked(true);
    QCOMPARE(child<QToolButton>(dialog.get(), "m_browseToolButton")->isVisible(), iso->isChecked());
    QCOMPARE(line->placeholderText(),
        iso->isChecked() ? "Specify the path to the ISO image" : "Specify a link to the network repository");
    QCOMPARE(TestHelpers::answerBox("OK", [&] { dialog->accept(); }).value(1), refused.value(0));
    if (refused.isEmpty()) {
        QCOMPARE(dialog->result(), int(QDialog::Accepted));
        QCOMPARE(dialog->source(), (type + opens).value(0).trimmed());
    } else {
        QVERIFY(dialog->isVisible());
        QCOMPARE(line->text(), type.value(0));
    }
}

QString MainWindowTest::editSource(const std::function<void()>& open, const QString& text, bool accept)
{
    QString focused = "(no source dialog)";
    TestHelpers::whenModal(
        [&](QWidget* dialog) {
            auto* edit = qobject_cast<QLineEdit*>(dialog->focusWidget());
            focused = edit ? edit->text() : "(no text field focused)";
            child<QLineEdit>(dialog, "m_sourceLineEdit")->setText(text);
            child<QDialogButtonBox>(dialog, "buttonBox")
                ->button(accept ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel)
                ->click();
        },
        open);
    return focused;
}

void MainWindowTest::sourcesAreAddedChangedAndRemoved()
{
    auto window = TestHelpers::makeWindow({{"ExpertMode", true}, {"Md5Check", true}});
    auto* list = child<QListWidget>(window.get(), "m_sourcesListWidget");
    auto* md5 = child<QCheckBox>(window.get(), "m_md5CheckBox");
    auto* add = child<QToolButton>(window.get(), "m_addSourceToolButton");
    for (const char* source : {"ftp://mirror.example/cd.iso", "/srv/b.iso"}) {
        // Checksums apply to local images only.
        QVERIFY(!md5->isEnabled());
        QCOMPARE(editSource([add] { add->click(); }, source), "");
    }
    editSource([add] { add->click(); }, "/srv/c.iso", false);
    // The source just added is the current one, so the next action is on it.
    QCOMPARE(list->count(), 2);
    QCOMPARE(list->currentRow(), 1);

    // Return changes the current source, in a dialog that opens on its text.
    list->setCurrentRow(0);
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    QCOMPARE(editSource([list] { QTest::keyClick(list, Qt::Key_Return); }, "/srv/a.iso"),
        "ftp://mirror.example/cd.iso");
    QCOMPARE(list->item(0)->text(), "/srv/a.iso");
    QVERIFY(md5->isEnabled() && md5->isChecked());

    // Delete asks, naming the source, like the button; No keeps it.
    for (const char* answer : {"No", "Yes"}) {
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        list->setFocus();
        QCOMPARE(TestHelpers::answerBox(answer, [list] { QTest::keyClick(list, Qt::Key_Delete); }).mid(0, 3),
            (QStringList {"Remove confirmation", "Do you want to remove source?", "/srv/a.iso"}));
    }
    QCOMPARE(list->count(), 1);
    QCOMPARE(list->item(0)->text(), "/srv/b.iso");
    auto* remove = child<QToolButton>(window.get(), "m_removeSourceToolButton");
    QVERIFY(!TestHelpers::answerBox("Yes", [remove] { remove->click(); }).isEmpty());
    QCOMPARE(list->count(), 0);
    QVERIFY(!child<QPushButton>(window.get(), "m_updatePushButton")->isEnabled());
}

void MainWindowTest::informationPanel_data()
{
    addRows("information-panel.txt", {"level", "update", "available", "shows"});
}

void MainWindowTest::informationPanel()
{
    QFETCH(QStringList, level);
    QFETCH(QStringList, update);
    QFETCH(QStringList, available);
    QFETCH(QStringList, shows);
    TestHelpers::writeFile("/etc/norvo_security_level", unescaped(level).value(0).toUtf8());
    QFile::remove("/etc/norvo_update_version");
    if (!update.isEmpty())
        TestHelpers::writeFile("/etc/norvo_update_version", unescaped(update)[0].toUtf8());
    m_fakes.setScenario(
        "df", TestHelpers::dfRoot("/dev/sda1", "ext4").replace("15G", available.value(0)) + '\n');
    auto window = TestHelpers::makeWindow({});
    QCOMPARE(child<QLabel>(window.get(), "m_sysInfoLabel")->text(), shows.join('\n'));
}

void MainWindowTest::settingsSurviveARestart()
{
    const QStringList sources {"/srv/b.iso", "ftp://mirror.example/a", "/srv/b.iso"};
    {
        auto window = TestHelpers::makeWindow({{"ExpertMode", true}});
        child<QListWidget>(window.get(), "m_sourcesListWidget")->addItems(sources);
        for (const char* box :
            {"m_keepSrcCheckBox", "m_md5CheckBox", "m_noMainRepoCheckBox", "m_latestKernelCheckBox"})
            child<QCheckBox>(window.get(), box)->setChecked(true);
        child<QCheckBox>(window.get(), "m_appAutoupdateCheckBox")->setChecked(false);
        window->resize(700, window->height());
        QTest::qWait(50);
    }
    QSettings stored;
    QCOMPARE(stored.value("Sources").toStringList(), sources);
    QCOMPARE(stored.value("ExpertMode").toBool(), true);
    // Every option under its own key, as other versions of the program read them.
    const QStringList on {"KeepSrc", "Md5Check", "NoMainRepo", "LatestKernel"};
    for (const QString key : {"UseRepo", "KeepSrc", "GostCheck", "Md5Check", "Snapshot", "AutoUpdate",
             "NoMainRepo", "LatestKernel"})
        QVERIFY2(stored.contains(key) && stored.value(key).toBool() == on.contains(key), qPrintable(key));
    const int setupWidth = stored.value("SetupWidth").toInt();
    QVERIFY2(setupWidth > 600, qPrintable(QString::number(setupWidth)));

    // A new window reads the same state, and keeps the width start after start.
    for (int start = 0; start < 2; ++start) {
        QVariantMap all;
        for (const QString& key : QSettings().allKeys())
            all.insert(key, QSettings().value(key));
        auto window = TestHelpers::makeWindow(all);
        QCOMPARE(child<QListWidget>(window.get(), "m_sourcesListWidget")->count(), 3);
        QVERIFY(child<QGroupBox>(window.get(), "m_optionsGroupBox")->isVisible());
        QVERIFY(!child<QCheckBox>(window.get(), "m_appAutoupdateCheckBox")->isChecked());
        QVERIFY(child<QCheckBox>(window.get(), "m_latestKernelCheckBox")->isChecked());
        QTest::qWait(50);
    }
    QCOMPARE(QSettings().value("SetupWidth").toInt(), setupWidth);
}

void MainWindowTest::latestKernelForcedByItsPackage()
{
    m_fakes.setScenario("dpkg-query", "out ii \\tlinux-latest\\t6.1\\n\n");
    auto window = TestHelpers::makeWindow({{"LatestKernel", false}});
    auto* box = child<QCheckBox>(window.get(), "m_latestKernelCheckBox");
    QVERIFY(box->isChecked() && !box->isEnabled());
    QCOMPARE(box->toolTip(),
        "If you don't want to install the latest kernel,\nremove the \"linux-latest\" package manually.");
    window.reset();
    QCOMPARE(QSettings().value("LatestKernel").toBool(), true);
}

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
