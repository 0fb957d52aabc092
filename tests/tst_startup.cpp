#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include "fakeexecutables.h"
#include "scenariotable.h"
#include "testfiles.h"

// The program's start: single instance, the checks in their order with their warnings, and the
// restart after it has updated itself. The program runs in the sandbox with fake dpkg, dpkg-query
// and systemctl; an observer built into it answers its boxes and reports what it showed.
class StartupTest final : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void checksRunInOrder_data();
    void checksRunInOrder();
    void hangingDpkgDoesNotBlockTheStart();
    void secondInstanceExitsAtOnceAndAKilledOneDoesNotBlock();

private:
    QProcess* startProgram(const QStringList& extraEnvironment = {}, bool asNobody = false);
    // The observer's journal: a line "PID<tab>EVENT<tab>DETAILS" for each thing it saw.
    QStringList journal() const;
    // What the first instance showed after its start, each as "EVENT DETAILS".
    QStringList shownFirst() const;
    int windowsShown() const { return journal().filter("\twindow\t").size(); }

    std::unique_ptr<FakeExecutables> m_fakes;
    std::unique_ptr<QTemporaryDir> m_shared;
    QList<QProcess*> m_programs;
};

void StartupTest::init()
{
    m_fakes = std::make_unique<FakeExecutables>();
    m_shared = std::make_unique<QTemporaryDir>("/tmp/kiv-startup.XXXXXX");
    // Shared with an unprivileged run: the journal and the runtime directory must be writable.
    QFile::setPermissions(m_shared->path(),
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner | QFileDevice::ReadOther
            | QFileDevice::WriteOther | QFileDevice::ExeOther);
    QDir(m_shared->path()).mkdir("runtime");
    QFile::setPermissions(m_shared->filePath("runtime"),
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

void StartupTest::cleanup()
{
    for (const QString& line : journal())
        ::kill(pid_t(line.section('\t', 0, 0).toInt()), SIGKILL);
    for (QProcess* program : qAsConst(m_programs)) {
        program->waitForFinished(5000);
        delete program;
    }
    m_programs.clear();
    m_fakes.reset();
    m_shared.reset();
}

QProcess* StartupTest::startProgram(const QStringList& extraEnvironment, bool asNobody)
{
    const QString program = QStringLiteral(KIV_OBSERVED_PROGRAM);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("KIV_FAKE_DIR", m_fakes->directory());
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("XDG_RUNTIME_DIR", m_shared->filePath("runtime"));
    environment.insert("KIV_OBSERVER_JOURNAL", m_shared->filePath("journal"));
    for (const QString& variable : extraEnvironment)
        environment.insert(variable.section('=', 0, 0), variable.section('=', 1));

    // Only the fakes and the program itself are on its PATH, so a program that is not faked is missing.
    QStringList command {"--", "/usr/bin/env",
        "PATH=" + m_fakes->directory() + ':' + QFileInfo(program).absolutePath(), program};
    if (asNobody) {
        // A runtime directory of its own, so that another run on the machine is not taken for a
        // running instance.
        const QString runtime = m_shared->filePath("runtime-nobody");
        QDir().mkdir(runtime);
        QFile::setPermissions(
            runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        if (::chown(QFile::encodeName(runtime).constData(), 65534, 65534) != 0)
            qWarning("cannot give %s to nobody", qPrintable(runtime));
        environment.insert("XDG_RUNTIME_DIR", runtime);
    }
    if (asNobody)
        command = QStringList {"--", "/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"}
            + command.mid(1);
    auto* process = new QProcess;
    process->setProcessEnvironment(environment);
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(FakeExecutables::sandboxRunPath(), command);
    m_programs.append(process);
    return process;
}

QStringList StartupTest::journal() const
{
    return m_shared ? QString::fromUtf8(TestHelpers::readFile(m_shared->filePath("journal")))
                          .split('\n', Qt::SkipEmptyParts)
                    : QStringList();
}

QStringList StartupTest::shownFirst() const
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

void StartupTest::checksRunInOrder_data()
{
    addRows("startup-checks.txt", {"nobody", "fake", "shown", "queries", "systemctl"});
}

void StartupTest::checksRunInOrder()
{
    QFETCH(QStringList, nobody);
    QFETCH(QStringList, fake);
    QFETCH(QStringList, shown);
    QFETCH(QStringList, queries);
    QFETCH(QStringList, systemctl);
    m_fakes->addDirectives(fake);
    QProcess* program = startProgram({}, !nobody.isEmpty());
    QVERIFY(program->waitForFinished(60000));
    QCOMPARE(program->exitStatus(), QProcess::NormalExit);
    QCOMPARE(program->exitCode(), 0);
    QCOMPARE(shownFirst(), shown);
    QCOMPARE(m_fakes->calls("dpkg"),
        (!nobody.isEmpty() || fake.filter(QRegularExpression("^dpkg: ")).isEmpty()
                ? QList<QStringList> {}
                : QList<QStringList> {{"-s", "norvo-update"}}));
    // The window asks dpkg-query about other packages too; the start-up checks ask about the service.
    int serviceQueries = 0;
    for (const QStringList& call : m_fakes->calls("dpkg-query"))
        serviceQueries += call.endsWith("norvo-update-service") ? 1 : 0;
    QCOMPARE(QString::number(serviceQueries), queries.value(0));
    const QList<QStringList> asked = m_fakes->calls("systemctl");
    QCOMPARE(QString::number(asked.size()), systemctl.value(0));
    QCOMPARE(asked,
        (QList<QStringList> {{"show", "--property=LoadState", "--value", "--", "norvo-update-service"},
             {"is-active", "--", "norvo-update-service"}})
            .mid(0, asked.size()));
}

void StartupTest::hangingDpkgDoesNotBlockTheStart()
{
    m_fakes->addDirectives({"dpkg: hang", "dpkg-query: exit 1"});
    QElapsedTimer timer;
    timer.start();
    QProcess* program = startProgram();
    QVERIFY(program->waitForFinished(90000));
    QCOMPARE(program->exitCode(), 0);
    QVERIFY2(timer.elapsed() >= 29000, "dpkg was given less than its 30 seconds");
    QCOMPARE(shownFirst(), QStringList {"window Kiv norvo update"});
}

void StartupTest::secondInstanceExitsAtOnceAndAKilledOneDoesNotBlock()
{
    // The update tool installed, the service package not.
    m_fakes->addDirectives({"dpkg: exit 0", "dpkg-query: exit 1"});
    QProcess* first = startProgram({"KIV_OBSERVER_KEEP_OPEN=1"});
    QTRY_COMPARE_WITH_TIMEOUT(windowsShown(), 1, 20000);
    const pid_t firstPid = journal().value(0).section('\t', 0, 0).toInt();

    // The second comes through pkexec, without the first one's runtime directory.
    QElapsedTimer timer;
    timer.start();
    QProcess* second = startProgram({"XDG_RUNTIME_DIR=", "TMPDIR=/var/tmp"});
    QVERIFY(second->waitForFinished(20000));
    QCOMPARE(second->exitCode(), 255); // -1
    QVERIFY2(timer.elapsed() < 10000, qPrintable(QString::number(timer.elapsed())));
    // The first window stays as it was: nothing raises it.
    QTest::qWait(500);
    QCOMPARE(journal().size(), 3); // first: start, window; second: start only
    QVERIFY(journal().last().contains("\tstart\t"));
    QCOMPARE(m_fakes->calls("dpkg").size(), 1);
    QCOMPARE(first->state(), QProcess::Running);

    // A killed instance leaves its lock behind; it must not refuse the next start, even with a
    // child it had forked and not yet started holding the lock file open and flocked.
    ::kill(pid_t(firstPid), SIGKILL);
    QVERIFY(first->waitForFinished(10000));
    const int inherited = ::open("/run/kiv-norvo-update/kiv-norvo-update-0.lock", O_RDWR | O_CLOEXEC);
    const auto close = qScopeGuard([inherited] { ::close(inherited); });
    QVERIFY(inherited >= 0 && ::flock(inherited, LOCK_EX | LOCK_NB) == 0);
    QProcess* third = startProgram();
    QVERIFY(third->waitForFinished(20000));
    QCOMPARE(third->exitCode(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(windowsShown(), 2, 20000);
}

QTEST_GUILESS_MAIN(StartupTest)
#include "tst_startup.moc"
