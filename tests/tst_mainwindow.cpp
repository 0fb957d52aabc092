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
    m_fakes.addScenarios(TestHelpers::ordinaryMachine);
}

void MainWindowTest::controlsFollowModeSourcesAndOption_data()
{
    QTest::addColumn<bool>("expert");
    QTest::addColumn<QStringList>("sources");
    QTest::addColumn<bool>("useRepo");
    QTest::addColumn<int>("currentRow");
    // options and Imitate shown, Update's text, launch, list, add, remove, change, checksum and keep boxes
    QTest::addColumn<QString>("expected");
    const QStringList images {"/srv/a.iso", "ftp://mirror.example/b.iso"};
    const QStringList ftpOnly {"ftp://mirror.example/a", "ftp://mirror.example/b"};
    QTest::newRow("first start") << false << QStringList() << false << -1
                                 << "hidden|Check and update system|off|on|on|off|off|off";
    QTest::newRow("simple, a source current")
        << false << images << false << 1 << "hidden|Check and update system|on|on|on|on|on|on";
    QTest::newRow("simple ignores the option, but not for the checksum boxes")
        << false << images << true << 0 << "hidden|Check and update system|on|on|on|on|on|off";
    QTest::newRow("expert, no sources")
        << true << QStringList() << false << -1 << "shown|Update|off|on|on|off|off|off";
    QTest::newRow("expert, system repositories, a source current")
        << true << images << true << 0 << "shown|Update|on|off|off|off|on|off";
    QTest::newRow("expert, only ftp sources")
        << true << ftpOnly << false << 0 << "shown|Update|on|on|on|on|on|off";
}

void MainWindowTest::controlsFollowModeSourcesAndOption()
{
    QFETCH(bool, expert);
    QFETCH(QStringList, sources);
    QFETCH(bool, useRepo);
    QFETCH(int, currentRow);
    QFETCH(QString, expected);
    // A row is chosen before the option is checked, as a user can only do it that way round.
    auto window = TestHelpers::makeWindow({{"ExpertMode", expert}, {"Sources", sources}});
    auto* list = child<QListWidget>(window.get(), "m_sourcesListWidget");
    list->setCurrentRow(currentRow);
    child<QCheckBox>(window.get(), "m_useRepoCheckBox")->setChecked(useRepo);
    auto* update = child<QPushButton>(window.get(), "m_updatePushButton");
    const bool optionsShown = child<QGroupBox>(window.get(), "m_optionsGroupBox")->isVisible();
    QStringList seen {optionsShown ? "shown" : "hidden", update->text()};
    for (QWidget* widget :
        QList<QWidget*> {update, list, child<QToolButton>(window.get(), "m_addSourceToolButton"),
            child<QToolButton>(window.get(), "m_removeSourceToolButton"),
            child<QToolButton>(window.get(), "m_changeSourceToolButton"),
            child<QCheckBox>(window.get(), "m_md5CheckBox")})
        seen << (widget->isEnabled() ? "on" : "off");
    QCOMPARE(seen.join('|'), expected);
    auto* imitate = child<QPushButton>(window.get(), "m_imitatePushButton");
    QCOMPARE(imitate->isVisible(), optionsShown);
    QCOMPARE(imitate->isEnabled(), update->isEnabled());
    for (const char* box : {"m_gostCheckBox", "m_keepSrcCheckBox"})
        QCOMPARE(child<QCheckBox>(window.get(), box)->isEnabled(), expected.endsWith("on"));
}

void MainWindowTest::sourceDialogAcceptsOnlyFittingText_data()
{
    QTest::addColumn<QString>("initial"); // null: a new source
    QTest::addColumn<bool>("network"); // switch to the network kind before OK
    QTest::addColumn<QString>("typed"); // null: keep the text
    QTest::addColumn<QString>("warning"); // null: accepted
    const QString notIso = "The source is not ISO image. Enter the correct source.";
    const QString notNetwork = "The source is not a network address. Enter the correct source.";
    QTest::newRow("image path") << QString() << false << "/media/cdrom/update.iso" << QString();
    QTest::newRow("capital extension") << QString() << false << "/media/cdrom/update.ISO" << notIso;
    QTest::newRow("blank inside a path") << QString() << false << "/srv/my update.iso" << notIso;
    QTest::newRow("blanks around are dropped") << QString() << false << "  /srv/update.iso  " << QString();
    QTest::newRow("file address") << QString() << true << "file:///srv/repo" << QString();
    QTest::newRow("capital scheme") << QString() << true << "HTTP://mirror.example/repo" << notNetwork;
    QTest::newRow("path kept when switching to network")
        << QString() << true << "/srv/update.iso" << notNetwork;
    QTest::newRow("ftp image opens as an image")
        << "ftp://mirror.example/cd.iso" << false << QString() << QString();
    QTest::newRow("address opens as network")
        << "https://mirror.example/repo" << false << QString() << QString();
}

void MainWindowTest::sourceDialogAcceptsOnlyFittingText()
{
    QFETCH(QString, initial);
    QFETCH(bool, network);
    QFETCH(QString, typed);
    QFETCH(QString, warning);
    auto dialog
        = initial.isNull() ? std::make_unique<SourceDialog>() : std::make_unique<SourceDialog>(initial);
    auto* iso = child<QRadioButton>(dialog.get(), "m_isoRadioButton");
    auto* line = child<QLineEdit>(dialog.get(), "m_sourceLineEdit");
    dialog->show();
    QCOMPARE(iso->isChecked(), initial.isNull() || initial.endsWith(".iso"));
    if (!typed.isNull())
        line->setText(typed);
    if (network)
        child<QRadioButton>(dialog.get(), "m_netRadioButton")->setChecked(true);
    QCOMPARE(child<QToolButton>(dialog.get(), "m_browseToolButton")->isVisible(), iso->isChecked());
    QCOMPARE(line->placeholderText(),
        iso->isChecked() ? "Specify the path to the ISO image" : "Specify a link to the network repository");
    QCOMPARE(TestHelpers::answerBox("OK", [&] { dialog->accept(); }).value(1), warning);
    if (warning.isNull()) {
        QCOMPARE(dialog->result(), int(QDialog::Accepted));
        QCOMPARE(dialog->source(), (typed.isNull() ? initial : typed).trimmed());
    } else {
        QVERIFY(dialog->isVisible());
        QCOMPARE(line->text(), typed);
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
    QTest::addColumn<QByteArray>("mode");
    QTest::addColumn<QByteArray>("updateFile"); // empty: no file
    QTest::addColumn<QString>("available");
    QTest::addColumn<QString>("text");
    QTest::newRow("maximum level, update installed")
        << QByteArray("  2 \nignored\n") << QByteArray("Update 1.2.3\nBulletin 45\n") << "15G"
        << "Norvo Linux 1.7.5\nMaximum security level, «Kaldemor»\nUpdate 1.2.3 installed (BULLETIN № 45)\n"
           "Available memory size: 15 G (root partition)";
    QTest::newRow("advanced level, no update file")
        << QByteArray("1\n") << QByteArray() << "900M"
        << "Norvo Linux 1.7.5\nAdvanced security level, «Brisvan»\nAvailable memory size: 900 M (root partition)";
    QTest::newRow("unknown level is base, no bulletin")
        << QByteArray("5\n") << QByteArray("Update 1.2.4\nno number\n") << "512"
        << "Norvo Linux 1.7.5\nBase security level, «Ulmet»\nUpdate 1.2.4 installed (BULLETIN № )\n"
           "Available memory size: 512 (root partition)";
}

void MainWindowTest::informationPanel()
{
    QFETCH(QByteArray, mode);
    QFETCH(QByteArray, updateFile);
    QFETCH(QString, available);
    QFETCH(QString, text);
    TestHelpers::writeFile("/etc/norvo_security_level", mode);
    QFile::remove("/etc/norvo_update_version");
    if (!updateFile.isEmpty())
        TestHelpers::writeFile("/etc/norvo_update_version", updateFile);
    m_fakes.setScenario("df", TestHelpers::dfRoot("/dev/sda1", "ext4").replace("15G", available));
    auto window = TestHelpers::makeWindow({});
    QCOMPARE(child<QLabel>(window.get(), "m_sysInfoLabel")->text(), text);
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
