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

// What a run of the window shows and does.
struct Seen
{
    QStringList boxes;
    QStringList calls;
    QVariantMap settings;
    int ended = -1; // -1 when the window went quiet
    bool dumpKept = false;
    QStringList logged;
};

// Settings written "KEY=VALUE ...": Sources split at commas, true and false, else numbers.
QVariantMap settingsOf(const QStringList& lines)
{
    QVariantMap settings;
    for (const QString& setting : lines.join(' ').split(' ', Qt::SkipEmptyParts)) {
        const QString value = setting.section('=', 1);
        settings.insert(setting.section('=', 0, 0),
            setting.startsWith("Sources=")            ? QVariant(value.split(','))
                : value == "true" || value == "false" ? QVariant(value == "true")
                                                      : QVariant(value.toInt()));
    }
    return settings;
}

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

// Runs of the window from the press of a button to what the machine and the administrator see:
// in the sandbox, offscreen, with a scripted update tool and scripted LVM, tar, xfsdump, reboot.
class LaunchTest final : public QObject
{
    Q_OBJECT

    FakeExecutables m_fakes;
    QTemporaryDir m_config;

    Seen play(const QVariantMap& settings, const QStringList& fakes, const QString& press,
        const QStringList& answers)
    {
        // What every machine has unless a row says otherwise: an ordinary machine with this program at
        // 0.1.32, a tool that succeeds, switches that end at once, no snapshot volume.
        const QStringList defaults = TestHelpers::ordinaryMachine
            + QStringList {"dpkg-query@kiv-norvo-update: out ii \\tkiv-norvo-update\\t0.1.32\\n",
                "norvo-update: exit 0", "lvs: err   Failed to find logical volume\\n", "lvs: exit 5",
                "space_calculator: out 4\\n"};
        // The row's scripts of a program replace these.
        m_fakes.addDirectives(defaults);
        m_fakes.addDirectives(fakes);
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
                    seen.boxes.last() += QString(box->checkBox()->isChecked() ? " [x] " : " [ ] ")
                        + box->checkBox()->text();
                // The answer given to the box of that place, OK when none is.
                const QString given = answers.value(seen.boxes.size() - 1);
                const QStringList answer = (given.isEmpty() ? "OK" : given).split(", ");
                if (box->checkBox() && answer.contains("unchecked"))
                    box->checkBox()->setChecked(false);
                for (QAbstractButton* button : box->buttons()) {
                    if (button->text().remove('&') == answer.first())
                        return button->click();
                }
                seen.boxes.last() += " (no answer)";
                return box->reject();
            }
            const int calls = m_fakes.sequence().size();
            // A program started by the window, from any of its threads, is work still going on.
            const bool running = window && window->findChild<NorvoUpdate*>()->isRunning();
            // Every run also tries to close the window while the tool works: it must stay.
            if (running && window->close())
                seen.boxes << "(the window closed while the tool ran)";
            const bool busy = running || hasChildren();
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
            window = TestHelpers::makeWindow(settings);
            if (!press.isEmpty())
                TestHelpers::child<QPushButton>(
                    window.get(), press == "Imitate" ? "m_imitatePushButton" : "m_updatePushButton")
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
        for (const char* key : {"IsCrashed", "RestartMode", "ServiceStopped"})
            seen.settings.insert(key, QSettings().value(key, 0).toInt());
        return seen;
    }

private slots:
    void initTestCase()
    {
        REQUIRE_SANDBOX();
        TestHelpers::prepareWindowTests(m_fakes, m_config);
        for (const char* name : {"lvcreate", "lvremove", "lvconvert", "umount", "tar", "reboot", "bash",
                 "xfsrestore", "mount", "findmnt", "btrfs"})
            m_fakes.add(name);
        for (const char* path : {"/usr/sbin/space_calculator", "/usr/sbin/norvo-update-ctl"}) {
            QFile::remove(path);
            QVERIFY(QFile::copy(FakeExecutables::fakeProgramPath(), path));
        }
    }

    void init()
    {
        m_fakes.reset();
        TestHelpers::writeFile("/etc/norvo_version", "1.7.3\n");
        for (const QString& path :
            QStringList {"/etc/norvo_update_version", "/var/tmp/boot_snap.tar.bz2", dump})
            QFile::remove(path);
    }

    void cleanup()
    {
        // A reboot or a restart ends the event loop, after which every modal box would return at once;
        // running the application's loop once clears that.
        QTimer::singleShot(0, qApp, []() { QCoreApplication::exit(0); });
        QCoreApplication::exec();
    }

    void runs_data()
    {
        addRows("window-runs.txt", {"settings", "fake", "file", "press"},
            {"box", "call", "left", "ends", "logged", "dump"});
    }

    void runs()
    {
        QFETCH(const Row, row);
        // "PATH: CONTENT", or "PATH:" for an empty file.
        for (const QString& text : unescaped(row["file"])) {
            const QString content = text.section(':', 1);
            TestHelpers::writeFile(
                text.section(':', 0, 0), content.mid(content.startsWith(' ') ? 1 : 0).toUtf8());
        }
        // "TEXT => ANSWER": the box shown there, and the button clicked in it.
        QStringList boxes, answers;
        for (const QString& box : unescaped(row["box"])) {
            boxes << box.section(" => ", 0, 0);
            answers << box.section(" => ", 1);
        }
        const Seen seen = play(settingsOf(row["settings"]), row["fake"], row["press"].value(0), answers);
        // Both sides whole: QtTest shows a list's size alone, and cuts a long text.
        const auto sides = [](const QStringList& seen, const QStringList& expected) -> QString {
            return "seen:\n" + seen.join('\n') + "\nexpected:\n" + expected.join('\n');
        };
        VERIFY_RUN(seen.boxes == boxes, row, "box", sides(seen.boxes, boxes));
        VERIFY_RUN(seen.calls == row["call"], row, "call", sides(seen.calls, row["call"]));
        QVariantMap leftForNextStart {{"IsCrashed", 0}, {"RestartMode", 0}, {"ServiceStopped", 0}};
        leftForNextStart.insert(settingsOf(row["left"]));
        COMPARE_RUN(seen.settings, row, "left", leftForNextStart);
        COMPARE_RUN(seen.ended, row, "ends", row.contains("ends") ? 0 : -1);
        COMPARE_RUN(seen.dumpKept, row, "dump", row["dump"] == QStringList {"kept"});
        for (const QString& text : unescaped(row["logged"]))
            VERIFY_RUN(seen.logged.contains(text), row, "logged", text + " | " + seen.logged.join('\n'));
    }
};

QTEST_MAIN(LaunchTest)
#include "tst_launch.moc"
