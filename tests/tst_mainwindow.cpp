#include <memory>

#include <QAction>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "fakeexecutables.h"
#include "kivintegration.h"
#include "mainwindow.h"
#include "modalboxanswerer.h"
#include "sourcedialog.h"
#include "testhelpers.h"

using Settings = QVariantMap;

namespace {

const QString ext4Root = TestHelpers::dfRoot(QStringLiteral("/dev/sda1"), QStringLiteral("ext4"));

} // namespace

using TestHelpers::child;
using TestHelpers::writeFile;

// The setup screen. Runs in the sandbox, offscreen, with settings in a temporary place.
class MainWindowTest final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void controlsFollowModeSourcesAndOption_data();
    void controlsFollowModeSourcesAndOption();
    void sourceDialogAcceptsOnlyFittingText_data();
    void sourceDialogAcceptsOnlyFittingText();
    void sourcesAreAddedChangedAndRemoved();
    void sourcesListAtTheKeyboard();
    void informationPanel_data();
    void informationPanel();
    void settingsSurviveARestart();
    void wrongOrMissingSettingsFallBack();
    void latestKernelForcedByItsPackage();
    void contextMenuOnlyWithACurrentSource();

private:
    std::unique_ptr<MainWindow> makeWindow(const Settings& settings = {});
    // Fills in the source dialog once it is up and presses OK or Cancel; gives up after 5 s.
    // focusedText, when given, receives the text of the field that had the focus.
    void answerSourceDialog(const QString& text, bool accept, QString* focusedText = nullptr);

    FakeExecutables m_fakes;
    QTemporaryDir m_config;
    QTemporaryDir m_images;
};

void MainWindowTest::initTestCase()
{
    QVERIFY2(
        QFile::exists(QStringLiteral("/run/kiv-sandbox/layers_boot")), "the test must run in the sandbox");
    kivInit("0.1.32", "Kiv norvo update");
    QCoreApplication::setApplicationName(QStringLiteral("kiv-norvo-update"));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_config.path());
    for (const char* name : {"dpkg-query", "lsb_release", "df", "norvo-update", "systemctl", "lvs"})
        m_fakes.add(QString::fromLatin1(name));
    m_fakes.activate();
}

void MainWindowTest::init()
{
    m_fakes.reset();
    m_fakes.setScenario(QStringLiteral("df"), ext4Root);
    m_fakes.setScenario(QStringLiteral("dpkg-query"), QStringLiteral("exit 1\n"));
    m_fakes.setScenario(QStringLiteral("lsb_release"), QStringLiteral("out Release:\\t1.7.5\\n\n"));
    QSettings().clear();
}

void MainWindowTest::cleanup()
{
    QSettings().clear();
}

std::unique_ptr<MainWindow> MainWindowTest::makeWindow(const Settings& settings)
{
    auto window = TestHelpers::makeWindow(settings);
    QTest::qWait(20); // the start-up check scheduled by the constructor
    return window;
}

void MainWindowTest::controlsFollowModeSourcesAndOption_data()
{
    QTest::addColumn<bool>("expert");
    QTest::addColumn<QStringList>("sources");
    QTest::addColumn<bool>("useRepo");
    QTest::addColumn<int>("currentRow");
    // options and Imitate shown, Update's text, launch, list, add, remove, change, checksum boxes
    QTest::addColumn<QString>("expected");

    const QStringList images {"/srv/a.iso", "ftp://mirror.example/b.iso"};
    const QStringList ftpOnly {"ftp://mirror.example/a", "ftp://mirror.example/b"};
    QTest::newRow("first start: simple, nothing to launch")
        << false << QStringList() << false << -1 << "hidden|Check and update system|off|on|on|off|off|off";
    QTest::newRow("simple with sources")
        << false << images << false << -1 << "hidden|Check and update system|on|on|on|off|off|on";
    QTest::newRow("simple, a source current")
        << false << images << false << 1 << "hidden|Check and update system|on|on|on|on|on|on";
    QTest::newRow("simple ignores the option, but not for the checksum boxes")
        << false << images << true << 0 << "hidden|Check and update system|on|on|on|on|on|off";
    QTest::newRow("expert, no sources")
        << true << QStringList() << false << -1 << "shown|Update|off|on|on|off|off|off";
    QTest::newRow("expert, system repositories, no sources")
        << true << QStringList() << true << -1 << "shown|Update|on|off|off|off|off|off";
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
    auto window = makeWindow({{"ExpertMode", expert}, {"Sources", sources}});
    auto* list = child<QListWidget>(window.get(), "m_sourcesListWidget");
    if (currentRow >= 0)
        list->setCurrentRow(currentRow);
    child<QCheckBox>(window.get(), "m_useRepoCheckBox")->setChecked(useRepo);
    const auto state
        = [](QWidget* widget) { return widget->isEnabled() ? QStringLiteral("on") : QStringLiteral("off"); };
    auto* update = child<QPushButton>(window.get(), "m_updatePushButton");
    auto* imitate = child<QPushButton>(window.get(), "m_imitatePushButton");
    const bool optionsShown = child<QGroupBox>(window.get(), "m_optionsGroupBox")->isVisible();
    QCOMPARE(imitate->isVisible(), optionsShown);
    QCOMPARE(imitate->isEnabled(), update->isEnabled());
    const QStringList seen {
        optionsShown ? "shown" : "hidden",
        update->text(),
        state(update),
        state(list),
        state(child<QToolButton>(window.get(), "m_addSourceToolButton")),
        state(child<QToolButton>(window.get(), "m_removeSourceToolButton")),
        state(child<QToolButton>(window.get(), "m_changeSourceToolButton")),
        state(child<QCheckBox>(window.get(), "m_md5CheckBox")),
    };
    QCOMPARE(seen.join(QLatin1Char('|')), expected);
    QCOMPARE(child<QCheckBox>(window.get(), "m_gostCheckBox")->isEnabled(),
        expected.endsWith(QLatin1String("on")));
    QCOMPARE(child<QCheckBox>(window.get(), "m_keepSrcCheckBox")->isEnabled(),
        expected.endsWith(QLatin1String("on")));
    QCOMPARE(child<QPushButton>(window.get(), "m_expertModePushButton")->text(),
        expert ? QStringLiteral("Simple mode") : QStringLiteral("Expert mode"));
}

void MainWindowTest::sourceDialogAcceptsOnlyFittingText_data()
{
    QTest::addColumn<QString>("initial"); // null: a new source
    QTest::addColumn<bool>("network"); // switch to the network kind before OK
    QTest::addColumn<QString>("typed"); // null: keep the text
    QTest::addColumn<QString>("warning"); // null: accepted

    const QString notIso = QStringLiteral("The source is not ISO image. Enter the correct source.");
    const QString notNetwork
        = QStringLiteral("The source is not a network address. Enter the correct source.");
    QTest::newRow("image path") << QString() << false << "/media/cdrom/update.iso" << QString();
    QTest::newRow("capital extension") << QString() << false << "/media/cdrom/update.ISO" << notIso;
    QTest::newRow("extension alone") << QString() << false << ".iso" << notIso;
    QTest::newRow("blank inside a path") << QString() << false << "/srv/my update.iso" << notIso;
    QTest::newRow("blanks around are dropped") << QString() << false << "  /srv/update.iso  " << QString();
    QTest::newRow("file address") << QString() << true << "file:///srv/repo" << QString();
    QTest::newRow("capital scheme") << QString() << true << "HTTP://mirror.example/repo" << notNetwork;
    QTest::newRow("blank inside an address")
        << QString() << true << "http://mirror.example/my repo" << notNetwork;
    QTest::newRow("path kept when switching to network")
        << QString() << true << "/srv/update.iso" << notNetwork;
    QTest::newRow("ftp image opens as an image and is accepted")
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
    std::unique_ptr<SourceDialog> dialog
        = initial.isNull() ? std::make_unique<SourceDialog>() : std::make_unique<SourceDialog>(initial);
    auto* iso = child<QRadioButton>(dialog.get(), "m_isoRadioButton");
    auto* line = child<QLineEdit>(dialog.get(), "m_sourceLineEdit");
    auto* browse = child<QToolButton>(dialog.get(), "m_browseToolButton");
    dialog->show();
    if (!initial.isNull())
        QCOMPARE(iso->isChecked(), initial.endsWith(QLatin1String(".iso")));
    if (!typed.isNull())
        line->setText(typed);
    if (network)
        child<QRadioButton>(dialog.get(), "m_netRadioButton")->setChecked(true);
    QCOMPARE(browse->isVisible(), iso->isChecked());
    QCOMPARE(line->placeholderText(),
        iso->isChecked() ? QStringLiteral("Specify the path to the ISO image")
                         : QStringLiteral("Specify a link to the network repository"));

    ModalBoxAnswerer answerer(QStringLiteral("OK"), warning.isNull() ? 300 : 5000);
    dialog->accept();
    if (warning.isNull()) {
        QCOMPARE(dialog->result(), int(QDialog::Accepted));
        QCOMPARE(dialog->source(), (typed.isNull() ? initial : typed).trimmed());
        QVERIFY(!answerer.waitAnswered());
    } else {
        QVERIFY2(answerer.waitAnswered(), qPrintable(answerer.problem()));
        QCOMPARE(answerer.box().title, QString());
        QCOMPARE(answerer.box().text, warning);
        QCOMPARE(answerer.box().buttons, QStringList {"OK"});
        QVERIFY(dialog->isVisible());
        QCOMPARE(line->text(), typed);
    }
}

void MainWindowTest::answerSourceDialog(const QString& text, bool accept, QString* focusedText)
{
    if (focusedText)
        *focusedText = QStringLiteral("(no dialog)");
    auto* poll = new QTimer(this);
    auto* waited = new QElapsedTimer;
    waited->start();
    connect(poll, &QTimer::timeout, poll, [=]() {
        auto* dialog = qobject_cast<SourceDialog*>(QApplication::activeModalWidget());
        if (!dialog && !waited->hasExpired(5000))
            return;
        poll->deleteLater();
        delete waited;
        if (!dialog)
            return;
        if (focusedText) {
            auto* edit = qobject_cast<QLineEdit*>(dialog->focusWidget());
            *focusedText = edit ? edit->text() : QStringLiteral("(no text field focused)");
        }
        child<QLineEdit>(dialog, "m_sourceLineEdit")->setText(text);
        auto* buttons = child<QDialogButtonBox>(dialog, "buttonBox");
        buttons->button(accept ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel)->click();
    });
    poll->start(20);
}

void MainWindowTest::sourcesAreAddedChangedAndRemoved()
{
    auto window = makeWindow({{"ExpertMode", true}, {"Md5Check", true}});
    auto* list = child<QListWidget>(window.get(), "m_sourcesListWidget");
    auto* update = child<QPushButton>(window.get(), "m_updatePushButton");
    QVERIFY(!update->isEnabled());
    answerSourceDialog(QStringLiteral("ftp://mirror.example/cd.iso"), true);
    child<QToolButton>(window.get(), "m_addSourceToolButton")->click();
    QCOMPARE(list->count(), 1);
    QVERIFY(update->isEnabled());
    QVERIFY(!child<QCheckBox>(window.get(), "m_md5CheckBox")->isEnabled());
    answerSourceDialog(QStringLiteral("/srv/update.iso"), false);
    child<QToolButton>(window.get(), "m_addSourceToolButton")->click();
    QCOMPARE(list->count(), 1);

    // Changing keeps the row and re-enables the checksum options for an image.
    list->setCurrentRow(0);
    answerSourceDialog(QStringLiteral("/srv/update.iso"), true);
    child<QToolButton>(window.get(), "m_changeSourceToolButton")->click();
    QCOMPARE(list->item(0)->text(), QStringLiteral("/srv/update.iso"));
    QVERIFY(child<QCheckBox>(window.get(), "m_md5CheckBox")->isEnabled());
    QVERIFY(child<QCheckBox>(window.get(), "m_md5CheckBox")->isChecked());

    for (const char* answer : {"No", "Yes"}) {
        ModalBoxAnswerer answerer(QString::fromLatin1(answer));
        child<QToolButton>(window.get(), "m_removeSourceToolButton")->click();
        QVERIFY2(answerer.waitAnswered(), qPrintable(answerer.problem()));
        QCOMPARE(answerer.box().title, QStringLiteral("Remove confirmation"));
        QCOMPARE(answerer.box().text, QStringLiteral("Do you want to remove source?"));
        QCOMPARE(answerer.box().buttons, (QStringList {"Yes", "No"}));
    }
    QCOMPARE(list->count(), 0);
    QVERIFY(!update->isEnabled());
}

void MainWindowTest::sourcesListAtTheKeyboard()
{
    auto window = makeWindow({{"ExpertMode", true}});
    auto* list = child<QListWidget>(window.get(), "m_sourcesListWidget");
    QString focusedText;
    for (const char* source : {"/srv/a.iso", "/srv/b.iso", "/srv/c.iso"}) {
        answerSourceDialog(QString::fromLatin1(source), true, &focusedText);
        child<QToolButton>(window.get(), "m_addSourceToolButton")->click();
        QCOMPARE(focusedText, QString());
    }
    // The source just added is the current one, so the next action is on it.
    QCOMPARE(list->currentRow(), 2);
    QVERIFY(list->currentItem()->isSelected());

    // Return changes the current source; the dialog opens on its text.
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    list->setFocus();
    answerSourceDialog(QStringLiteral("/srv/b2.iso"), true, &focusedText);
    list->setCurrentRow(1);
    QTest::keyClick(list, Qt::Key_Return);
    QCOMPARE(focusedText, QStringLiteral("/srv/b.iso"));
    QCOMPARE(list->item(1)->text(), QStringLiteral("/srv/b2.iso"));
    QCOMPARE(list->currentRow(), 1);

    // Delete asks, naming the source, like the button.
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    list->setFocus();
    {
        ModalBoxAnswerer answer(QStringLiteral("Yes"));
        QTest::keyClick(list, Qt::Key_Delete);
        QVERIFY2(answer.waitAnswered(), qPrintable(answer.problem()));
        QCOMPARE(answer.box().text, QStringLiteral("Do you want to remove source?"));
        QCOMPARE(answer.box().informativeText, QStringLiteral("/srv/b2.iso"));
    }
    QCOMPARE(list->count(), 2);
    QCOMPARE(list->item(1)->text(), QStringLiteral("/srv/c.iso"));

    // Without their icons the buttons still say what they do.
    for (const char* button :
        {"m_addSourceToolButton", "m_removeSourceToolButton", "m_changeSourceToolButton"})
        QVERIFY2(!child<QToolButton>(window.get(), button)->accessibleName().isEmpty()
                && !child<QToolButton>(window.get(), button)->text().isEmpty(),
            button);
}

void MainWindowTest::informationPanel_data()
{
    QTest::addColumn<QByteArray>("mode");
    QTest::addColumn<QByteArray>("updateFile"); // empty: no file
    QTest::addColumn<QString>("available");
    QTest::addColumn<QString>("text");

    QTest::newRow("maximum level, update installed")
        << QByteArray("2\n") << QByteArray("Update 1.2.3\nBulletin 45\n") << "15G"
        << "Norvo Linux 1.7.5\nMaximum security level, «Kaldemor»\nUpdate 1.2.3 installed (BULLETIN № 45)\n"
           "Available memory size: 15 G (root partition)";
    QTest::newRow("advanced level, no update file")
        << QByteArray("1\n") << QByteArray() << "900M"
        << "Norvo Linux 1.7.5\nAdvanced security level, «Brisvan»\n"
           "Available memory size: 900 M (root partition)";
    QTest::newRow("unknown level is base, no bulletin")
        << QByteArray("5\n") << QByteArray("Update 1.2.4\nno number\n") << "512"
        << "Norvo Linux 1.7.5\nBase security level, «Ulmet»\n"
           "Update 1.2.4 installed (BULLETIN № )\n"
           "Available memory size: 512 (root partition)";
}

void MainWindowTest::informationPanel()
{
    QFETCH(QByteArray, mode);
    QFETCH(QByteArray, updateFile);
    QFETCH(QString, available);
    QFETCH(QString, text);
    writeFile(QStringLiteral("/etc/norvo_security_level"), mode);
    QFile::remove(QStringLiteral("/etc/norvo_update_version"));
    if (!updateFile.isEmpty())
        writeFile(QStringLiteral("/etc/norvo_update_version"), updateFile);
    m_fakes.setScenario(QStringLiteral("df"), QString(ext4Root).replace(QLatin1String("15G"), available));
    auto window = makeWindow();
    QCOMPARE(child<QLabel>(window.get(), "m_sysInfoLabel")->text(), text);
    QCOMPARE(m_fakes.calls(QStringLiteral("lsb_release")).value(0), QStringList {"-r"});
}

void MainWindowTest::settingsSurviveARestart()
{
    const QStringList sources {"/srv/b.iso", "ftp://mirror.example/a", "/srv/b.iso"};
    {
        auto window = makeWindow({{"ExpertMode", true}});
        auto* list = child<QListWidget>(window.get(), "m_sourcesListWidget");
        list->addItems(sources);
        for (const char* box : {"m_appAutoupdateCheckBox", "m_keepSrcCheckBox", "m_md5CheckBox",
                 "m_noMainRepoCheckBox", "m_latestKernelCheckBox"})
            child<QCheckBox>(window.get(), box)->setChecked(QByteArray(box) != "m_appAutoupdateCheckBox");
        window->resize(700, window->height());
        QTest::qWait(50);
    }
    QSettings stored;
    QCOMPARE(stored.value(QStringLiteral("Sources")).toStringList(), sources);
    QCOMPARE(stored.value(QStringLiteral("ExpertMode")).toBool(), true);
    QCOMPARE(stored.value(QStringLiteral("IsCrashed")).toBool(), false);
    // Every option under its own key, as other versions of the program read them.
    const QStringList on {"KeepSrc", "Md5Check", "NoMainRepo", "LatestKernel"};
    for (const char* key : {"UseRepo", "KeepSrc", "GostCheck", "Md5Check", "Snapshot", "AutoUpdate",
             "NoMainRepo", "LatestKernel"}) {
        QVERIFY2(stored.contains(QLatin1String(key)), key);
        QCOMPARE(stored.value(QLatin1String(key)).toBool(), on.contains(QLatin1String(key)));
    }
    const int setupWidth = stored.value(QStringLiteral("SetupWidth")).toInt();
    QVERIFY2(setupWidth > 600, qPrintable(QString::number(setupWidth)));

    // A new window reads the same state, and keeps the width start after start.
    for (int start = 0; start < 3; ++start) {
        QSettings unchanged;
        Settings all;
        for (const QString& key : unchanged.allKeys())
            all.insert(key, unchanged.value(key));
        auto window = makeWindow(all);
        auto* list = child<QListWidget>(window.get(), "m_sourcesListWidget");
        QCOMPARE(list->count(), 3);
        QCOMPARE(list->item(2)->text(), QStringLiteral("/srv/b.iso"));
        QVERIFY(child<QGroupBox>(window.get(), "m_optionsGroupBox")->isVisible());
        QVERIFY(!child<QCheckBox>(window.get(), "m_appAutoupdateCheckBox")->isChecked());
        QVERIFY(child<QCheckBox>(window.get(), "m_latestKernelCheckBox")->isChecked());
        QTest::qWait(50);
    }
    QCOMPARE(QSettings().value(QStringLiteral("SetupWidth")).toInt(), setupWidth);
}

void MainWindowTest::wrongOrMissingSettingsFallBack()
{
    auto window = makeWindow({{"ExpertMode", QStringLiteral("0")}, {"AutoUpdate", 0},
        {"UseRepo", QStringLiteral("yes")}, {"SetupWidth", QStringLiteral("wide")}});
    // Values convert as QVariant converts them: "0" and 0 read as false, "yes" as true, "wide" as
    // no width, which gives the narrowest window.
    QVERIFY(!child<QGroupBox>(window.get(), "m_optionsGroupBox")->isVisible());
    QVERIFY(!child<QCheckBox>(window.get(), "m_appAutoupdateCheckBox")->isChecked());
    QVERIFY(child<QCheckBox>(window.get(), "m_useRepoCheckBox")->isChecked());
    QVERIFY(!child<QCheckBox>(window.get(), "m_md5CheckBox")->isEnabled());
    QCOMPARE(window->width(), window->minimumSizeHint().width());
}

void MainWindowTest::latestKernelForcedByItsPackage()
{
    m_fakes.setScenario(QStringLiteral("dpkg-query"), QStringLiteral("out ii \\tlinux-latest\\t6.1\\n\n"));
    auto window = makeWindow({{"LatestKernel", false}});
    auto* box = child<QCheckBox>(window.get(), "m_latestKernelCheckBox");
    QVERIFY(box->isChecked());
    QVERIFY(!box->isEnabled());
    QCOMPARE(box->toolTip(),
        QStringLiteral(
            "If you don't want to install the latest kernel,\nremove the \"linux-latest\" package manually."));
    window.reset();
    QCOMPARE(QSettings().value(QStringLiteral("LatestKernel")).toBool(), true);
}

void MainWindowTest::contextMenuOnlyWithACurrentSource()
{
    auto window = makeWindow({{"Sources", QStringList {"/srv/a.iso"}}});
    bool menuShown = false;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&menuShown]() {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            menuShown = true;
            QCOMPARE(menu->actions().size(), 2);
            QCOMPARE(menu->actions().at(0)->text(), QStringLiteral("Change source..."));
            QCOMPARE(menu->actions().at(1)->text(), QStringLiteral("Remove source"));
            menu->close();
        }
    });
    poll.start(20);
    QMetaObject::invokeMethod(window.get(), "contextMenuRequested", Q_ARG(QPoint, QPoint(5, 5)));
    QVERIFY(!menuShown);
    child<QListWidget>(window.get(), "m_sourcesListWidget")->setCurrentRow(0);
    QMetaObject::invokeMethod(window.get(), "contextMenuRequested", Q_ARG(QPoint, QPoint(5, 5)));
    QVERIFY(menuShown);
}

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
