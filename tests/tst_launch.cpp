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
#include "mainwindow.h"
#include "scenariotable.h"
#include "testhelpers.h"

namespace {

const QString dump = "/var/tmp/xfssnap-kiv-norvo-update.bin";

// A run of the window, as tests/testdata/window-runs.txt describes it: what it starts with and does,
struct Start
{
    QVariantMap settings;
    QStringList fakes; // "NAME: script"
    QString press;
    QStringList answers;
    QStringList files; // "PATH: content"
};

// and what it shows and does.
struct Seen
{
    QStringList boxes;
    QStringList calls;
    QVariantMap settings;
    int ended = -1; // -1 when the window went quiet
    bool dumpKept = false;
    QStringList logged = {};
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

    FakeExecutables m_fakes;
    QTemporaryDir m_config;
};

void LaunchTest::initTestCase()
{
    QVERIFY2(QFile::exists("/run/kiv-sandbox/layers_boot"), "the test must run in the sandbox");
    TestHelpers::prepareWindowTests(m_fakes, m_config);
    for (const char* name :
        {"lvcreate", "lvremove", "lvconvert", "umount", "tar", "reboot", "bash", "xfsrestore"})
        m_fakes.add(name);
    for (const char* path : {"/usr/sbin/space_calculator", "/usr/sbin/norvo-update-ctl"}) {
        QFile::remove(path);
        QVERIFY(QFile::copy(FakeExecutables::fakeProgramPath(), path));
    }
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

Seen LaunchTest::play(const Start& start)
{
    // What every machine has unless a row says otherwise: an ordinary machine with this program at
    // 0.1.32, a tool that succeeds, switches that end at once, no snapshot volume.
    const QStringList defaults = TestHelpers::ordinaryMachine
        + QStringList {"dpkg-query@kiv-norvo-update: out ii \\tkiv-norvo-update\\t0.1.32\\n\n",
            "norvo-update: exit 0\n", "lvs: err   Failed to find logical volume\\n\nexit 5\n",
            "space_calculator: out 4\\n\n"};
    m_fakes.addScenarios(
        QStringList(defaults + start.fakes).replaceInStrings("{FAKES}", m_fakes.directory()));
    for (const QString& file : start.files) {
        TestHelpers::writeFile(file.section(':', 0, 0), file.section(':', 1).mid(1).toUtf8());
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
    // The calls that change the machine or run the update.
    seen.calls = m_fakes.callsInOrder({"norvo-update", "norvo-update-ctl", "tar", "lvcreate", "lvremove",
        "lvconvert", "bash", "xfsrestore", "reboot"});
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
    const QList<Scenario> table = readScenarios("window-runs.txt");
    QVERIFY(!table.isEmpty());
    for (const auto& [name, lines] : table) {
        Start start;
        Seen seen {{}, {}, {{"IsCrashed", 0}, {"RestartMode", 0}}};
        QMap<QString, QString> scripts;
        for (const QString& line : lines) {
            const QString key = line.section(' ', 0, 0);
            const QString value = line.section(' ', 1);
            const QString text = QString(value).replace("\\n", "\n");
            if (key == "settings" || key == "left") {
                for (const QString& setting : value.split(' ')) {
                    const QString v = setting.section('=', 1);
                    const QVariant parsed = setting.startsWith("Sources=") ? QVariant(v.split(','))
                        : v == "true" || v == "false"                      ? QVariant(v == "true")
                                                                           : QVariant(v.toInt());
                    (key == "left" ? seen.settings : start.settings)
                        .insert(setting.section('=', 0, 0), parsed);
                }
            } else if (key == "fake") {
                scripts[value.section(": ", 0, 0)] += value.section(": ", 1) + '\n';
            } else if (key == "file") {
                start.files << text;
            } else if (key == "answer") {
                start.answers << text;
            } else if (key == "press") {
                start.press = value;
            } else if (key == "box") {
                seen.boxes << text;
            } else if (key == "call") {
                seen.calls << value;
            } else if (key == "logged") {
                seen.logged << text;
            } else if (key == "ends") {
                seen.ended = value == "reboot" ? 0 : restartExitCode;
            } else if (line == "dump kept") {
                seen.dumpKept = true;
            } else {
                QFAIL(qPrintable(name + ": what is " + line));
            }
        }
        for (auto script = scripts.cbegin(); script != scripts.cend(); ++script)
            start.fakes << script.key() + ": " + script.value();
        QTest::newRow(qPrintable(name)) << start << seen;
    }
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
