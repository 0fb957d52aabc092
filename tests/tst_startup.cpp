#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include "fakeexecutables.h"
#include "testfiles.h"

// The program's start: the checks in their order with their warnings. The program
// runs in the sandbox with fake dpkg, dpkg-query and systemctl; an observer built into it answers
// its boxes and reports what it showed.
class StartupTest final : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakeExecutables> m_fakes;
    std::unique_ptr<QTemporaryDir> m_shared;
    std::unique_ptr<QProcess> m_program;

    // Started by root unless asNobody; with instancesMode, in a /run of its own where the folder of
    // the instances' lock has that mode.
    void startProgram(bool asNobody, const QString& instancesMode)
    {
        // A copy in the test's own folder, which an ordinary user can enter: the build tree may lie
        // where only root can.
        const QString program = m_shared->filePath("kiv-norvo-update");
        if (!QFile::copy(KIV_OBSERVED_PROGRAM, program))
            qWarning("cannot copy the program to %s", qPrintable(program));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("KIV_FAKE_DIR", m_fakes->directory());
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        // A runtime directory of its own, so that another run on the machine is not taken for a
        // running instance.
        environment.insert("XDG_RUNTIME_DIR", m_shared->filePath("runtime"));
        environment.insert("KIV_OBSERVER_JOURNAL", m_shared->filePath("journal"));
        // Only the fakes and the program itself are on its PATH, so a program that is not faked is
        // missing.
        QStringList command {
            "/usr/bin/env", "PATH=" + m_fakes->directory() + ':' + m_shared->path(), program};
        if (asNobody) {
            if (::chown(QFile::encodeName(m_shared->filePath("runtime")).constData(), 65534, 65534) != 0)
                qWarning("cannot give the runtime directory to nobody");
            command = TestHelpers::asNobody + command;
        }
        QStringList sandbox {"--"};
        if (!instancesMode.isEmpty()) {
            sandbox = QStringList {"--overlay", "/run", "--", "sh", "-c",
                "mkdir -p /run/kiv-norvo-update && chmod " + instancesMode
                    + " /run/kiv-norvo-update && exec \"$@\"",
                "sh"};
        }
        m_program = std::make_unique<QProcess>();
        m_program->setProcessEnvironment(environment);
        m_program->start(FakeExecutables::sandboxRunPath(), sandbox + command);
    }

private slots:
    void init()
    {
        m_fakes = std::make_unique<FakeExecutables>();
        m_shared = std::make_unique<QTemporaryDir>("/tmp/kiv-startup.XXXXXX");
        // Shared with an unprivileged run, which writes the journal here; sticky, like /tmp, so that
        // no one else can swap root's copy of the program for another.
        ::chmod(QFile::encodeName(m_shared->path()).constData(), 01777);
        ::mkdir(QFile::encodeName(m_shared->filePath("runtime")).constData(), 0700);
    }

    void cleanup()
    {
        // The program is the process the test started (the sandbox execs it), so only it is ended.
        if (m_program) {
            m_program->kill();
            m_program->waitForFinished(5000);
        }
    }

    // The real program runs with scripted dpkg, dpkg-query and systemctl, and the observer inside
    // it answers every box with its first button.
    void checksRunInOrder_data()
    {
        // Who starts it: "nobody", an ordinary user, or "root", with a mode given to root's folder of
        // the instances' lock.
        QTest::addColumn<QString>("start");
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
            << "nobody" << QStringList {installed} + activeService
            << QStringList {"box Warning!|You should run this application with superuser privileges.|2|OK"}
            << "" << QStringList {};
        QTest::newRow("service active: warning, then the window")
            << "root" << QStringList {installed} + activeService
            << QStringList {"box Warning!|The automatic update service is active!\\nPlease, check "
                            "'norvo-update-service' status|2|OK",
                   window}
            << "" << QStringList {dpkg, query, loadState, isActive};
        QTest::newRow("the folder of the instances writable by others: refused with the reason")
            << "root 0775" << QStringList {installed} << QStringList {"box Warning!|" + refusal + "|3|OK"}
            << refusal << QStringList {};
    }

    void checksRunInOrder()
    {
        QFETCH(const QString, start);
        QFETCH(const QStringList, fakes);
        QFETCH(const QStringList, shown);
        QFETCH(const QString, says);
        QFETCH(const QStringList, calls);
        m_fakes->addDirectives(fakes);
        startProgram(start == "nobody", start.section(' ', 1));
        QVERIFY(m_program->waitForFinished(60000));
        QCOMPARE(m_program->exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_program->exitCode(), 0);
        const QString errors = QString::fromUtf8(m_program->readAllStandardError());
        QVERIFY2(errors.contains(says), qPrintable(says + " | " + errors));
        // The observer's journal: "box TITLE|TEXT|ICON|BUTTONS" or "window TITLE", a line each.
        QCOMPARE(QString::fromUtf8(TestHelpers::readFile(m_shared->filePath("journal")))
                     .split('\n', Qt::SkipEmptyParts),
            shown);
        // The window asks dpkg-query about other packages too.
        QCOMPARE(m_fakes->callsInOrder({"dpkg", "dpkg-query", "systemctl"})
                     .filter(QRegularExpression("^(dpkg |systemctl |dpkg-query .* norvo-update-service$)")),
            calls);
    }
};

QTEST_GUILESS_MAIN(StartupTest)
#include "tst_startup.moc"
