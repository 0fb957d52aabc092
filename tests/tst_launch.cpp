#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "fakeexecutables.h"
#include "kivintegration.h"
#include "mainwindow.h"
#include "testhelpers.h"

namespace {

const QString lvmRoot = TestHelpers::dfRoot("/dev/mapper/vg0-root", "xfs");
const QString xfsRoot = TestHelpers::dfRoot("/dev/sda1", "xfs");
const QString dump = "/var/tmp/xfssnap-kiv-norvo-update.bin";
const QString offer = " Do you want to restore the system from a snapshot (system will be reboot)?";
const QString failed = "Update error: The update is not success!" + offer;
const QString confirm = "Update confirmation: Yes";
const QString confirmation
    = "Update confirmation: The next actions will be performed:\n1. Check update sources.\n"
      "2. Check possibility of update system.\n3. Save system snapshot (optional).\n"
      "4. System update.\n\nIt is advisable to save all critical information on an external "
      "medium!\nDo you want to continue?";
const QString tar = "tar --xattrs --acls -czpf /var/tmp/boot_snap.tar.bz2 --exclude=/boot/lost+found /boot";
const QString lvcreate = "lvcreate -L 6GB -s -n lvsnap-kiv-norvo-update -p r /dev/vg0/root";
const QString xfsdump = "bash -c xfsdump -l 0 -L session_norvo -M tape_norvo -f " + dump + " /";
const QString bulletin = "Update 1.7.3 installed (BULLETIN № 46)\n";
// The application's own update around an update from /srv/a.iso.
const QStringList ownUpdate {
    "norvo-update -d", "norvo-update /srv/a.iso -p kiv-norvo-update", "norvo-update -e"};

// What a window is started with, and does.
struct Start
{
    QVariantMap settings;
    // "NAME: script"; NAME@LAST for a call whose last argument is LAST, NAME#N for the N-th call.
    QStringList fakes;
    // Imitate or Update; empty: the window goes on by itself with a run it was restarted for.
    QString press;
    // "title: button" for the next box of that title; "title: OK, unchecked" clears its check box.
    QStringList answers;
    QStringList files = {}; // "PATH: content" written before the start
};

// What it did: every box in order as "title: text", every call of the fakes that change the machine,
// in order, and the settings left for the next start.
struct Seen
{
    QStringList boxes;
    QStringList calls;
    QVariantMap settings;
    int ended = -1; // the code the event loop was ended with, -1 when the window went quiet
    bool dumpKept = false;
    QStringList logged = {}; // texts in the window's log
};

bool hasChildren()
{
    for (const QFileInfo& task : QDir("/proc/self/task").entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile children(task.filePath() + "/children");
        if (children.open(QIODevice::ReadOnly) && !children.readAll().trimmed().isEmpty())
            return true;
    }
    return false;
}

} // namespace

Q_DECLARE_METATYPE(Start)
Q_DECLARE_METATYPE(Seen)

// Runs of the window from the press of a button to what the machine and the administrator see:
// in the sandbox, offscreen, with a scripted update tool and scripted LVM, tar, xfsdump, reboot.
class LaunchTest final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void runs_data();
    void runs();
    void closeRefusedWhileTheToolRuns();

private:
    Seen play(const Start& start);
    QStringList machineCalls() const;

    FakeExecutables m_fakes;
    QTemporaryDir m_config;
};

void LaunchTest::initTestCase()
{
    QVERIFY2(QFile::exists("/run/kiv-sandbox/layers_boot"), "the test must run in the sandbox");
    kivInit("0.1.32", "Kiv norvo update");
    QCoreApplication::setApplicationName("kiv-norvo-update");
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_config.path());
    for (const char* name : {"norvo-update", "dpkg-query", "systemctl", "df", "lsb_release", "lvs",
             "lvcreate", "lvremove", "lvconvert", "umount", "tar", "reboot", "bash", "xfsrestore"})
        m_fakes.add(name);
    for (const char* path : {"/usr/sbin/space_calculator", "/usr/sbin/norvo-update-ctl"}) {
        QFile::remove(path);
        QVERIFY(QFile::copy(FakeExecutables::fakeProgramPath(), path));
    }
    m_fakes.activate();
}

void LaunchTest::init()
{
    m_fakes.reset();
    TestHelpers::writeFile("/etc/norvo_version", "1.7.3\n");
    for (const QString& path : QStringList {"/etc/norvo_update_version", "/var/tmp/boot_snap.tar.bz2", dump})
        QFile::remove(path);
}

void LaunchTest::cleanup()
{
    // A reboot or a restart ends the event loop, after which every modal box would return at once;
    // running the application's loop once clears that.
    QTimer::singleShot(0, qApp, []() { QCoreApplication::exit(0); });
    QCoreApplication::exec();
}

// The calls of the fakes that change the machine or run the update, in the order they came.
QStringList LaunchTest::machineCalls() const
{
    static const QStringList watched {"norvo-update", "norvo-update-ctl", "tar", "lvcreate", "lvremove",
        "lvconvert", "bash", "xfsrestore", "reboot"};
    QMap<QString, QList<QStringList>> calls;
    QStringList seen;
    for (const QString& name : m_fakes.sequence()) {
        if (!watched.contains(name))
            continue;
        if (!calls.contains(name))
            calls.insert(name, m_fakes.calls(name));
        seen.append((QStringList {name} + calls[name].takeFirst()).join(' '));
    }
    return seen;
}

Seen LaunchTest::play(const Start& start)
{
    // What every machine has unless a row says otherwise: an ext4 root, no service package, this
    // program at 0.1.32, a tool that succeeds, switches that end at once, no snapshot volume.
    const QStringList defaults {"df: " + TestHelpers::dfRoot("/dev/sda1", "ext4"), "dpkg-query: exit 1\n",
        "dpkg-query@kiv-norvo-update: out ii \\tkiv-norvo-update\\t0.1.32\\n\n", "norvo-update: exit 0\n",
        "lvs: err   Failed to find logical volume\\n\nexit 5\n", "space_calculator: out 4\\n\n"};
    m_fakes.addScenarios(
        QStringList(defaults + start.fakes).replaceInStrings("{FAKES}", m_fakes.directory()));
    for (const QString& file : start.files) {
        QDir().mkpath(QFileInfo(file.section(": ", 0, 0)).path());
        TestHelpers::writeFile(file.section(": ", 0, 0), file.section(": ", 1).toUtf8());
    }
    QStringList answers = start.answers;
    Seen seen;
    QEventLoop loop;
    QElapsedTimer quiet;
    quiet.start();
    int lastCalls = 0;
    std::unique_ptr<MainWindow> window;
    QTimer watch;
    connect(&watch, &QTimer::timeout, &loop, [&]() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box && box->isVisible()) {
            quiet.restart();
            seen.boxes.append(box->windowTitle() + ": " + box->text());
            if (box->checkBox())
                seen.boxes.last()
                    += QString(box->checkBox()->isChecked() ? " [x] " : " [ ] ") + box->checkBox()->text();
            QStringList answer {"(none)"};
            for (int given = 0; given < answers.size(); ++given) {
                if (answers.at(given).startsWith(box->windowTitle() + ": ")) {
                    answer = answers.takeAt(given).section(": ", 1).split(", ");
                    break;
                }
            }
            if (box->checkBox() && answer.contains("unchecked"))
                box->checkBox()->setChecked(false);
            for (QAbstractButton* button : box->buttons()) {
                if (button->text().remove('&') == answer.first())
                    return button->click();
            }
            if (answer.first() == "Escape")
                return QTest::keyClick(box, Qt::Key_Escape);
            seen.boxes.last() += " (no answer)";
            return box->reject();
        }
        const int calls = m_fakes.sequence().size();
        // A program started by the window, from any of its threads, is work still going on.
        const bool busy = (window && window->findChild<NorvoUpdate*>()->isRunning()) || hasChildren();
        if (calls != lastCalls || busy)
            quiet.restart();
        lastCalls = calls;
        // Bounded: a row that hangs is reported by what it had seen so far.
        if (quiet.hasExpired(1500))
            loop.exit(-1);
    });
    watch.start(20);
    QTimer::singleShot(60000, &loop, [&loop]() { loop.exit(-2); });
    QTimer::singleShot(0, &loop, [&]() {
        window = TestHelpers::makeWindow(start.settings);
        if (!start.press.isEmpty())
            TestHelpers::child<QPushButton>(
                window.get(), start.press == "Imitate" ? "m_imitatePushButton" : "m_updatePushButton")
                ->click();
    });
    seen.ended = loop.exec();
    watch.stop();
    // The reboot is started detached, just before the loop ends.
    QElapsedTimer waited;
    waited.start();
    while (seen.ended == 0 && !m_fakes.sequence().contains("reboot") && waited.elapsed() < 10000)
        QTest::qWait(20);
    seen.calls = machineCalls();
    seen.logged = window
        ? TestHelpers::child<QPlainTextEdit>(window.get(), "m_logTextEdit")->toPlainText().split('\n')
        : QStringList();
    window.reset();
    seen.dumpKept = QFileInfo::exists(dump);
    for (const char* key : {"IsCrashed", "RestartMode"})
        seen.settings.insert(key, QSettings().value(key, 0).toInt());
    return seen;
}

void LaunchTest::runs_data()
{
    QTest::addColumn<Start>("start");
    QTest::addColumn<Seen>("expected");
    const QVariantMap expert {
        {"ExpertMode", true}, {"Sources", QStringList {"/srv/a.iso"}}, {"AutoUpdate", false}};
    const QVariantMap simple {{"Sources", QStringList {"/srv/a.iso"}}};
    const QVariantMap clean {{"IsCrashed", 0}, {"RestartMode", 0}};
    const QVariantMap marked {{"IsCrashed", 1}, {"RestartMode", 0}};
    auto with = [](QVariantMap settings, const QVariantMap& more) {
        for (auto value = more.cbegin(); value != more.cend(); ++value)
            settings.insert(value.key(), value.value());
        return settings;
    };
    const QString success = "Kiv norvo update: Update is success. [ ] Reboot system";
    const QString imitated = "Kiv norvo update: Imitation is success.";
    const QString ok = "Kiv norvo update: OK";
    const QString update = "norvo-update -A /srv/a.iso";
    const QString imitation = "norvo-update -A /srv/a.iso -n";
    const QStringList serviceActive {
        "dpkg-query@norvo-update-service: out ii \\tnorvo-update-service\\t1.0\\n\n",
        "systemctl#1: out loaded\\n\n", "systemctl#2: out active\\n\n"};
    const QString stopService
        = "Warning!: The automatic update service is active!\nit could cause to error.\nWould "
          "you like to stop update service?";
    const QString reminder = "\nDon't forget to enable the enable \nautomatic service if it needed.";
    const QString lvremove = "lvremove -f /dev/vg0/lvsnap-kiv-norvo-update";
    const QStringList lvm {"df: " + lvmRoot};
    const QStringList xfs {"df: " + xfsRoot, "bash: write " + dump + " dump\n"};
    const QStringList crashedLvm {"df: " + lvmRoot, "lvs@/dev/vg0/lvsnap-kiv-norvo-update: exit 0\n",
        "lvs@vg0/lvsnap-kiv-norvo-update: out   lvsnap-kiv-norvo-update\\n\n"};
    const QString newVersion
        = "norvo-update@kiv-norvo-update: write {FAKES}/dpkg-query@kiv-norvo-update.scenario "
          "out ii \\\\tkiv-norvo-update\\\\t0.1.33\\\\n\n";
    const QString restartQuestion
        = "Update to new version: The application has been updated to version 0.1.33. "
          "Restart the application for the changes to take effect.\nDo you want to "
          "restart application and continue update?";
    const QString bulletin45 = "/etc/norvo_update_version: Update 1.7.2\nBulletin 45\n";
    const QString versionQuestion
        = "Update confirmation: Different versions of the latest update\nwas found in "
          "repositories,\nbut it's prohibited.\nAre you sure the sources are correct?";

    // What is run, in which order, with which options.
    QTest::newRow("simple: own update, imitation, update") << Start {simple, {}, "Update",
        {confirm, ok}} << Seen {{confirmation, success}, ownUpdate + QStringList {imitation, update}, clean};
    QTest::newRow("simple, LVM root: a snapshot of the estimated size whatever the box says")
        << Start {with(simple, {{"Snapshot", false}}), lvm + QStringList {"space_calculator: out 12\\n\n"},
               "Update", {confirm, ok}}
        << Seen {{confirmation, success},
               ownUpdate
                   + QStringList {imitation, lvremove, tar, QString(lvcreate).replace("6GB", "12GB"), update},
               clean};
    QTest::newRow("simple: checksum files beside every image")
        << Start {{{"Sources",
                      QStringList {"/var/tmp/kiv/a.iso", "/var/tmp/kiv/b.iso", "ftp://m.example/c"}}},
               {}, "Update", {confirm, ok},
               {"/var/tmp/kiv/a.iso.md5: sum", "/var/tmp/kiv/b.md5: sum", "/var/tmp/kiv/a.gost: sum"}}
        << Seen {{confirmation, success},
               {"norvo-update -d",
                   "norvo-update -m /var/tmp/kiv/a.iso /var/tmp/kiv/b.iso ftp://m.example/c -p kiv-norvo-update",
                   "norvo-update -e",
                   "norvo-update -A -m /var/tmp/kiv/a.iso /var/tmp/kiv/b.iso ftp://m.example/c -n",
                   "norvo-update -A -m /var/tmp/kiv/a.iso /var/tmp/kiv/b.iso ftp://m.example/c"},
               clean};
    QTest::newRow("expert, Imitate with autoupdate: no switch on after an imitated own update")
        << Start {with(expert, {{"AutoUpdate", true}}), {}, "Imitate", {ok}}
        << Seen {{imitated}, {"norvo-update -d", "norvo-update /srv/a.iso -n -p kiv-norvo-update", imitation},
               clean};
    QTest::newRow("expert: GOST and the latest kernel")
        << Start {with(expert,
                      {{"GostCheck", true}, {"LatestKernel", true},
                          {"Sources", QStringList {"/srv/a.iso", "/srv/b.iso"}}}),
               {}, "Update", {confirm, ok}}
        << Seen {{confirmation, success}, {"norvo-update -A -K -g /srv/a.iso /srv/b.iso"}, clean};
    QTest::newRow("expert: MD5, keep, no main repository") << Start {
        with(expert, {{"Md5Check", true}, {"KeepSrc", true}, {"NoMainRepo", true}}), {}, "Update",
        {confirm, ok}} << Seen {{confirmation, success}, {"norvo-update -A -T -k -m /srv/a.iso"}, clean};
    QTest::newRow("expert: system repositories, the sources left out") << Start {
        with(expert, {{"UseRepo", true}, {"Md5Check", true}, {"KeepSrc", true}}), {}, "Update",
        {confirm, ok}} << Seen {{confirmation, success}, {"norvo-update -A -r"}, clean};
    QTest::newRow("expert: ftp sources only take no -k, -g, -m")
        << Start {with(expert,
                      {{"Sources", QStringList {"ftp://m.example/a"}}, {"KeepSrc", true}, {"GostCheck", true},
                          {"Md5Check", true}}),
               {}, "Update", {confirm, ok}}
        << Seen {{confirmation, success}, {"norvo-update -A ftp://m.example/a"}, clean};
    QTest::newRow("expert: the latest kernel forced by its package needs no -K")
        << Start {with(expert, {{"LatestKernel", true}}),
               {"dpkg-query@linux-latest: out ii \\tlinux-latest\\t6.1\\n\n"}, "Update", {confirm, ok}}
        << Seen {{confirmation, success}, {update}, clean};
    QTest::newRow("expert, Imitate with an update left by a restart")
        << Start {with(expert, {{"RestartMode", 0}}), {}, "Imitate", {ok, ok}, {}}
        << Seen {{imitated}, {imitation}, clean};
    QTest::newRow("a restart goes on with what was left, without asking")
        << Start {with(simple, {{"RestartMode", 3}}), lvm, "", {ok}}
        << Seen {{success}, {imitation, lvremove, tar, lvcreate, update}, clean};
    QTest::newRow("a switch that does not end is stopped at its bound")
        << Start {with(expert, {{"AutoUpdate", true}}), {"norvo-update@-d: hang\n"}, "Imitate", {ok}}
        << Seen {{imitated}, {"norvo-update -d", "norvo-update /srv/a.iso -n -p kiv-norvo-update", imitation},
               clean, -1, false, {"The switch command did not end within 30 seconds and was stopped."}};
    QTest::newRow("a filling snapshot volume is reported")
        << Start {with(expert, {{"Snapshot", true}}),
               lvm
                   + QStringList {"lvs@vg0/lvsnap-kiv-norvo-update: out   85.20\n\n",
                       "norvo-update: sleep 2\n"},
               "Update", {confirm, ok}}
        << Seen {{confirmation, success}, {lvremove, tar, lvcreate, update}, clean, -1, false,
               {"The snapshot volume vg0/lvsnap-kiv-norvo-update is 85.2% full. A full snapshot can no longer be "
                "restored: \"lvextend -L +2G vg0/lvsnap-kiv-norvo-update\" makes it larger."}};
    QTest::newRow("a termination signal during a run ends nothing") << Start {expert,
        {"norvo-update: parent TERM\nexit 0\n"}, "Imitate", {ok}} << Seen {{imitated}, {imitation}, clean};

    // Questions before a run.
    QTest::newRow("foreign version in an image name, declined") << Start {
        with(expert, {{"Sources", QStringList {"/srv/norvo-1.8.1.iso"}}}), {}, "Imitate",
        {"Update confirmation: No"}} << Seen {{versionQuestion}, {}, clean};
    QTest::newRow("two foreign sources: one question, accepted")
        << Start {with(expert, {{"Sources", QStringList {"http://m.example/1.8/", "/srv/norvo-1.9.0.iso"}}}),
               {}, "Imitate", {"Update confirmation: Yes", ok}}
        << Seen {{versionQuestion, imitated},
               {"norvo-update -A http://m.example/1.8/ /srv/norvo-1.9.0.iso -n"}, clean};
    QTest::newRow("installed version unknown: no question") << Start {
        with(expert, {{"Sources", QStringList {"/srv/norvo-1.8.1.iso"}}}), {}, "Imitate", {ok},
        {"/etc/norvo_version: "}} << Seen {{imitated}, {"norvo-update -A /srv/norvo-1.8.1.iso -n"}, clean};
    QTest::newRow("declined after the service was stopped: it runs again")
        << Start {expert, serviceActive, "Update", {"Warning!: Yes", "Update confirmation: No"}}
        << Seen {{stopService, confirmation}, {"norvo-update-ctl disable", "norvo-update-ctl enable"}, clean};
    QTest::newRow("a restart onto incorrect system sources") << Start {
        with(expert, {{"UseRepo", true}, {"RestartMode", 2}}), {}, "", {"Critical error: OK"},
        {"/etc/apt/sources.list: deb broken\n"}} << Seen {{"Critical error: Incorrect sources"}, {}, clean};

    // What the end of a run says and does.
    QTest::newRow("a new update: reboot offered, and done")
        << Start {expert, {"norvo-update: write /etc/norvo_update_version Update 1.7.3\\nBulletin 46\\n\n"},
               "Update", {confirm, ok}, {bulletin45}}
        << Seen {
               {confirmation,
                   "Kiv norvo update: Update is success.\n" + bulletin + " is installed. [x] Reboot system"},
               {update, "reboot"}, clean, 0};
    QTest::newRow("a new update: the reboot declined")
        << Start {expert, {"norvo-update: write /etc/norvo_update_version Update 1.7.3\\nBulletin 46\\n\n"},
               "Update", {confirm, "Kiv norvo update: OK, unchecked"}, {bulletin45}}
        << Seen {
               {confirmation,
                   "Kiv norvo update: Update is success.\n" + bulletin + " is installed. [x] Reboot system"},
               {update}, clean};
    QTest::newRow("already installed")
        << Start {expert, {}, "Update", {confirm, ok},
               {"/etc/norvo_update_version: Update 1.7.3\nBulletin 46\n"}}
        << Seen {{confirmation, "Kiv norvo update: " + bulletin + " is already installed. [ ] Reboot system"},
               {update}, clean};
    QTest::newRow("imitation after the service was stopped: a reminder")
        << Start {expert, serviceActive, "Imitate", {"Warning!: Yes", ok}}
        << Seen {{stopService, imitated + reminder}, {"norvo-update-ctl disable", imitation}, clean};
    QTest::newRow("update after the service was stopped before a restart: a reminder")
        << Start {with(expert, {{"ServiceStopped", true}}), {}, "Update", {confirm, ok}}
        << Seen {{confirmation, "Kiv norvo update: Update is success." + reminder + " [ ] Reboot system"},
               {update}, clean};
    QTest::newRow("a dpkg error stops the tool")
        << Start {expert,
               {"norvo-update: out E: Sub-process /usr/bin/dpkg returned an error code (1)\\n\nhang\n"},
               "Imitate", {"Imitation error: OK"}}
        << Seen {{"Imitation error: Dpkg error: please, contact your administrator"}, {imitation}, clean};

    // The application updates itself.
    QTest::newRow("simple: a new version restarts with imitation and update left")
        << Start {with(simple, {{"AutoUpdate", true}}), {newVersion}, "Update",
               {confirm, "Update to new version: Yes"}}
        << Seen {{confirmation, restartQuestion}, ownUpdate, {{"IsCrashed", 0}, {"RestartMode", 3}},
               restartExitCode};
    QTest::newRow("expert: a new version restarts with the update left")
        << Start {with(expert, {{"AutoUpdate", true}}), {newVersion}, "Update",
               {confirm, "Update to new version: Yes"}}
        << Seen {{confirmation, restartQuestion}, ownUpdate, {{"IsCrashed", 0}, {"RestartMode", 2}},
               restartExitCode};
    QTest::newRow("expert: the restart declined, the update goes on here")
        << Start {with(expert, {{"AutoUpdate", true}}), {newVersion}, "Update",
               {confirm, "Update to new version: No", ok}}
        << Seen {{confirmation, restartQuestion, success}, ownUpdate + QStringList {update}, clean};
    QTest::newRow("the own update fails: the automatic update is switched on again")
        << Start {with(expert, {{"AutoUpdate", true}}), {"norvo-update@kiv-norvo-update: exit 1\n"}, "Update",
               {confirm, "Update error: OK"}}
        << Seen {{confirmation, "Update error: The update is not success!"}, ownUpdate, clean};

    // A run's snapshot.
    QTest::newRow("update succeeds: its snapshot goes") << Start {with(expert, {{"Snapshot", true}}), xfs,
        "Update", {confirm, ok}} << Seen {{confirmation, success}, {xfsdump, update}, clean};
    QTest::newRow("update fails: restored and rebooted")
        << Start {with(expert, {{"Snapshot", true}}), xfs + QStringList {"norvo-update: exit 1\n"}, "Update",
               {confirm, "Update error: Yes"}}
        << Seen {{confirmation, failed}, {xfsdump, update, "xfsrestore -f " + dump + " /", "reboot"}, clean,
               0, true};
    QTest::newRow("the restore fails: said, no reboot, offered again")
        << Start {with(expert, {{"Snapshot", true}}),
               xfs
                   + QStringList {"norvo-update: exit 1\n",
                       "xfsrestore: err xfsrestore: ERROR: media error\\n\nexit 1\n"},
               "Update", {confirm, "Update error: Yes", "Restore error: OK"}}
        << Seen {
               {confirmation, failed,
                   "Restore error: The system was not restored from the snapshot (xfssnap-kiv-norvo-update) and will "
                   "not be rebooted.\nxfsrestore: ERROR: media error"},
               {xfsdump, update, "xfsrestore -f " + dump + " /"}, marked, -1, true};
    QTest::newRow("a crash: one question")
        << Start {with(expert, {{"Snapshot", true}}), xfs + QStringList {"norvo-update: signal SEGV\n"},
               "Update", {confirm, "Update error: Yes"}}
        << Seen {{confirmation, "Update error: The update crashed!" + offer},
               {xfsdump, update, "xfsrestore -f " + dump + " /", "reboot"}, clean, 0, true};
    QTest::newRow("No gives the snapshot up") << Start {with(expert, {{"Snapshot", true}}),
        xfs + QStringList {"norvo-update: exit 1\n"}, "Update", {confirm, "Update error: No"}}
                                              << Seen {{confirmation, failed}, {xfsdump, update}, clean};
    QTest::newRow("Escape keeps it for the next start")
        << Start {with(expert, {{"Snapshot", true}}), xfs + QStringList {"norvo-update: exit 1\n"}, "Update",
               {confirm, "Update error: Escape"}}
        << Seen {{confirmation, failed}, {xfsdump, update}, marked, -1, true};
    QTest::newRow("a failed imitation offers no restore")
        << Start {with(expert, {{"Snapshot", true}}), xfs + QStringList {"norvo-update: exit 1\n"}, "Imitate",
               {"Imitation error: OK"}}
        << Seen {{"Imitation error: The update is not success!"}, {imitation}, clean};
    QTest::newRow("the snapshot fails: the update goes on when asked")
        << Start {with(expert, {{"Snapshot", true}}),
               lvm + QStringList {"tar: err tar: /boot: Cannot open\\n\nexit 2\n"}, "Update",
               {confirm, "Kiv norvo update: Yes", ok}}
        << Seen {
               {confirmation,
                   "Kiv norvo update: System snapshot (lvsnap-kiv-norvo-update) is not created! Do you want to "
                   "continue update?",
                   success},
               {lvremove, tar, update}, clean};

    // The start after a run that never ended.
    QTest::newRow("its volume: without the archive of /boot the restore fails, and is offered again")
        << Start {{{"IsCrashed", true}, {"RunSnapshot", true}}, crashedLvm, "",
               {"Error: Yes", "Restore error: OK"}}
        << Seen {
               {"Error: The last update failed. Do you want to restore the system from a snapshot (system will be "
                "reboot)?",
                   "Restore error: The system was not restored from the snapshot (lvsnap-kiv-norvo-update) "
                   "and will not be rebooted.\nThe archive of /boot (/var/tmp/boot_snap.tar.bz2) is missing."},
               {}, marked};
    QTest::newRow("its volume given up")
        << Start {{{"IsCrashed", true}, {"RunSnapshot", true}}, crashedLvm, "", {"Error: No"}}
        << Seen {
               {"Error: The last update failed. Do you want to restore the system from a snapshot (system will be "
                "reboot)?"},
               {lvremove}, clean};
    QTest::newRow("the last run ended: the volume is announced")
        << Start {{{"IsCrashed", false}, {"RunSnapshot", true}}, crashedLvm, "", {ok}}
        << Seen {
               {"Kiv norvo update: A system snapshot (lvsnap-kiv-norvo-update) from an earlier update is still kept: the LVM volume /dev/vg0/lvsnap-kiv-norvo-update and the archive /var/tmp/boot_snap.tar.bz2.\n..."},
               {}, clean};
    QTest::newRow("the crashed run took none: announced")
        << Start {{{"IsCrashed", true}, {"RunSnapshot", false}}, crashedLvm, "", {ok}}
        << Seen {
               {"Kiv norvo update: A system snapshot (lvsnap-kiv-norvo-update) from an earlier update is still kept: the LVM volume /dev/vg0/lvsnap-kiv-norvo-update and the archive /var/tmp/boot_snap.tar.bz2.\n..."},
               {}, clean};
}

void LaunchTest::runs()
{
    QFETCH(Start, start);
    QFETCH(Seen, expected);
    const Seen seen = play(start);
    // A box expected as "text..." is matched by its beginning.
    QStringList boxes = seen.boxes;
    for (int box = 0; box < boxes.size() && box < expected.boxes.size(); ++box) {
        const QString& text = expected.boxes.at(box);
        if (text.endsWith("...") && boxes.at(box).startsWith(text.chopped(3)))
            boxes[box] = text;
    }
    QVERIFY2(boxes == expected.boxes, qPrintable("boxes seen:\n" + seen.boxes.join("\n---\n")));
    QVERIFY2(seen.calls == expected.calls, qPrintable("calls made:\n" + seen.calls.join("\n")));
    QCOMPARE(seen.settings, expected.settings);
    QCOMPARE(seen.ended, expected.ended);
    QCOMPARE(seen.dumpKept, expected.dumpKept);
    for (const QString& text : qAsConst(expected.logged))
        QVERIFY2(seen.logged.contains(text), qPrintable(text + " | " + seen.logged.join('\n')));
}

void LaunchTest::closeRefusedWhileTheToolRuns()
{
    m_fakes.setScenario("norvo-update", "hang\n");
    auto window = TestHelpers::makeWindow(
        {{"ExpertMode", true}, {"Sources", QStringList {"/srv/a.iso"}}, {"AutoUpdate", false}});
    auto* runner = window->findChild<NorvoUpdate*>();
    TestHelpers::child<QPushButton>(window.get(), "m_imitatePushButton")->click();
    QTRY_VERIFY(m_fakes.sequence().contains("norvo-update"));
    QVERIFY(!window->close());
    runner->stop();
    QTRY_VERIFY(!runner->isRunning());
    QVERIFY(window->close());
}

QTEST_MAIN(LaunchTest)
#include "tst_launch.moc"
