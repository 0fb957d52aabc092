#include <csignal>
#include <memory>

#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "fakeexecutables.h"
#include "kivintegration.h"
#include "lvmsnapshot.h"
#include "mainwindow.h"
#include "modalboxanswerer.h"
#include "testhelpers.h"

using Commands = QList<NorvoUpdate::Commands>;
using Settings = QVariantMap;

namespace {

const QString noVolume
    = QStringLiteral("err   Failed to find logical volume \"vg0/lvsnap-kiv-norvo-update\"\\n\nexit 5\n");
const QString lvmRoot = TestHelpers::dfRoot(QStringLiteral("/dev/mapper/vg0-root"), QStringLiteral("xfs"));
const QString ext4Root = TestHelpers::dfRoot(QStringLiteral("/dev/sda1"), QStringLiteral("ext4"));
const QString confirmation = QStringLiteral(
    "The next actions will be performed:\n1. Check update sources.\n2. Check possibility of update system.\n"
    "3. Save system snapshot (optional).\n4. System update.\n\nIt is advisable to save all critical information on "
    "an external medium!\nDo you want to continue?");

} // namespace

using TestHelpers::child;
using TestHelpers::makeWindow;
using TestHelpers::writeCompleteDump;
using TestHelpers::writeFile;

// Launching a run and what follows from its outcomes. Runs in the sandbox, offscreen, with a
// scripted update tool; message boxes are answered by the modal-box answerer.
class LaunchTest final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void queueFollowsModeTriggerAndOptions_data();
    void queueFollowsModeTriggerAndOptions();
    void argumentsFollowOptions_data();
    void argumentsFollowOptions();
    void versionOfTheSourcesIsChecked_data();
    void versionOfTheSourcesIsChecked();
    void aLaunchThatGoesNoFurtherLeavesNothingBehind_data();
    void aLaunchThatGoesNoFurtherLeavesNothingBehind();
    void successTellsWhatWasInstalled_data();
    void successTellsWhatWasInstalled();
    void runOutcomesProtectTheSnapshot_data();
    void runOutcomesProtectTheSnapshot();
    void failedSnapshotAsksToGoOn_data();
    void failedSnapshotAsksToGoOn();
    void newVersionRecordsWhatRemains_data();
    void newVersionRecordsWhatRemains();
    void restoreOfferedAfterARunThatNeverEnded_data();
    void restoreOfferedAfterARunThatNeverEnded();
    void dpkgErrorStopsTheTool();
    void closeRefusedWhileTheToolRuns();
    void closeRefusedDuringTheSnapshotStep();

private:
    static Commands queueOf(MainWindow* window);
    static NorvoUpdate* runner(MainWindow* window) { return window->findChild<NorvoUpdate*>(); }
    static void launch(MainWindow* window, const QString& button);
    static QString logText(MainWindow* window);

    FakeExecutables m_fakes;
    QTemporaryDir m_config;
};

void LaunchTest::initTestCase()
{
    QVERIFY2(
        QFile::exists(QStringLiteral("/run/kiv-sandbox/layers_boot")), "the test must run in the sandbox");
    kivInit("0.1.32", "Kiv norvo update");
    QCoreApplication::setApplicationName(QStringLiteral("kiv-norvo-update"));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_config.path());
    for (const char* name : {"norvo-update", "dpkg-query", "systemctl", "df", "lsb_release", "lvs",
             "lvcreate", "lvremove", "lvconvert", "umount", "tar", "reboot", "bash", "xfsrestore"})
        m_fakes.add(QString::fromLatin1(name));
    for (const char* path : {"/usr/sbin/space_calculator", "/usr/sbin/norvo-update-ctl"}) {
        QFile::remove(QString::fromLatin1(path));
        QVERIFY(QFile::copy(FakeExecutables::fakeProgramPath(), QString::fromLatin1(path)));
    }
    m_fakes.activate();
}

void LaunchTest::init()
{
    m_fakes.reset();
    m_fakes.setScenario(QStringLiteral("df"), ext4Root);
    m_fakes.setScenario(QStringLiteral("dpkg-query"), QStringLiteral("exit 1\n"));
    m_fakes.setScenario(QStringLiteral("dpkg-query@kiv-norvo-update"),
        QStringLiteral("out ii \\tkiv-norvo-update\\t0.1.32\\n\n"));
    m_fakes.setScenario(QStringLiteral("norvo-update"), QStringLiteral("hang\n"));
    // The switches around the application's own update end at once.
    m_fakes.setScenario(QStringLiteral("norvo-update@-d"), QStringLiteral("exit 0\n"));
    m_fakes.setScenario(QStringLiteral("norvo-update@-e"), QStringLiteral("exit 0\n"));
    // As the real lvs answers for a volume that is not there.
    m_fakes.setScenario(QStringLiteral("lvs"), noVolume);
    writeFile(QStringLiteral("/etc/norvo_version"), "1.7.3\n");
    for (const char* path :
        {"/etc/norvo_update_version", "/var/tmp/xfssnap-kiv-norvo-update.bin", "/var/tmp/boot_snap.tar.bz2"})
        QFile::remove(QString::fromLatin1(path));
}

void LaunchTest::cleanup()
{
    // A reboot or a restart ends the event loop, and after that every modal box would return at
    // once; running the application's loop once clears that.
    QTimer::singleShot(0, qApp, []() { QCoreApplication::exit(0); });
    QCoreApplication::exec();
}

Commands LaunchTest::queueOf(MainWindow* window)
{
    // The snapshot step leaves the queue as soon as it is dispatched.
    Commands queue = runner(window)->commands();
    if (runner(window)->currentCommand() == NorvoUpdate::CreateSnapshot)
        queue.prepend(NorvoUpdate::CreateSnapshot);
    return queue;
}

void LaunchTest::launch(MainWindow* window, const QString& button)
{
    child<QPushButton>(
        window, button == QLatin1String("Imitate") ? "m_imitatePushButton" : "m_updatePushButton")
        ->click();
}

QString LaunchTest::logText(MainWindow* window)
{
    return window->findChild<QPlainTextEdit*>(QStringLiteral("m_logTextEdit"))->toPlainText();
}

void LaunchTest::queueFollowsModeTriggerAndOptions_data()
{
    QTest::addColumn<bool>("expert");
    QTest::addColumn<QString>("trigger"); // Imitate, Update, or restart (the start after a self-update)
    QTest::addColumn<int>("restartMode");
    QTest::addColumn<bool>("autoupdate");
    QTest::addColumn<bool>("snapshot"); // a root file system that allows one
    QTest::addColumn<bool>("snapChecked");
    QTest::addColumn<Commands>("queue");

    using N = NorvoUpdate;
    QTest::newRow("simple, Update") << false << "Update" << 0 << false << false << false
                                    << Commands {N::ProgramUpdate, N::Imitation, N::Update};
    QTest::newRow("simple, Update, snapshot whatever the box says")
        << false << "Update" << 0 << false << true << false
        << Commands {N::ProgramUpdate, N::Imitation, N::CreateSnapshot, N::Update};
    QTest::newRow("simple, continuation") << false << "restart" << 3 << true << true << true
                                          << Commands {N::Imitation, N::CreateSnapshot, N::Update};
    QTest::newRow("expert, Imitate with autoupdate") << true << "Imitate" << 0 << true << true << true
                                                     << Commands {N::ProgramUpdateImitation, N::Imitation};
    QTest::newRow("expert, Imitate without autoupdate")
        << true << "Imitate" << 0 << false << false << false << Commands {N::Imitation};
    QTest::newRow("expert, Imitate after a restart with an update left")
        << true << "Imitate" << 2 << true << false << false << Commands {N::Imitation, N::Update};
    QTest::newRow("expert, Update with everything")
        << true << "Update" << 0 << true << true << true
        << Commands {N::ProgramUpdate, N::CreateSnapshot, N::Update};
    QTest::newRow("expert, Update, snapshot box off")
        << true << "Update" << 0 << false << true << false << Commands {N::Update};
    QTest::newRow("expert, Update, no snapshot possible")
        << true << "Update" << 0 << false << false << true << Commands {N::Update};
    QTest::newRow("expert, continuation of an update")
        << true << "restart" << 2 << true << true << true << Commands {N::CreateSnapshot, N::Update};
    QTest::newRow("expert, continuation of an imitation")
        << true << "restart" << 1 << true << true << true << Commands {N::Imitation};
    QTest::newRow("expert, continuation of both")
        << true << "restart" << 3 << true << true << true << Commands {N::Imitation, N::Update};
}

void LaunchTest::queueFollowsModeTriggerAndOptions()
{
    QFETCH(bool, expert);
    QFETCH(QString, trigger);
    QFETCH(int, restartMode);
    QFETCH(bool, autoupdate);
    QFETCH(bool, snapshot);
    QFETCH(bool, snapChecked);
    QFETCH(Commands, queue);
    if (snapshot) {
        m_fakes.setScenario(QStringLiteral("df"), lvmRoot);
        // Long enough to read the queue while the snapshot is being taken; the worker thread
        // must be free again when the window goes.
        m_fakes.setScenario(QStringLiteral("tar"), QStringLiteral("sleep 4\n"));
    }
    const bool restart = trigger == QLatin1String("restart");
    // With Imitate pressed the restart mode is read too; a restart launches by itself.
    ModalBoxAnswerer confirm(
        QStringLiteral("Yes"), restart || trigger == QLatin1String("Imitate") ? 1500 : 5000);
    // A restart mode found at start launches at once; pressed with one still set, a button
    // continues the run too.
    auto window = makeWindow({{"ExpertMode", expert}, {"AutoUpdate", autoupdate}, {"Snapshot", snapChecked},
        {"Sources", QStringList {"/srv/a.iso"}}, {"RestartMode", restart ? restartMode : 0}});
    if (!restart) {
        QSettings().setValue(QStringLiteral("RestartMode"), restartMode);
        launch(window.get(), trigger);
    }
    QTRY_VERIFY(runner(window.get())->isRunning()
        || runner(window.get())->currentCommand() == NorvoUpdate::CreateSnapshot);
    if (trigger == QLatin1String("Update")) {
        QVERIFY2(confirm.waitAnswered(), qPrintable(confirm.problem()));
        QCOMPARE(confirm.box().title, QStringLiteral("Update confirmation"));
        QCOMPARE(confirm.box().text, confirmation);
        QCOMPARE(confirm.box().buttons, (QStringList {"Yes", "No"}));
    } else {
        QVERIFY2(!confirm.waitAnswered(), "no confirmation is asked for an imitation or a continuation");
    }
    QCOMPARE(queueOf(window.get()), queue);
    QCOMPARE(QSettings().value(QStringLiteral("RestartMode")).toInt(), 0);
    QCOMPARE(QSettings().value(QStringLiteral("IsCrashed")).toBool(), true);
    // A run is not ended by a termination signal: the window ignores them while it lasts.
    struct sigaction termination = {};
    ::sigaction(SIGTERM, nullptr, &termination);
    QVERIFY(termination.sa_handler == SIG_IGN);
    // Simple mode shows the log alone; expert mode beside the disabled setup panel.
    QCOMPARE(child<QWidget>(window.get(), "m_setupWidget")->isVisible(), expert);
    QCOMPARE(child<QWidget>(window.get(), "m_setupWidget")->isEnabled(), !expert);
    runner(window.get())->stop();
}

void LaunchTest::argumentsFollowOptions_data()
{
    QTest::addColumn<bool>("expert");
    QTest::addColumn<QStringList>("sources");
    QTest::addColumn<QStringList>("checked");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<bool>("linuxLatest");
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("expert example: GOST and latest kernel")
        << true << QStringList {"/srv/a.iso", "/srv/b.iso"}
        << QStringList {"m_gostCheckBox", "m_latestKernelCheckBox"} << QStringList() << false
        << QStringList {"-A", "-K", "-g", "/srv/a.iso", "/srv/b.iso"};
    QTest::newRow("expert, no main repository only")
        << true << QStringList {"/srv/a.iso", "/srv/b.iso"} << QStringList {"m_noMainRepoCheckBox"}
        << QStringList() << false << QStringList {"-A", "-T", "/srv/a.iso", "/srv/b.iso"};
    QTest::newRow("expert, system repositories, sources left out")
        << true << QStringList {"/srv/a.iso"}
        << QStringList {"m_useRepoCheckBox", "m_md5CheckBox", "m_keepSrcCheckBox"} << QStringList() << false
        << QStringList {"-A", "-r"};
    QTest::newRow("expert, ftp sources only: no -k, -g, -m")
        << true << QStringList {"ftp://mirror.example/a"}
        << QStringList {"m_keepSrcCheckBox", "m_gostCheckBox", "m_md5CheckBox"} << QStringList() << false
        << QStringList {"-A", "ftp://mirror.example/a"};
    QTest::newRow("expert, latest kernel forced by its package: no -K")
        << true << QStringList {"/srv/a.iso"} << QStringList {"m_latestKernelCheckBox", "m_keepSrcCheckBox"}
        << QStringList() << true << QStringList {"-A", "-k", "/srv/a.iso"};
    QTest::newRow("simple, checksum files beside every image")
        << false << QStringList {"{DIR}/a.iso", "{DIR}/b.iso", "ftp://mirror.example/c"}
        << QStringList {"m_noMainRepoCheckBox", "m_keepSrcCheckBox"}
        << QStringList {"a.iso.md5", "b.md5", "a.gost"} << false
        << QStringList {"-A", "-m", "{DIR}/a.iso", "{DIR}/b.iso", "ftp://mirror.example/c"};
    QTest::newRow("simple, the same image twice")
        << false << QStringList {"{DIR}/a.iso", "{DIR}/a.iso"} << QStringList()
        << QStringList {"a.iso.gost", "a.iso.md5"} << false
        << QStringList {"-A", "-g", "-m", "{DIR}/a.iso", "{DIR}/a.iso"};
}

void LaunchTest::argumentsFollowOptions()
{
    QFETCH(bool, expert);
    QFETCH(QStringList, sources);
    QFETCH(QStringList, checked);
    QFETCH(QStringList, files);
    QFETCH(bool, linuxLatest);
    QFETCH(QStringList, arguments);
    QTemporaryDir directory;
    for (const QString& file : files)
        writeFile(directory.filePath(file), "sum\n");
    sources.replaceInStrings(QStringLiteral("{DIR}"), directory.path());
    arguments.replaceInStrings(QStringLiteral("{DIR}"), directory.path());
    if (linuxLatest)
        m_fakes.setScenario(
            QStringLiteral("dpkg-query@linux-latest"), QStringLiteral("out ii \\tlinux-latest\\t6.1\\n\n"));
    auto window = makeWindow({{"ExpertMode", expert}, {"Sources", sources}, {"AutoUpdate", false}});
    for (const QString& box : checked)
        child<QCheckBox>(window.get(), box.toLatin1().constData())->setChecked(true);

    // What the tool is given: in expert mode (no autoupdate here) the list as it is for the
    // update; in simple mode the application's own update comes first, without "-A", and the
    // imitation after it.
    m_fakes.setScenario(QStringLiteral("norvo-update@kiv-norvo-update"), QStringLiteral("exit 0\n"));
    ModalBoxAnswerer confirm(QStringLiteral("Yes"));
    launch(window.get(), QStringLiteral("Update"));
    if (expert) {
        QTRY_COMPARE(m_fakes.calls(QStringLiteral("norvo-update")).value(0), arguments);
    } else {
        const QStringList application
            = arguments.mid(1) + QStringList {QStringLiteral("-p"), QStringLiteral("kiv-norvo-update")};
        QTRY_COMPARE(m_fakes.calls(QStringLiteral("norvo-update")).value(1), application);
        QTRY_COMPARE(m_fakes.calls(QStringLiteral("norvo-update")).value(3),
            arguments + QStringList {QStringLiteral("-n")});
    }
    runner(window.get())->stop();
}

void LaunchTest::versionOfTheSourcesIsChecked_data()
{
    QTest::addColumn<QByteArray>("version");
    QTest::addColumn<QStringList>("sources");
    QTest::addColumn<QString>("answer"); // null: no question
    QTest::addColumn<bool>("launched");

    QTest::newRow("matching image name")
        << QByteArray("1.7.3\n") << QStringList {"/srv/norvo-1.7.3.iso"} << QString() << true;
    QTest::newRow("foreign image name, declined")
        << QByteArray("1.7.3\n") << QStringList {"/srv/norvo-1.8.1.iso"} << "No" << false;
    QTest::newRow("two foreign sources, one question, accepted")
        << QByteArray("1.7.3\n") << QStringList {"http://mirror.example/1.8/", "/srv/norvo-1.9.0.iso"}
        << "Yes" << true;
    QTest::newRow("version path element with suffix")
        << QByteArray(" 1.7.5 \n") << QStringList {"http://mirror.example/1.6_devel/"} << "No" << false;
    QTest::newRow("no version in the source")
        << QByteArray("1.7.3\n") << QStringList {"/srv/update.iso"} << QString() << true;
    QTest::newRow("installed version unknown: no question")
        << QByteArray("") << QStringList {"/srv/norvo-1.8.1.iso"} << QString() << true;
    QTest::newRow("version without a minor number: no question")
        << QByteArray("2\n") << QStringList {"/srv/norvo-1.8.1.iso"} << QString() << true;
}

void LaunchTest::versionOfTheSourcesIsChecked()
{
    QFETCH(QByteArray, version);
    QFETCH(QStringList, sources);
    QFETCH(QString, answer);
    QFETCH(bool, launched);
    if (version.isEmpty())
        QFile::remove(QStringLiteral("/etc/norvo_version"));
    else
        writeFile(QStringLiteral("/etc/norvo_version"), version);
    auto window = makeWindow({{"ExpertMode", true}, {"Sources", sources}, {"AutoUpdate", false}});
    ModalBoxAnswerer question(answer.isNull() ? QStringLiteral("Yes") : answer, answer.isNull() ? 800 : 5000);
    launch(window.get(), QStringLiteral("Imitate"));
    QCOMPARE(question.waitAnswered(), !answer.isNull());
    if (!answer.isNull()) {
        QCOMPARE(question.box().title, QStringLiteral("Update confirmation"));
        QCOMPARE(question.box().text,
            QStringLiteral("Different versions of the latest update\nwas found in repositories,\n"
                           "but it's prohibited.\nAre you sure the sources are correct?"));
        ModalBoxAnswerer second(QStringLiteral("Yes"), 500);
        QVERIFY(!second.waitAnswered());
    }
    QTRY_COMPARE_WITH_TIMEOUT(runner(window.get())->isRunning(), launched, 3000);
    QCOMPARE(QSettings().value(QStringLiteral("IsCrashed")).toBool(), launched);
    runner(window.get())->stop();
}

void LaunchTest::aLaunchThatGoesNoFurtherLeavesNothingBehind_data()
{
    QTest::addColumn<int>("restartMode");
    QTest::addColumn<QStringList>("sources"); // empty: expert mode with the system's sources
    QTest::addColumn<QString>("declined"); // the title of the box that ends the launch
    QTest::addColumn<bool>("serviceActive");

    QTest::newRow("confirmation declined after the service was stopped")
        << 0 << QStringList {"/srv/a.iso"} << "Update confirmation" << true;
    QTest::newRow("continuation declined at the version question")
        << 3 << QStringList {"/srv/norvo-1.8.1.iso"} << "Update confirmation" << false;
    QTest::newRow("continuation with incorrect system sources")
        << 2 << QStringList {} << "Critical error" << false;
}

void LaunchTest::aLaunchThatGoesNoFurtherLeavesNothingBehind()
{
    QFETCH(int, restartMode);
    QFETCH(QStringList, sources);
    QFETCH(QString, declined);
    QFETCH(bool, serviceActive);
    if (serviceActive) {
        m_fakes.setScenario(QStringLiteral("dpkg-query@norvo-update-service"),
            QStringLiteral("out ii \\tnorvo-update-service\\t1.0\\n\n"));
        m_fakes.setScenario(QStringLiteral("systemctl"), QStringLiteral("out loaded\\n\n"), 1);
        m_fakes.setScenario(QStringLiteral("systemctl"), QStringLiteral("out active\\n\n"), 2);
    }
    // A line apt cannot read, so that the system's sources are incorrect.
    writeFile(QStringLiteral("/etc/apt/sources.list"), "deb broken\n");
    for (const QString& file : QDir(QStringLiteral("/etc/apt/sources.list.d")).entryList(QDir::Files))
        QFile::remove(QStringLiteral("/etc/apt/sources.list.d/") + file);

    ModalBoxAnswerer stopService(QStringLiteral("Yes"), serviceActive ? 5000 : 0, QStringLiteral("Warning!"));
    ModalBoxAnswerer last(
        declined == QLatin1String("Critical error") ? QStringLiteral("OK") : QStringLiteral("No"), 10000,
        declined);
    {
        // A continuation launches by itself once the window is up.
        auto window = makeWindow({{"ExpertMode", true}, {"Sources", sources}, {"UseRepo", sources.isEmpty()},
            {"AutoUpdate", false}, {"RestartMode", restartMode}});
        if (restartMode == 0)
            launch(window.get(), QStringLiteral("Update"));
        QVERIFY2(last.waitAnswered(), qPrintable(last.problem()));
        if (declined == QLatin1String("Critical error")) {
            QCOMPARE(last.box().text, QStringLiteral("Incorrect sources"));
            QVERIFY2(last.box().detailedText.contains(QLatin1String("/etc/apt/sources.list:1")),
                qPrintable(last.box().detailedText));
        }
        QTest::qWait(200);
        QVERIFY(!runner(window.get())->isRunning());
    }
    QSettings settings;
    QCOMPARE(settings.value(QStringLiteral("RestartMode")).toInt(), 0);
    QCOMPARE(settings.value(QStringLiteral("IsCrashed"), false).toBool(), false);
    // The service stopped for a run that did not happen runs again.
    QCOMPARE(m_fakes.calls(QStringLiteral("norvo-update-ctl")),
        serviceActive ? (QList<QStringList> {{"disable"}, {"enable"}}) : QList<QStringList> {});
}

void LaunchTest::successTellsWhatWasInstalled_data()
{
    QTest::addColumn<bool>("imitation");
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after");
    QTest::addColumn<bool>("serviceStopped");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("checkBox"); // "checked", "unchecked" or none
    QTest::addColumn<bool>("stoppedBeforeRestart"); // by the instance that restarted into this one
    QTest::addColumn<bool>("reboot"); // the check box is left as it is shown and OK pressed

    const QByteArray update45("Update 1.7.2\nBulletin 45\n");
    const QByteArray update46("Update 1.7.3\nBulletin 46\n");
    const QString reminder
        = QStringLiteral("\nDon't forget to enable the enable \nautomatic service if it needed.");
    QTest::newRow("a new update")
        << false << update45 << update46 << false
        << "Update is success.\nUpdate 1.7.3 installed (BULLETIN № 46)\n is installed."
        << "checked" << false << true;
    QTest::newRow("already installed") << false << update46 << update46 << false
                                       << "Update 1.7.3 installed (BULLETIN № 46)\n is already installed."
                                       << "unchecked" << false << false;
    QTest::newRow("numbers unknown") << false << QByteArray() << QByteArray() << false << "Update is success."
                                     << "unchecked" << false << false;
    QTest::newRow("imitation, service stopped")
        << true << update45 << update45 << true << "Imitation is success." + reminder << "" << false << false;
    QTest::newRow("update, service stopped")
        << false << QByteArray() << QByteArray() << true << "Update is success." + reminder << "unchecked"
        << false << false;
    QTest::newRow("update, service stopped before a self-restart")
        << false << QByteArray() << QByteArray() << false << "Update is success." + reminder << "unchecked"
        << true << false;
}

void LaunchTest::successTellsWhatWasInstalled()
{
    QFETCH(bool, imitation);
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    QFETCH(bool, serviceStopped);
    QFETCH(QString, text);
    QFETCH(QString, checkBox);
    QFETCH(bool, stoppedBeforeRestart);
    QFETCH(bool, reboot);
    if (!before.isEmpty())
        writeFile(QStringLiteral("/etc/norvo_update_version"), before);
    if (serviceStopped) {
        m_fakes.setScenario(QStringLiteral("dpkg-query@norvo-update-service"),
            QStringLiteral("out ii \\tnorvo-update-service\\t1.0\\n\n"));
        m_fakes.setScenario(QStringLiteral("systemctl"), QStringLiteral("out loaded\\n\n"), 1);
        m_fakes.setScenario(QStringLiteral("systemctl"), QStringLiteral("out active\\n\n"), 2);
    }
    // The tool installs the new update file and succeeds.
    m_fakes.setScenario(QStringLiteral("norvo-update"), QStringLiteral("exit 0\n"));
    auto window = makeWindow({{"ExpertMode", true}, {"Sources", QStringList {"/srv/a.iso"}},
        {"AutoUpdate", false}, {"ServiceStopped", stoppedBeforeRestart}});
    if (!after.isEmpty())
        writeFile(QStringLiteral("/etc/norvo_update_version"), after);
    else
        QFile::remove(QStringLiteral("/etc/norvo_update_version"));

    if (serviceStopped) {
        ModalBoxAnswerer stopService(QStringLiteral("Yes"));
        // The confirmation of an update follows the service question: answer it once that is done.
        std::unique_ptr<ModalBoxAnswerer> confirm;
        QTimer chain;
        connect(&chain, &QTimer::timeout, this, [&]() {
            if (!imitation && !confirm && stopService.answered())
                confirm = std::make_unique<ModalBoxAnswerer>(QStringLiteral("Yes"));
        });
        chain.start(10);
        launch(window.get(), imitation ? QStringLiteral("Imitate") : QStringLiteral("Update"));
        QVERIFY2(stopService.answered(),
            qPrintable(stopService.problem() + QLatin1Char('|') + m_fakes.sequence().join(QLatin1Char(' '))));
        QCOMPARE(stopService.box().title, QStringLiteral("Warning!"));
        QCOMPARE(
            m_fakes.calls(QStringLiteral("norvo-update-ctl")), QList<QStringList> {QStringList {"disable"}});
    } else {
        ModalBoxAnswerer confirm(QStringLiteral("Yes"), imitation ? 300 : 5000);
        launch(window.get(), imitation ? QStringLiteral("Imitate") : QStringLiteral("Update"));
    }
    ModalBoxAnswerer success(QStringLiteral("OK"), 10000);
    if (!reboot)
        success.setCheckBox(false);
    QVERIFY2(success.waitAnswered(), qPrintable(success.problem()));
    QTRY_COMPARE(m_fakes.calls(QStringLiteral("reboot")).size(), reboot ? 1 : 0);
    QCOMPARE(success.box().title, QStringLiteral("Kiv norvo update"));
    QCOMPARE(success.box().text, text);
    QCOMPARE(success.box().icon, QMessageBox::Information);
    QCOMPARE(success.box().checkBoxText.isEmpty(), checkBox.isEmpty());
    if (!checkBox.isEmpty()) {
        QCOMPARE(success.box().checkBoxText, QStringLiteral("Reboot system"));
        QCOMPARE(success.box().checkBoxChecked, checkBox == QLatin1String("checked"));
    }
    QTRY_VERIFY(child<QWidget>(window.get(), "m_setupWidget")->isEnabled());
    QCOMPARE(QSettings().value(QStringLiteral("IsCrashed")).toBool(), false);
    // The panel shows the state after the run.
    QCOMPARE(child<QLabel>(window.get(), "m_sysInfoLabel")->text().contains(QStringLiteral("BULLETIN № 46")),
        after.contains("46"));
}

void LaunchTest::runOutcomesProtectTheSnapshot_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("leftover"); // a complete dump of an earlier run lies there
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QString>("xfsrestore");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("reboots");
    QTest::addColumn<bool>("dumpKept");
    QTest::addColumn<bool>("offeredAgain"); // the crash marker stays for the next start

    const QString failed = QStringLiteral("The update is not success!");
    const QString offer
        = QStringLiteral(" Do you want to restore the system from a snapshot (system will be reboot)?");
    const QString fails = QStringLiteral("exit 1\n");
    const QString ok = QStringLiteral("exit 0\n");
    QTest::newRow("update succeeds: its snapshot goes")
        << "Update" << false << ok << ok << "OK"
        << "Kiv norvo update" << QStringLiteral("Update is success.") << 0 << false << false;
    QTest::newRow("imitation fails: an older dump is not offered")
        << "Imitate" << true << fails << ok << "OK"
        << "Imitation error" << failed << 0 << true << false;
    QTest::newRow("update fails: restored and rebooted")
        << "Update" << false << fails << ok << "Yes"
        << "Update error" << failed + offer << 1 << true << false;
    QTest::newRow("the restore fails: said, no reboot, offered again")
        << "Update" << false << fails << "err xfsrestore: ERROR: media error\\n\nexit 1\n"
        << "Yes"
        << "Update error" << failed + offer << 0 << true << true;
    QTest::newRow("a crash reported twice: one question, nothing removed")
        << "Update" << false << "signal SEGV\n"
        << ok << "Yes"
        << "Update error" << QStringLiteral("The update crashed!") + offer << 1 << true << false;
    QTest::newRow("No gives the snapshot up") << "Update" << false << fails << ok << "No"
                                              << "Update error" << failed + offer << 0 << false << false;
    QTest::newRow("Escape keeps it for the next start")
        << "Update" << false << fails << ok << "Escape"
        << "Update error" << failed + offer << 0 << true << true;
}

void LaunchTest::runOutcomesProtectTheSnapshot()
{
    QFETCH(QString, button);
    QFETCH(bool, leftover);
    QFETCH(QString, tool);
    QFETCH(QString, xfsrestore);
    QFETCH(QString, answer);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(int, reboots);
    QFETCH(bool, dumpKept);
    QFETCH(bool, offeredAgain);
    const bool restoreFails = xfsrestore.contains(QLatin1String("exit 1"));
    const QString dump = QStringLiteral("/var/tmp/xfssnap-kiv-norvo-update.bin");
    // An XFS root; the run's snapshot step writes the dump as xfsdump would.
    m_fakes.setScenario(
        QStringLiteral("df"), QString(ext4Root).replace(QLatin1String("ext4"), QLatin1String("xfs")));
    m_fakes.setScenario(QStringLiteral("bash"), QStringLiteral("write %1 dump\n").arg(dump));
    m_fakes.setScenario(QStringLiteral("xfsrestore"), xfsrestore);
    m_fakes.setScenario(QStringLiteral("norvo-update"), tool);
    if (leftover)
        writeCompleteDump(dump, "older dump");
    {
        // An older snapshot is announced at start, once.
        ModalBoxAnswerer announcement(QStringLiteral("OK"), leftover ? 10000 : 300);
        auto window = makeWindow({{"ExpertMode", true}, {"Sources", QStringList {"/srv/a.iso"}},
            {"AutoUpdate", false}, {"Snapshot", true}});
        QCOMPARE(announcement.waitAnswered(), leftover);
        if (leftover)
            QVERIFY2(announcement.box().text.contains(dump), qPrintable(announcement.box().text));
        ModalBoxAnswerer confirm(QStringLiteral("Yes"), 5000, QStringLiteral("Update confirmation"));
        ModalBoxAnswerer error(answer, 15000, title);
        ModalBoxAnswerer afterwards(
            QStringLiteral("OK"), restoreFails ? 15000 : 1500, QStringLiteral("Restore error"));
        launch(window.get(), button);
        QVERIFY2(error.waitAnswered(), qPrintable(error.problem()));
        QCOMPARE(error.box().title, title);
        QCOMPARE(error.box().text, text);
        const QStringList buttons
            = answer == QLatin1String("OK") ? QStringList {"OK"} : QStringList {"Yes", "No"};
        QCOMPARE(error.box().buttons, buttons);

        QCOMPARE(afterwards.waitAnswered(), restoreFails);
        if (restoreFails) {
            QCOMPARE(afterwards.box().title, QStringLiteral("Restore error"));
            QVERIFY2(afterwards.box().text.contains(QLatin1String("xfsrestore: ERROR: media error")),
                qPrintable(afterwards.box().text));
            QVERIFY(logText(window.get()).contains(QLatin1String("will not be rebooted")));
        }
        QCOMPARE(m_fakes.calls(QStringLiteral("xfsrestore")).size(), answer == QLatin1String("Yes") ? 1 : 0);
        QTest::qWait(300);
        QCOMPARE(m_fakes.calls(QStringLiteral("reboot")).size(), reboots);
        QCOMPARE(QFileInfo::exists(dump), dumpKept);
    }
    QCOMPARE(QSettings().value(QStringLiteral("IsCrashed")).toBool(), offeredAgain);
}

void LaunchTest::failedSnapshotAsksToGoOn_data()
{
    QTest::addColumn<bool>("expert");
    QTest::addColumn<QString>("answer");
    QTest::newRow("expert, go on without") << true << "Yes";
    QTest::newRow("expert, stop") << true << "No";
    QTest::newRow("simple, stop: Back and Exit shown") << false << "No";
}

void LaunchTest::failedSnapshotAsksToGoOn()
{
    QFETCH(bool, expert);
    QFETCH(QString, answer);
    m_fakes.setScenario(QStringLiteral("df"), lvmRoot);
    m_fakes.setScenario(QStringLiteral("tar"), QStringLiteral("err tar: /boot: Cannot open\\n\nexit 2\n"));
    m_fakes.setScenario(QStringLiteral("norvo-update"), QStringLiteral("exit 0\n"));
    auto window = makeWindow({{"ExpertMode", expert}, {"Sources", QStringList {"/srv/a.iso"}},
        {"AutoUpdate", false}, {"Snapshot", true}});
    {
        ModalBoxAnswerer confirm(QStringLiteral("Yes"));
        launch(window.get(), QStringLiteral("Update"));
    }
    ModalBoxAnswerer question(answer, 10000);
    QVERIFY2(question.waitAnswered(), qPrintable(question.problem()));
    QCOMPARE(question.box().title, QStringLiteral("Kiv norvo update"));
    QCOMPARE(question.box().text,
        QStringLiteral(
            "System snapshot (lvsnap-kiv-norvo-update) is not created! Do you want to continue update?"));
    QVERIFY(logText(window.get())
                .contains(QLatin1String("Snapshot size 6 G\ntar: /boot: Cannot open\n"
                                        "System snapshot (lvsnap-kiv-norvo-update) is not created!")));
    if (answer == QLatin1String("Yes")) {
        ModalBoxAnswerer success(QStringLiteral("OK"), 10000);
        QVERIFY(success.waitAnswered());
        QCOMPARE(m_fakes.calls(QStringLiteral("norvo-update")).last().last(), QStringLiteral("/srv/a.iso"));
    } else {
        QTest::qWait(300);
        QCOMPARE(QSettings().value(QStringLiteral("IsCrashed")).toBool(), false);
        QVERIFY(child<QWidget>(window.get(), "m_setupWidget")->isEnabled());
        QCOMPARE(child<QWidget>(window.get(), "m_buttonsWidget")->isVisible(), !expert);
        // Simple mode ran its imitation before the snapshot; no update followed.
        QCOMPARE(m_fakes.calls(QStringLiteral("norvo-update")).size(), expert ? 0 : 4);
    }
}

void LaunchTest::newVersionRecordsWhatRemains_data()
{
    QTest::addColumn<bool>("expert");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<int>("restartMode"); // -1: no restart
    // Only a launch with Update updates the application for real; an imitation of it never
    // restarts.
    QTest::newRow("simple: imitation and update remain") << false << "Update"
                                                         << "Yes" << 3;
    QTest::newRow("expert update: the update remains") << true << "Update"
                                                       << "Yes" << 2;
    QTest::newRow("declined: the update goes on here") << true << "Update"
                                                       << "No" << -1;
}

void LaunchTest::newVersionRecordsWhatRemains()
{
    QFETCH(bool, expert);
    QFETCH(QString, button);
    QFETCH(QString, answer);
    QFETCH(int, restartMode);
    m_fakes.setScenario(QStringLiteral("norvo-update"), QStringLiteral("exit 0\n"));
    m_fakes.setScenario(QStringLiteral("dpkg-query@kiv-norvo-update"),
        QStringLiteral("out ii \\tkiv-norvo-update\\t0.1.32\\n\n"));
    auto window
        = makeWindow({{"ExpertMode", expert}, {"Sources", QStringList {"/srv/a.iso"}}, {"AutoUpdate", true}});
    // The application's package is newer once its own update has run.
    connect(runner(window.get()), &NorvoUpdate::logUpdated, this, [this](const QString& text) {
        if (text.startsWith(QLatin1String("Command line: norvo-update -e")))
            m_fakes.setScenario(QStringLiteral("dpkg-query@kiv-norvo-update"),
                QStringLiteral("out ii \\tkiv-norvo-update\\t0.1.33\\n\n"));
    });
    ModalBoxAnswerer confirm(QStringLiteral("Yes"), 10000, QStringLiteral("Update confirmation"));
    ModalBoxAnswerer restart(answer, 10000, QStringLiteral("Update to new version"));
    ModalBoxAnswerer success(QStringLiteral("OK"), 10000, QStringLiteral("Kiv norvo update"));
    QEventLoop loop;
    QTimer::singleShot(0, window.get(), [&]() { launch(window.get(), button); });
    QTimer::singleShot(8000, &loop, [&loop]() { loop.exit(-1); });
    // Declined, the run goes on here and ends with its success box; accepted, the loop ends at once.
    QTimer watch;
    connect(&watch, &QTimer::timeout, &loop, [&]() {
        if (success.answered())
            loop.exit(-1);
    });
    watch.start(20);
    const int exitCode = loop.exec();
    QVERIFY2(restart.answered(), qPrintable(restart.problem()));
    QCOMPARE(restart.box().text,
        QStringLiteral("The application has been updated to version 0.1.33. Restart the "
                       "application for the changes to take effect.\nDo you want to restart "
                       "application and continue update?"));
    if (restartMode >= 0) {
        QCOMPARE(exitCode, restartExitCode);
        QCOMPARE(QSettings().value(QStringLiteral("RestartMode")).toInt(), restartMode);
    } else {
        QCOMPARE(exitCode, -1);
        QCOMPARE(QSettings().value(QStringLiteral("RestartMode"), 0).toInt(), 0);
        // The update went on in this instance, with the old program.
        QCOMPARE(m_fakes.calls(QStringLiteral("norvo-update")).size(), 4);
        QVERIFY(success.answered());
    }
    QCOMPARE(QSettings().value(QStringLiteral("IsCrashed")).toBool(), false);
    QVERIFY(
        logText(window.get()).contains(QLatin1String("The application has been updated to version 0.1.33.")));
}

void LaunchTest::restoreOfferedAfterARunThatNeverEnded_data()
{
    QTest::addColumn<QString>("df");
    QTest::addColumn<bool>("crashed");
    QTest::addColumn<bool>("runSnapshot"); // the crashed run's snapshot step made it
    QTest::addColumn<bool>("listed");
    QTest::addColumn<QString>("answer"); // to the offer; null: announced instead
    QTest::addColumn<bool>("offeredAgain");

    const QString xfsRoot = QString(ext4Root).replace(QLatin1String("ext4"), QLatin1String("xfs"));
    QTest::newRow("the run's volume: the restore fails, is said and offered again")
        << lvmRoot << true << true << true << "Yes" << true;
    QTest::newRow("the run's volume, given up") << lvmRoot << true << true << true << "No" << false;
    QTest::newRow("the run's volume, Escape keeps it") << lvmRoot << true << true << true << "Escape" << true;
    QTest::newRow("the last run ended: announced") << lvmRoot << false << true << true << QString() << false;
    QTest::newRow("the crashed run took none: announced")
        << lvmRoot << true << false << true << QString() << false;
    QTest::newRow("volume not listed: announced") << lvmRoot << true << true << false << QString() << false;
    QTest::newRow("XFS root: announced, never offered at start")
        << xfsRoot << true << true << true << QString() << false;
}

void LaunchTest::restoreOfferedAfterARunThatNeverEnded()
{
    QFETCH(QString, df);
    QFETCH(bool, crashed);
    QFETCH(bool, runSnapshot);
    QFETCH(bool, listed);
    QFETCH(QString, answer);
    QFETCH(bool, offeredAgain);
    m_fakes.setScenario(QStringLiteral("df"), df);
    // "lvs /dev/VG/NAME" for exists(), "lvs -o name --no-headings VG/NAME" for the listing; a bare
    // name fails, as with the real lvs.
    m_fakes.setScenario(QStringLiteral("lvs@/dev/vg0/lvsnap-kiv-norvo-update"), QStringLiteral("exit 0\n"));
    if (listed)
        m_fakes.setScenario(QStringLiteral("lvs@vg0/lvsnap-kiv-norvo-update"),
            QStringLiteral("out   lvsnap-kiv-norvo-update\\n\n"));
    writeCompleteDump(QStringLiteral("/var/tmp/xfssnap-kiv-norvo-update.bin"), "dump");
    const Settings settings {{"IsCrashed", crashed}, {"RunSnapshot", runSnapshot}};
    {
        ModalBoxAnswerer box(answer.isNull() ? QStringLiteral("OK") : answer, 10000,
            answer.isNull() ? QStringLiteral("Kiv norvo update") : QStringLiteral("Error"));
        ModalBoxAnswerer failed(QStringLiteral("OK"), answer == QLatin1String("Yes") ? 10000 : 0,
            QStringLiteral("Restore error"));
        auto window = makeWindow(settings);
        QVERIFY2(box.waitAnswered(), qPrintable(box.problem()));
        if (answer.isNull()) {
            QCOMPARE(box.box().title, QStringLiteral("Kiv norvo update"));
            QVERIFY2(box.box().text.contains(df == lvmRoot
                             ? QStringLiteral("/dev/vg0/lvsnap-kiv-norvo-update")
                             : QStringLiteral("/var/tmp/xfssnap-kiv-norvo-update.bin")),
                qPrintable(box.box().text));
        } else {
            QCOMPARE(box.box().title, QStringLiteral("Error"));
            QCOMPARE(box.box().text,
                QStringLiteral("The last update failed. Do you want to restore the system from a "
                               "snapshot (system will be reboot)?"));
            QCOMPARE(m_fakes.calls(QStringLiteral("lvs")).value(1),
                (QStringList {"-o", "name", "--no-headings", "vg0/lvsnap-kiv-norvo-update"}));
        }
        if (answer == QLatin1String("Yes")) {
            // No archive of /boot: nothing is changed, the reason is shown, and no reboot follows.
            QVERIFY2(failed.waitAnswered(), qPrintable(failed.problem()));
            QCOMPARE(failed.box().title, QStringLiteral("Restore error"));
            QVERIFY2(failed.box().text.contains(QLatin1String("/var/tmp/boot_snap.tar.bz2")),
                qPrintable(failed.box().text));
            QCOMPARE(m_fakes.calls(QStringLiteral("lvconvert")).size(), 0);
        }
        QTest::qWait(300);
        QCOMPARE(m_fakes.calls(QStringLiteral("reboot")).size(), 0);
        QCOMPARE(m_fakes.calls(QStringLiteral("lvremove")),
            answer == QLatin1String("No")
                ? QList<QStringList> {(QStringList {"-f", "/dev/vg0/lvsnap-kiv-norvo-update"})}
                : QList<QStringList> {});
    }
    QCOMPARE(QSettings().value(QStringLiteral("IsCrashed")).toBool(), offeredAgain);
    // An announced snapshot is announced once.
    if (answer.isNull()) {
        QSettings stored;
        Settings again;
        for (const QString& key : stored.allKeys())
            again.insert(key, stored.value(key));
        ModalBoxAnswerer none(QStringLiteral("OK"), 1500);
        auto window = makeWindow(again);
        QVERIFY(!none.waitAnswered());
    }
}

void LaunchTest::dpkgErrorStopsTheTool()
{
    // The tool would go on for ever after dpkg failed: the window ends it and says why.
    m_fakes.setScenario(QStringLiteral("norvo-update"),
        QStringLiteral("out E: Sub-process /usr/bin/dpkg returned an error code (1)\\n\nhang\n"));
    auto window
        = makeWindow({{"ExpertMode", true}, {"Sources", QStringList {"/srv/a.iso"}}, {"AutoUpdate", false}});
    ModalBoxAnswerer error(QStringLiteral("OK"), 10000, QStringLiteral("Imitation error"));
    launch(window.get(), QStringLiteral("Imitate"));
    QVERIFY2(error.waitAnswered(), qPrintable(error.problem()));
    QCOMPARE(error.box().text, QStringLiteral("Dpkg error: please, contact your administrator"));
    QTRY_VERIFY_WITH_TIMEOUT(!runner(window.get())->isRunning(), 10000);
    QCOMPARE(QSettings().value(QStringLiteral("IsCrashed")).toBool(), false);
}

void LaunchTest::closeRefusedWhileTheToolRuns()
{
    m_fakes.setScenario(QStringLiteral("norvo-update"), QStringLiteral("out working\\n\nhang\n"));
    auto window
        = makeWindow({{"ExpertMode", true}, {"Sources", QStringList {"/srv/a.iso"}}, {"AutoUpdate", false}});
    launch(window.get(), QStringLiteral("Imitate"));
    QTRY_VERIFY(logText(window.get()).contains(QLatin1String("working")));
    QVERIFY(!window->close());
    QVERIFY(window->isVisible());
    runner(window.get())->stop();
    QTRY_VERIFY(!runner(window.get())->isRunning());
    QVERIFY(window->close());
}

void LaunchTest::closeRefusedDuringTheSnapshotStep()
{
    m_fakes.setScenario(QStringLiteral("df"), lvmRoot);
    m_fakes.setScenario(QStringLiteral("lvcreate"), QStringLiteral("sleep 3\n"));
    m_fakes.setScenario(QStringLiteral("norvo-update"), QStringLiteral("exit 0\n"));
    auto window = makeWindow({{"ExpertMode", true}, {"Sources", QStringList {"/srv/a.iso"}},
        {"AutoUpdate", false}, {"Snapshot", true}});
    ModalBoxAnswerer confirm(QStringLiteral("Yes"));
    launch(window.get(), QStringLiteral("Update"));
    QTRY_COMPARE(m_fakes.calls(QStringLiteral("lvcreate")).size(), 1);
    // No tool runs, but a snapshot is being taken: the window stays, or it would go on unseen.
    QVERIFY(!window->close());
    QVERIFY(window->isVisible());
    ModalBoxAnswerer success(QStringLiteral("OK"), 15000);
    QVERIFY2(success.waitAnswered(), qPrintable(success.problem()));
    QVERIFY(window->close());
}

QTEST_MAIN(LaunchTest)
#include "tst_launch.moc"
