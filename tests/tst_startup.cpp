#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include "fakeexecutables.h"
#include "testfiles.h"

// The program's start: single instance, the checks in their order with their warnings. The program
// runs in the sandbox with fake dpkg, dpkg-query and systemctl; an observer built into it answers
// its boxes and reports what it showed.
class StartupTest final : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakeExecutables> m_fakes;
    std::unique_ptr<QTemporaryDir> m_shared;
    QList<QProcess*> m_programs;
    // The program itself is not on its PATH, so that it cannot start itself again.
    bool m_offPath = false;

    // Started by root unless asNobody; with instancesMode, in a /run of its own where the folder of
    // the instances' lock has that mode; with a name, through a copy of that name.
    QProcess* startProgram(const QStringList& extraEnvironment = {}, bool asNobody = false,
        const QString& instancesMode = {}, const QString& name = {})
    {
        // An ordinary user runs a copy in the test's own folder: the build tree may lie where
        // only root can enter.
        const QString program = asNobody || !name.isEmpty()
            ? copyForEveryone(KIV_OBSERVED_PROGRAM, name.isEmpty() ? "kiv-norvo-update" : name)
            : QString(KIV_OBSERVED_PROGRAM);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("KIV_FAKE_DIR", m_fakes->directory());
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("XDG_RUNTIME_DIR", m_shared->filePath("runtime"));
        environment.insert("KIV_OBSERVER_JOURNAL", m_shared->filePath("journal"));
        for (const QString& variable : extraEnvironment)
            environment.insert(variable.section('=', 0, 0), variable.section('=', 1));
        // Only the fakes and the program itself are on its PATH, so a program that is not faked is
        // missing.
        QStringList command {"/usr/bin/env",
            "PATH=" + m_fakes->directory()
                + (m_offPath ? QString() : ':' + QFileInfo(program).absolutePath()),
            program};
        if (asNobody) {
            // A runtime directory of its own, so that another run on the machine is not taken for a
            // running instance.
            const QString runtime = m_shared->filePath("runtime-nobody");
            if (::mkdir(QFile::encodeName(runtime).constData(), 0700) != 0
                || ::chown(QFile::encodeName(runtime).constData(), 65534, 65534) != 0)
                qWarning("cannot give %s to nobody", qPrintable(runtime));
            environment.insert("XDG_RUNTIME_DIR", runtime);
            command = TestHelpers::asNobody + command;
        }
        QStringList sandbox {"--"};
        if (!instancesMode.isEmpty()) {
            sandbox = QStringList {"--overlay", "/run", "--", "sh", "-c",
                "mkdir -p /run/kiv-norvo-update && chmod " + instancesMode
                    + " /run/kiv-norvo-update && exec \"$@\"",
                "sh"};
        }
        auto* process = new QProcess;
        process->setProcessEnvironment(environment);
        process->start(FakeExecutables::sandboxRunPath(), sandbox + command);
        m_programs.append(process);
        return process;
    }

    QString copyForEveryone(const QString& program, const QString& name) const
    {
        const QString folder = m_shared->filePath("bin");
        const QString copy = folder + '/' + name;
        if (QFile::exists(copy))
            return copy;
        if (!QDir().mkpath(folder) || !QFile::copy(program, copy)
            || ::chmod(QFile::encodeName(folder).constData(), 0755) != 0
            || ::chmod(QFile::encodeName(copy).constData(), 0755) != 0)
            qWarning("cannot copy %s where an ordinary user may run it", qPrintable(program));
        return copy;
    }

    // The observer's journal: a line "PID<tab>EVENT<tab>DETAILS" for each thing it saw.
    QStringList journal() const
    {
        return QString::fromUtf8(TestHelpers::readFile(m_shared->filePath("journal")))
            .split('\n', Qt::SkipEmptyParts);
    }

    // What the first instance showed after its start, each as "EVENT DETAILS".
    QStringList shownFirst() const
    {
        const QStringList lines = journal();
        const QString first = lines.value(0).section('\t', 0, 0);
        QStringList events;
        for (const QString& line : lines) {
            if (line.section('\t', 0, 0) == first && !line.contains("\tstart\t"))
                events << QString(line.section('\t', 1, 1) + ' ' + line.section('\t', 2)).trimmed();
        }
        return events;
    }

    int windowsShown() const { return journal().filter("\twindow\t").size(); }

private slots:
    void init()
    {
        m_fakes = std::make_unique<FakeExecutables>();
        m_offPath = false;
        m_shared = std::make_unique<QTemporaryDir>("/tmp/kiv-startup.XXXXXX");
        // Shared with an unprivileged run, which writes the journal here.
        ::chmod(QFile::encodeName(m_shared->path()).constData(), 0777);
        ::mkdir(QFile::encodeName(m_shared->filePath("runtime")).constData(), 0700);
    }

    void cleanup()
    {
        // Each instance is the process the test started (the sandbox execs it), so only those
        // are ended.
        for (QProcess* program : qAsConst(m_programs)) {
            program->kill();
            program->waitForFinished(5000);
            delete program;
        }
        m_programs.clear();
    }

    // The real program runs with scripted dpkg, dpkg-query and systemctl, and the observer inside
    // it answers every box with its first button.
    void checksRunInOrder_data()
    {
        QTest::addColumn<bool>("nobody"); // started by an ordinary user, else by root
        QTest::addColumn<QString>("instances"); // the mode of root's folder of the instances' lock
        // The window asks for a restart, and the program cannot find itself to start again.
        QTest::addColumn<bool>("restart");
        // Lines of scripted programs (tests/support/fake-program), "NAME#N:" for the N-th call
        // only; a program without a line is missing.
        QTest::addColumn<QStringList>("fakes");
        // What the program showed, in order: "box TITLE|TEXT|ICON|BUTTONS", or "window TITLE".
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<QString>("says"); // on standard error
        // Every question the start-up checks asked, in order: of dpkg, of systemctl, and of
        // dpkg-query about the service package.
        QTest::addColumn<QStringList>("calls");
        const QString window = "window Kiv norvo update";
        const QString notInstalled = "box Warning!|Package norvo-update is not installed!|2|OK";
        const QString notRestarted
            = "The program could not be started again to carry on with the update. Start "
              "it yourself: it carries on where it stopped.";
        const QString refusal
            = "The program cannot start: its lock folder /run/kiv-norvo-update must belong to "
              "you and be writable by you alone. Correct its owner and mode, or remove it, and "
              "start the program again.";
        const QString dpkg = "dpkg -s norvo-update";
        const QString query
            = "dpkg-query -W -f=${db:Status-Abbrev}\\t${Package}\\t${Version}\\n -- norvo-update-service";
        const QString loadState = "systemctl show --property=LoadState --value -- norvo-update-service";
        const QString isActive = "systemctl is-active -- norvo-update-service";
        const QString installed = "dpkg: exit 0";
        const QString serviceInstalled = "dpkg-query: out ii \\tnorvo-update-service\\t1.0\\n";
        const QStringList activeService {
            serviceInstalled, "systemctl#1: out loaded\\n", "systemctl#2: out active\\n"};
        QTest::newRow("not the superuser: only that warning")
            << true << "" << false << QStringList {installed} + activeService
            << QStringList {"box Warning!|You should run this application with superuser privileges.|2|OK"}
            << "" << QStringList {};
        QTest::newRow("update tool not installed")
            << false << "" << false << QStringList {"dpkg: exit 1"} + activeService
            << QStringList {notInstalled} << "" << QStringList {dpkg};
        QTest::newRow("dpkg missing: the start goes on")
            << false << "" << false << QStringList {"dpkg-query: exit 1"} << QStringList {window} << ""
            << QStringList {query};
        QTest::newRow("service active: warning, then the window")
            << false << "" << false << QStringList {installed} + activeService
            << QStringList {"box Warning!|The automatic update service is active!\\nPlease, check "
                            "'norvo-update-service' status|2|OK",
                   window}
            << "" << QStringList {dpkg, query, loadState, isActive};
        QTest::newRow("no systemd running")
            << false << "" << false
            << QStringList {installed, serviceInstalled,
                   "systemctl#1: err System has not been booted with systemd\\n", "systemctl#1: exit 1"}
            << QStringList {window} << "" << QStringList {dpkg, query, loadState};
        QTest::newRow("service package absent: systemd not asked")
            << false << "" << false << QStringList {installed, "dpkg-query: exit 1"} << QStringList {window}
            << "" << QStringList {dpkg, query};
        QTest::newRow("the folder of the instances writable by others: refused with the reason")
            << false << "0775" << false << QStringList {installed}
            << QStringList {"box Warning!|" + refusal + "|3|OK"} << refusal << QStringList {};
        QTest::newRow("a restart that cannot be started is said")
            << false << "" << true << QStringList {installed, "dpkg-query: exit 1"}
            << QStringList {window, "box Warning!|" + notRestarted + "|3|OK"} << notRestarted
            << QStringList {dpkg, query};
    }

    void checksRunInOrder()
    {
        QFETCH(const bool, nobody);
        QFETCH(const QString, instances);
        QFETCH(const bool, restart);
        QFETCH(const QStringList, fakes);
        QFETCH(const QStringList, shown);
        QFETCH(const QString, says);
        QFETCH(const QStringList, calls);
        m_fakes->addDirectives(fakes);
        m_offPath = restart;
        QProcess* program = startProgram(
            m_offPath ? QStringList {"KIV_OBSERVER_EXIT_CODE=100"} : QStringList {}, nobody, instances);
        QVERIFY(program->waitForFinished(60000));
        QCOMPARE(program->exitStatus(), QProcess::NormalExit);
        QCOMPARE(program->exitCode(), 0);
        const QString errors = QString::fromUtf8(program->readAllStandardError());
        QVERIFY2(errors.contains(says), qPrintable(says + " | " + errors));
        QCOMPARE(shownFirst(), shown);
        // The window asks dpkg-query about other packages too.
        QCOMPARE(m_fakes->callsInOrder({"dpkg", "dpkg-query", "systemctl"})
                     .filter(QRegularExpression("^(dpkg |systemctl |dpkg-query .* norvo-update-service$)")),
            calls);
    }

    void secondInstanceExitsAtOnceAndAKilledOneDoesNotBlock()
    {
        // The update tool installed, the service package not.
        m_fakes->addDirectives({"dpkg: exit 0", "dpkg-query: exit 1"});
        QProcess* first = startProgram({"KIV_OBSERVER_KEEP_OPEN=1"});
        QTRY_COMPARE_WITH_TIMEOUT(windowsShown(), 1, 20000);
        QCOMPARE(journal().value(0).section('\t', 0, 0), QString::number(first->processId()));

        // The second comes through pkexec, without the first one's runtime directory, and through
        // a link of another name; it makes no check of its own.
        QProcess* second = startProgram({"XDG_RUNTIME_DIR=", "TMPDIR=/var/tmp"}, false, {}, "kiv-update");
        QVERIFY(second->waitForFinished(20000));
        QCOMPARE(second->exitCode(), 255); // -1
        QCOMPARE(m_fakes->calls("dpkg").size(), 1);
        QCOMPARE(first->state(), QProcess::Running);

        // A killed instance leaves its lock behind; it must not refuse the next start, even with a
        // child it had forked and not yet started holding the lock file open and flocked.
        first->kill();
        QVERIFY(first->waitForFinished(10000));
        const int inherited = ::open("/run/kiv-norvo-update/kiv-norvo-update-0.lock", O_RDWR | O_CLOEXEC);
        const auto close = qScopeGuard([inherited] { ::close(inherited); });
        QVERIFY(inherited >= 0 && ::flock(inherited, LOCK_EX | LOCK_NB) == 0);
        QProcess* third = startProgram();
        QVERIFY(third->waitForFinished(20000));
        QCOMPARE(third->exitCode(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(windowsShown(), 2, 20000);
    }
};

QTEST_GUILESS_MAIN(StartupTest)
#include "tst_startup.moc"
