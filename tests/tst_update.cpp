#include <csignal>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>

#include "fakeexecutables.h"
#include "lvmsnapshot.h"
#include "norvoupdate.h"
#include "testhelpers.h"
#include "xfssnapshot.h"

using Commands = QList<NorvoUpdate::Commands>;

namespace {

const QString lvmRoot = TestHelpers::dfRoot(QStringLiteral("/dev/mapper/vg0-root"), QStringLiteral("xfs"));
const QString ext4Root = TestHelpers::dfRoot(QStringLiteral("/dev/sda1"), QStringLiteral("ext4"));
const QString xfsRoot = TestHelpers::dfRoot(QStringLiteral("/dev/sda1"), QStringLiteral("xfs"));
const QString installed = QStringLiteral("out ii \\tkiv-norvo-update\\t%1\\n\n");

} // namespace

// The update runner with a scripted norvo-update. Runs in the sandbox: the size estimator is
// placed at /usr/sbin/space_calculator.
class UpdateTest final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void commandLines_data();
    void commandLines();
    void exitRules_data();
    void exitRules();
    void outputIsRelayedAsItArrives();
    void simpleRunLogsInOrder();
    void applicationUpdateChangesVersion_data();
    void applicationUpdateChangesVersion();
    void switchPastItsTimeIsEnded();
    void automaticUpdateBackOnAfterTheOwnUpdate_data();
    void automaticUpdateBackOnAfterTheOwnUpdate();
    void stopThenStartRunsTheNewQueueOnly();
    void stopEndsTheToolWhileSignalsAreIgnored();
    void terminationSignalsIgnoredDuringARun();
    void rebootStartsRebootAndEndsTheLoop();
    void snapshotKindAndSize_data();
    void snapshotKindAndSize();
    void filledSnapshotVolumeIsReported();
    void elapsedAndBulletinTexts();

private:
    QStringList runUntil(NorvoUpdate& runner, const Commands& commands, const QStringList& arguments,
        const std::function<bool()>& done, int timeoutMs = 20000);

    FakeExecutables m_fakes;
};

void UpdateTest::initTestCase()
{
    QVERIFY2(
        QFile::exists(QStringLiteral("/run/kiv-sandbox/layers_boot")), "the test must run in the sandbox");
    QCoreApplication::setApplicationName(QStringLiteral("kiv-norvo-update"));
    for (const char* name :
        {"norvo-update", "dpkg-query", "df", "lvs", "lvcreate", "lvremove", "umount", "tar", "reboot"})
        m_fakes.add(QString::fromLatin1(name));
    QFile::remove(QStringLiteral("/usr/sbin/space_calculator"));
    QVERIFY(QFile::copy(FakeExecutables::fakeProgramPath(), QStringLiteral("/usr/sbin/space_calculator")));
    m_fakes.activate();
}

void UpdateTest::init()
{
    m_fakes.reset();
    m_fakes.setScenario(QStringLiteral("df"), ext4Root);
    m_fakes.setScenario(QStringLiteral("dpkg-query"), installed.arg(QStringLiteral("0.1.32")));
}

QStringList UpdateTest::runUntil(NorvoUpdate& runner, const Commands& commands, const QStringList& arguments,
    const std::function<bool()>& done, int timeoutMs)
{
    QStringList log;
    connect(&runner, &NorvoUpdate::logUpdated, this, [&log](const QString& text) { log.append(text); });
    runner.start(commands, arguments);
    QElapsedTimer waited;
    waited.start();
    while (!done() && waited.elapsed() < timeoutMs)
        QTest::qWait(20);
    if (!done())
        QTest::qFail("the run did not reach its end in time", __FILE__, __LINE__);
    return log;
}

void UpdateTest::commandLines_data()
{
    QTest::addColumn<Commands>("commands");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QList<QStringList>>("calls");

    const QStringList expert {"-A", "-K", "-g", "/srv/a.iso", "/srv/b.iso"};
    QTest::newRow("imitation") << Commands {NorvoUpdate::Imitation} << expert
                               << QList<QStringList> {{"-A", "-K", "-g", "/srv/a.iso", "/srv/b.iso", "-n"}};
    QTest::newRow("update") << Commands {NorvoUpdate::Update} << expert << QList<QStringList> {expert};
    QTest::newRow("application update: switch off, update without -A and -K, switch on")
        << Commands {NorvoUpdate::ProgramUpdate} << expert
        << QList<QStringList> {{"-d"}, {"-g", "/srv/a.iso", "/srv/b.iso", "-p", "kiv-norvo-update"}, {"-e"}};
    QTest::newRow("application update imitation: no switch on afterwards")
        << Commands {NorvoUpdate::ProgramUpdateImitation} << expert
        << QList<QStringList> {{"-d"}, {"-g", "/srv/a.iso", "/srv/b.iso", "-n", "-p", "kiv-norvo-update"}};
    QTest::newRow("system repositories, imitation")
        << Commands {NorvoUpdate::Imitation} << QStringList {"-A", "-r"}
        << QList<QStringList> {{"-A", "-r", "-n"}};
    QTest::newRow("system repositories, application update")
        << Commands {NorvoUpdate::ProgramUpdate} << QStringList {"-A", "-r"}
        << QList<QStringList> {{"-d"}, {"-r", "-p", "kiv-norvo-update"}, {"-e"}};
    QTest::newRow("a source with a blank stays one argument")
        << Commands {NorvoUpdate::Update} << QStringList {"-A", "/srv/my update.iso"}
        << QList<QStringList> {{"-A", "/srv/my update.iso"}};
}

void UpdateTest::commandLines()
{
    QFETCH(Commands, commands);
    QFETCH(QStringList, arguments);
    QFETCH(QList<QStringList>, calls);
    NorvoUpdate runner;
    QSignalSpy errors(&runner, &NorvoUpdate::errorMsg);
    QSignalSpy imitation(&runner, &NorvoUpdate::imitationSuccess);
    QSignalSpy update(&runner, &NorvoUpdate::updateSuccess);
    const QStringList log = runUntil(runner, commands, arguments, [&]() {
        return !runner.isRunning() && m_fakes.calls(QStringLiteral("norvo-update")).size() >= calls.size();
    });
    QTest::qWait(100); // nothing more may come
    QCOMPARE(m_fakes.calls(QStringLiteral("norvo-update")), calls);
    for (const QStringList& call : calls)
        QVERIFY2(
            log.contains(QStringLiteral("Command line: norvo-update ") + call.join(QLatin1Char(' ')) + "\n"),
            qPrintable(log.join(QLatin1Char('|'))));
    QCOMPARE(errors.count(), 0);
}

void UpdateTest::exitRules_data()
{
    QTest::addColumn<Commands>("commands");
    QTest::addColumn<QString>("scenario"); // null: no norvo-update on the PATH
    QTest::addColumn<QStringList>("errors");
    QTest::addColumn<QList<bool>>("imitationSuccess");
    QTest::addColumn<int>("updateSuccess");
    QTest::addColumn<Commands>("queueAfter");

    QTest::newRow("imitation alone succeeds") << Commands {NorvoUpdate::Imitation} << "exit 0\n"
                                              << QStringList() << QList<bool> {true} << 0 << Commands {};
    QTest::newRow("imitation before an update")
        << Commands {NorvoUpdate::Imitation, NorvoUpdate::Update} << "exit 0\n"
        << QStringList() << QList<bool> {false} << 0 << Commands {NorvoUpdate::Update};
    QTest::newRow("imitation fails") << Commands {NorvoUpdate::Imitation} << "out Ошибка\\n\nexit 1\n"
                                     << QStringList {"The update is not success!"} << QList<bool> {} << 0
                                     << Commands {};
    QTest::newRow("update succeeds") << Commands {NorvoUpdate::Update} << "exit 0\n"
                                     << QStringList() << QList<bool> {} << 1 << Commands {};
    QTest::newRow("update crashes: reported twice")
        << Commands {NorvoUpdate::Update} << "signal SEGV\n"
        << QStringList {"The update crashed!", "The update crashed!"} << QList<bool> {} << 0 << Commands {};
    QTest::newRow("tool missing: reported once, command stays")
        << Commands {NorvoUpdate::Imitation} << QString() << QStringList {"The update failed to start!"}
        << QList<bool> {} << 0 << Commands {NorvoUpdate::Imitation};
}

void UpdateTest::exitRules()
{
    QFETCH(Commands, commands);
    QFETCH(QString, scenario);
    QFETCH(QStringList, errors);
    QFETCH(QList<bool>, imitationSuccess);
    QFETCH(int, updateSuccess);
    QFETCH(Commands, queueAfter);
    // A missing tool is missing whatever the machine has installed: the PATH holds the fakes alone.
    const QString tool = m_fakes.directory() + QStringLiteral("/norvo-update");
    const QString hidden = tool + QStringLiteral(".hidden");
    const QByteArray path = qgetenv("PATH");
    if (scenario.isNull()) {
        QFile::rename(tool, hidden);
        qputenv("PATH", QFile::encodeName(m_fakes.directory()));
    } else {
        m_fakes.setScenario(QStringLiteral("norvo-update"), scenario);
    }
    const auto restore = qScopeGuard([&]() {
        QFile::rename(hidden, tool);
        qputenv("PATH", path);
    });

    NorvoUpdate runner;
    QSignalSpy errorSpy(&runner, &NorvoUpdate::errorMsg);
    QSignalSpy imitationSpy(&runner, &NorvoUpdate::imitationSuccess);
    QSignalSpy updateSpy(&runner, &NorvoUpdate::updateSuccess);
    runUntil(runner, commands, {QStringLiteral("-A"), QStringLiteral("/srv/a.iso")}, [&]() {
        return errorSpy.count() >= errors.size() && imitationSpy.count() >= imitationSuccess.size()
            && updateSpy.count() >= updateSuccess && !runner.isRunning();
    });
    QTest::qWait(200); // nothing more may come
    QStringList seenErrors;
    for (const QList<QVariant>& signal : qAsConst(errorSpy))
        seenErrors.append(signal.at(0).toString());
    QCOMPARE(seenErrors, errors);
    QList<bool> seenImitation;
    for (const QList<QVariant>& signal : qAsConst(imitationSpy))
        seenImitation.append(signal.at(0).toBool());
    QCOMPARE(seenImitation, imitationSuccess);
    QCOMPARE(updateSpy.count(), updateSuccess);
    QCOMPARE(runner.commands(), queueAfter);
    QCOMPARE(runner.currentCommand(), commands.first());
}

void UpdateTest::outputIsRelayedAsItArrives()
{
    m_fakes.setScenario(QStringLiteral("norvo-update"),
        QStringLiteral(
            "out 50%\\r\nsleep 0.3\nerr warning\\n\nsleep 0.3\nout 60%\\r\nsleep 0.3\nout done\\n\n"));
    NorvoUpdate runner;
    QSignalSpy update(&runner, &NorvoUpdate::updateSuccess);
    const QStringList log = runUntil(
        runner, {NorvoUpdate::Update}, {QStringLiteral("-A")}, [&]() { return update.count() == 1; });
    QCOMPARE(log.mid(2).join(QString()), QStringLiteral("50%\rwarning\n60%\rdone\n"));
    // Chunks arrive as written, not joined or cut into lines; the carriage returns stay.
    QVERIFY2(log.size() - 2 >= 3, qPrintable(log.join(QLatin1Char('|'))));
}

void UpdateTest::simpleRunLogsInOrder()
{
    // A root on LVM, so the run takes a snapshot; tar takes two and a half seconds.
    m_fakes.setScenario(QStringLiteral("df"), lvmRoot);
    m_fakes.setScenario(QStringLiteral("tar"), QStringLiteral("sleep 2.5\n"));
    m_fakes.setScenario(QStringLiteral("norvo-update"), QStringLiteral("out tool output\\n\n"));
    NorvoUpdate runner;
    // What the window does in simple mode: go on after the imitation and after the snapshot.
    connect(&runner, &NorvoUpdate::imitationSuccess, &runner, &NorvoUpdate::nextCommand);
    connect(&runner, &NorvoUpdate::snapshotCreated, &runner, [&runner](Snapshot::ErrorCode code) {
        QCOMPARE(QThread::currentThread(), QCoreApplication::instance()->thread());
        QCOMPARE(code, Snapshot::Success);
        runner.nextCommand();
    });
    QSignalSpy update(&runner, &NorvoUpdate::updateSuccess);
    const QStringList arguments {"-A", "-m", "/srv/a.iso"};
    const QStringList log = runUntil(runner,
        {NorvoUpdate::ProgramUpdate, NorvoUpdate::Imitation, NorvoUpdate::CreateSnapshot,
            NorvoUpdate::Update},
        arguments, [&]() { return update.count() == 1; });
    const QStringList expected {"Application update...\n", "Command line: norvo-update -d\n", "tool output\n",
        "Command line: norvo-update -m /srv/a.iso -p kiv-norvo-update\n", "tool output\n",
        "Command line: norvo-update -e\n", "tool output\n", "Update imitation...\n",
        "Command line: norvo-update -A -m /srv/a.iso -n\n", "tool output\n",
        "Create system snapshot (lvsnap-kiv-norvo-update)...\n", "\rElapsed 00:00:01", "\rElapsed 00:00:02",
        "Update...\n", "Command line: norvo-update -A -m /srv/a.iso\n", "tool output\n"};
    QCOMPARE(log, expected);
    // The leftover snapshot was removed before the new one was taken.
    QCOMPARE(
        m_fakes.sequence().filter(QRegularExpression(QStringLiteral("^(umount|lvremove|tar|lvcreate)$"))),
        (QStringList {"umount", "lvremove", "tar", "lvcreate"}));
}

void UpdateTest::applicationUpdateChangesVersion_data()
{
    QTest::addColumn<QString>("versionAfter");
    QTest::addColumn<QString>("newVersion"); // null: the run goes on
    QTest::newRow("new version installed") << installed.arg(QStringLiteral("0.1.33")) << "0.1.33";
    QTest::newRow("version unchanged") << installed.arg(QStringLiteral("0.1.32")) << QString();
    QTest::newRow("version cannot be read afterwards") << QStringLiteral("exit 1\n") << QString();
}

void UpdateTest::applicationUpdateChangesVersion()
{
    QFETCH(QString, versionAfter);
    QFETCH(QString, newVersion);
    m_fakes.setScenario(QStringLiteral("dpkg-query"), versionAfter, 2);
    NorvoUpdate runner;
    QSignalSpy installedSpy(&runner, &NorvoUpdate::newVersionInstalled);
    QSignalSpy imitation(&runner, &NorvoUpdate::imitationSuccess);
    runUntil(runner, {NorvoUpdate::ProgramUpdate, NorvoUpdate::Imitation, NorvoUpdate::Update},
        {QStringLiteral("-A")}, [&]() { return installedSpy.count() + imitation.count() > 0; });
    const QList<QStringList> calls = m_fakes.calls(QStringLiteral("norvo-update"));
    if (newVersion.isNull()) {
        QCOMPARE(installedSpy.count(), 0);
        QCOMPARE(calls.size(), 4); // -d, the application, -e, the imitation
        QCOMPARE(runner.commands(), Commands {NorvoUpdate::Update});
    } else {
        QCOMPARE(installedSpy.count(), 1);
        QCOMPARE(installedSpy.at(0).at(0).toString(), newVersion);
        QCOMPARE(calls.size(), 3);
        QCOMPARE(calls.last(), QStringList {"-e"});
        QCOMPARE(runner.commands(), (Commands {NorvoUpdate::Imitation, NorvoUpdate::Update}));
    }
}

void UpdateTest::automaticUpdateBackOnAfterTheOwnUpdate_data()
{
    QTest::addColumn<QString>("ending");
    QTest::newRow("stopped on a package-manager error") << "stop";
    QTest::newRow("the update tool cannot start") << "missing";
    QTest::newRow("the own update fails") << "fails";
}

void UpdateTest::automaticUpdateBackOnAfterTheOwnUpdate()
{
    QFETCH(QString, ending);
    const QString tool = m_fakes.directory() + QStringLiteral("/norvo-update");
    const auto restoreTool = qScopeGuard([&]() {
        QFile::remove(tool);
        m_fakes.add(QStringLiteral("norvo-update"));
    });
    m_fakes.setScenario(QStringLiteral("norvo-update@kiv-norvo-update"),
        ending == QLatin1String("fails") ? QStringLiteral("exit 1\n")
                                         : QStringLiteral("out unpacking\\n\nhang\n"));
    // Gone after switching the timer off: written over by a file that cannot be run, with a PATH
    // of fakes only, so that no installed update tool answers in its place.
    const QByteArray path = qgetenv("PATH");
    const auto restorePath = qScopeGuard([&path] { qputenv("PATH", path); });
    if (ending == QLatin1String("missing")) {
        m_fakes.setScenario(QStringLiteral("norvo-update@-d"), QStringLiteral("write %1 gone\n").arg(tool));
        qputenv("PATH", QFile::encodeName(m_fakes.directory()));
    }
    NorvoUpdate runner;
    QSignalSpy errors(&runner, &NorvoUpdate::errorMsg);
    QStringList log;
    connect(&runner, &NorvoUpdate::logUpdated, &runner, [&log](const QString& text) { log.append(text); });
    runner.start({NorvoUpdate::ProgramUpdate, NorvoUpdate::Update},
        {QStringLiteral("-A"), QStringLiteral("/srv/a.iso")});
    if (ending == QLatin1String("stop")) {
        QTRY_COMPARE_WITH_TIMEOUT(m_fakes.calls(QStringLiteral("norvo-update")).size(), 2, 10000);
        runner.stop();
        QTRY_COMPARE_WITH_TIMEOUT(m_fakes.calls(QStringLiteral("norvo-update")).size(), 3, 20000);
        QCOMPARE(m_fakes.calls(QStringLiteral("norvo-update")).last(), QStringList {"-e"});
        QCOMPARE(errors.count(), 0);
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(errors.count(), 1, 10000);
        QCOMPARE(errors.at(0).at(0).toString(),
            ending == QLatin1String("fails") ? QStringLiteral("The update is not success!")
                                             : QStringLiteral("The update failed to start!"));
    }
    QVERIFY2(log.contains(QStringLiteral("Command line: norvo-update -e\n")),
        qPrintable(log.join(QLatin1Char('|'))));
    // The queue stays for the window to decide.
    QCOMPARE(runner.commands().first(),
        ending == QLatin1String("fails") ? NorvoUpdate::Update : NorvoUpdate::ProgramUpdate);
}

void UpdateTest::switchPastItsTimeIsEnded()
{
    m_fakes.setScenario(QStringLiteral("norvo-update"), QStringLiteral("hang\n"), 1);
    NorvoUpdate runner;
    QSignalSpy errors(&runner, &NorvoUpdate::errorMsg);
    QSignalSpy imitation(&runner, &NorvoUpdate::imitationSuccess);
    const QStringList log = runUntil(
        runner, {NorvoUpdate::ProgramUpdateImitation, NorvoUpdate::Imitation}, {QStringLiteral("-A")},
        [&]() { return imitation.count() == 1; }, 60000);
    QVERIFY(
        log.contains(QStringLiteral("The switch command did not end within 30 seconds and was stopped.\n")));
    QCOMPARE(m_fakes.calls(QStringLiteral("norvo-update")),
        (QList<QStringList> {{"-d"}, {"-n", "-p", "kiv-norvo-update"}, {"-A", "-n"}}));
    QCOMPARE(errors.count(), 0);
}

void UpdateTest::stopThenStartRunsTheNewQueueOnly()
{
    m_fakes.setScenario(QStringLiteral("norvo-update"), QStringLiteral("out working\\n\nhang\n"), 1);
    NorvoUpdate runner;
    QSignalSpy errors(&runner, &NorvoUpdate::errorMsg);
    QSignalSpy imitation(&runner, &NorvoUpdate::imitationSuccess);
    QSignalSpy update(&runner, &NorvoUpdate::updateSuccess);
    QSignalSpy output(&runner, &NorvoUpdate::logUpdated);
    runner.start({NorvoUpdate::Update}, {QStringLiteral("-A")});
    QTRY_VERIFY(output.count() >= 3);
    runner.stop();
    runner.start({NorvoUpdate::Imitation}, {QStringLiteral("-A")});
    QTRY_COMPARE(imitation.count(), 1);
    QTest::qWait(300);
    QCOMPARE(errors.count(), 0);
    QCOMPARE(update.count(), 0);
    QCOMPARE(imitation.at(0).at(0).toBool(), true);
}

void UpdateTest::stopEndsTheToolWhileSignalsAreIgnored()
{
    m_fakes.setScenario(QStringLiteral("norvo-update"), QStringLiteral("out working\\n\nhang\n"));
    NorvoUpdate runner;
    runner.setSignalsIgnored(true);
    QSignalSpy output(&runner, &NorvoUpdate::logUpdated);
    runner.start({NorvoUpdate::Update}, {QStringLiteral("-A")});
    QTRY_VERIFY(output.count() >= 3);
    runner.stop();
    QTRY_VERIFY_WITH_TIMEOUT(!runner.isRunning(), 3000);
    runner.setSignalsIgnored(false);
}

void UpdateTest::terminationSignalsIgnoredDuringARun()
{
    NorvoUpdate runner;
    const auto handlers = []() {
        QList<bool> ignored;
        for (const int signal : {SIGQUIT, SIGINT, SIGTERM, SIGHUP}) {
            struct sigaction action = {};
            sigaction(signal, nullptr, &action);
            ignored.append(action.sa_handler == SIG_IGN);
        }
        return ignored;
    };
    runner.setSignalsIgnored(true);
    QCOMPARE(handlers(), (QList<bool> {true, true, true, true}));
    ::raise(SIGTERM);
    ::raise(SIGHUP);
    QVERIFY(true); // still alive
    runner.setSignalsIgnored(false);
    QCOMPARE(handlers(), (QList<bool> {false, false, false, false}));
    struct sigaction action = {};
    sigaction(SIGTERM, nullptr, &action);
    QVERIFY(action.sa_handler == SIG_DFL);
}

void UpdateTest::rebootStartsRebootAndEndsTheLoop()
{
    NorvoUpdate runner;
    runner.setSignalsIgnored(true);
    QEventLoop loop;
    QTimer::singleShot(0, &runner, &NorvoUpdate::reboot);
    QTimer::singleShot(5000, &loop, [&loop]() { loop.exit(42); });
    QCOMPARE(loop.exec(), 0);
    QTRY_COMPARE(m_fakes.calls(QStringLiteral("reboot")), QList<QStringList> {QStringList {}});
    struct sigaction action = {};
    sigaction(SIGTERM, nullptr, &action);
    QVERIFY(action.sa_handler == SIG_DFL);
}

void UpdateTest::snapshotKindAndSize_data()
{
    QTest::addColumn<QString>("df");
    QTest::addColumn<QString>("estimate");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<double>("size");

    QTest::newRow("LVM, estimate 12") << lvmRoot << "out 12\\n\n"
                                      << "LvmSnapshot" << 12.0;
    QTest::newRow("LVM, estimate 4: the floor") << lvmRoot << "out 4\\n\n"
                                                << "LvmSnapshot" << 6.0;
    QTest::newRow("LVM, last line counts") << lvmRoot << "out about\\n20\\n\\n\n"
                                           << "LvmSnapshot" << 20.0;
    QTest::newRow("LVM, no estimate") << lvmRoot << "exit 1\n"
                                      << "LvmSnapshot" << 6.0;
    QTest::newRow("LVM, not a number") << lvmRoot << "out lots\\n\n"
                                       << "LvmSnapshot" << 6.0;
    QTest::newRow("LVM, negative") << lvmRoot << "out -3\\n\n"
                                   << "LvmSnapshot" << 6.0;
    QTest::newRow("XFS on a partition") << xfsRoot << "out 12\\n\n"
                                        << "XfsSnapshot" << 0.0;
    QTest::newRow("ext4: no snapshot") << ext4Root << "out 12\\n\n"
                                       << "" << 0.0;
    QTest::newRow("no root found") << "exit 1\n"
                                   << "out 12\\n\n"
                                   << "" << 0.0;
}

void UpdateTest::snapshotKindAndSize()
{
    QFETCH(QString, df);
    QFETCH(QString, estimate);
    QFETCH(QString, kind);
    QFETCH(double, size);
    m_fakes.setScenario(QStringLiteral("df"), df);
    m_fakes.setScenario(QStringLiteral("space_calculator"), estimate);
    NorvoUpdate runner;
    const QSharedPointer<Snapshot> snapshot = runner.snapshot();
    QCOMPARE(snapshot ? QString::fromLatin1(snapshot->metaObject()->className()) : QString(), kind);
    if (snapshot) {
        QCOMPARE(snapshot->size(), size);
        QCOMPARE(snapshot->thread() == QCoreApplication::instance()->thread(), false);
    }
    // The estimate is asked for only on LVM.
    QCOMPARE(m_fakes.calls(QStringLiteral("space_calculator")).size(),
        kind == QLatin1String("LvmSnapshot") ? 1 : 0);
}

void UpdateTest::filledSnapshotVolumeIsReported()
{
    // This kernel has no device-mapper: lvs reports the fill level the test writes.
    const QString level = m_fakes.directory() + QStringLiteral("/data_percent");
    TestHelpers::writeFile(level, "  50.00\n");
    m_fakes.setScenario(QStringLiteral("df"), lvmRoot);
    m_fakes.setScenario(QStringLiteral("lvs"), QStringLiteral("cat %1\n").arg(level));
    m_fakes.setScenario(QStringLiteral("norvo-update"), QStringLiteral("hang\n"));
    QStringList log;
    NorvoUpdate runner;
    connect(&runner, &NorvoUpdate::snapshotCreated, &runner, &NorvoUpdate::nextCommand);
    connect(&runner, &NorvoUpdate::logUpdated, &runner, [&log](const QString& text) { log.append(text); });
    runner.start({NorvoUpdate::CreateSnapshot, NorvoUpdate::Update}, {QStringLiteral("-A")});
    QTRY_COMPARE_WITH_TIMEOUT(m_fakes.calls(QStringLiteral("lvs")).size(), 1, 20000);
    QCOMPARE(m_fakes.calls(QStringLiteral("lvs")).first(),
        (QStringList {"--noheadings", "-o", "data_percent", "vg0/lvsnap-kiv-norvo-update"}));

    const auto warnings
        = [&log]() { return log.filter(QStringLiteral("is ")).filter(QStringLiteral("% full")); };
    TestHelpers::writeFile(level, "  85.20\n");
    QTRY_COMPARE_WITH_TIMEOUT(warnings().size(), 1, 20000);
    QCOMPARE(warnings().first(),
        QStringLiteral(
            "The snapshot volume vg0/lvsnap-kiv-norvo-update is 85.2% full. A full snapshot can no "
            "longer be restored: \"lvextend -L +2G vg0/lvsnap-kiv-norvo-update\" makes it larger.\n"));
    TestHelpers::writeFile(level, "  97.00\n");
    QTRY_COMPARE_WITH_TIMEOUT(warnings().size(), 2, 20000);
    QVERIFY(warnings().last().contains(QLatin1String(" is 97.0% full.")));

    // Once the update has ended, the volume is no longer read.
    runner.stop();
    const int reads = m_fakes.calls(QStringLiteral("lvs")).size();
    QTest::qWait(6000);
    QCOMPARE(m_fakes.calls(QStringLiteral("lvs")).size(), reads);
}

void UpdateTest::elapsedAndBulletinTexts()
{
    QCOMPARE(NorvoUpdate::elapsedText(3725000), QStringLiteral("\rElapsed 01:02:05"));
    QCOMPARE(NorvoUpdate::elapsedText(90000000), QStringLiteral("\rElapsed 01:00:00"));
    NorvoUpdate runner;
    QCOMPARE(runner.bulletinNumber(QStringLiteral(
                 "Norvo Linux 1.7\nUpdate 1.7.3 installed (BULLETIN № 2024-0301SE17)\nAvailable")),
        QStringLiteral("2024-0301SE17)"));
    QCOMPARE(
        runner.bulletinNumber(QStringLiteral("Update 1.7.3 installed (BULLETIN № \n")), QStringLiteral(""));
    QVERIFY(runner.bulletinNumber(QStringLiteral("no number here")).isNull());
}

QTEST_GUILESS_MAIN(UpdateTest)
#include "tst_update.moc"
