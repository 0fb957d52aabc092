#include <csignal>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include "helpercommand.h"
#include "options.h"
#include "scenariotable.h"
#include "testfiles.h"

using namespace TestHelpers;

namespace {

const QString tool = KIV_NORVO_UPDATE;
// The names the runs' texts leave to the test: {F} the fixtures' folder and the rest (tool-runs.txt).
const QStringList filledByTheTest {"F", "C", "PORT", "DEAD", "ARCH", "TOOL", "CTL", "UNITS", "TESTTOOLS"};
const QString log = "/var/log/norvo-update/norvo-update.log";
const QString keptList = "/etc/apt/sources.list.d/norvo-update-kept.list";
const QString codename
    = QSettings("/etc/os-release", QSettings::IniFormat).value("VERSION_CODENAME").toString();

// Runs a program with both its streams read together.
KivAdmin::HelperResult run(const QString& program, const QStringList& arguments)
{
    return KivAdmin::runHelper(
        "sh", QStringList {"-c", "exec \"$0\" \"$@\" 2>&1", program} + arguments, 180000);
}

// dpkg's status of a package and its version, as "ii 2.0"; empty when it is not installed.
QString version(const QString& package)
{
    return QString::fromLatin1(
        KivAdmin::runHelper("dpkg-query", {"-W", "-f=${db:Status-Abbrev}${Version}", package}).output)
        .simplified();
}

// Runs shell commands; said, when given, receives what they wrote to either stream.
bool sh(const QString& command, QByteArray* said = nullptr)
{
    const auto result = run("sh", {"-c", command});
    if (said)
        *said = result.output;
    return result.succeeded();
}

bool imageMounted()
{
    return readFile("/proc/self/mounts").contains("/run/norvo-update/");
}

// A local port free now, where nobody answers.
QString freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return QString::number(probe.serverPort());
}

// The tool as the foreground process group of a terminal: a Ctrl-C reaches the whole group.
class GroupLeaderProcess final : public QProcess
{
protected:
    void setupChildProcess() override { ::setpgid(0, 0); }
};

// Whether a fact of the run table holds now, and what there is when it does not.
bool holds(const QString& fact, QString* found)
{
    static const QRegularExpression mode("^\\S+ 0[0-7]{3}$");
    static const QRegularExpression contains(" !?~ ");
    const QString path = fact.section(' ', 0, 0);
    const QString expected = fact.section(' ', 1);
    if (fact.startsWith('+') || fact.startsWith('-'))
        return QFileInfo::exists(fact.mid(1)) == fact.startsWith('+');
    if (fact.contains(contains)) {
        *found = QString::fromUtf8(readFile(path));
        return found->contains(fact.section(contains, 1)) == fact.contains(" ~ ");
    }
    *found = fact.contains(mode) ? "0" + QString::number(fileMode(path), 8) : version(path);
    return *found == (expected == "none" ? QString() : expected);
}

} // namespace

// The update tool against real apt and dpkg, real packages, repositories and images. Runs in the
// sandbox with /usr under an overlay too, so that the packages it installs vanish with it.
class ToolsTest final : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_fixtures;
    // python3's web server of the fixtures' folder, and a port nobody listens on.
    QProcess m_server;
    QString m_port;
    QString m_deadPort;

    QString fixture(const QString& name) const { return m_fixtures.filePath(name); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_fixtures.isValid());
        QVERIFY2(sh(KIV_TEST_TOOLS_DIR "/make-update-fixtures " + m_fixtures.path()),
            "the packages, repositories and images could not be built");
        // The tool's work directories and marks stay inside the sandbox too.
        QVERIFY(QDir().mkpath("/run/norvo-update"));
        QVERIFY(sh("mount -t tmpfs norvo-update-tests /run/norvo-update"));
        // The server takes a free port and names it once it listens.
        m_server.start("python3",
            {"-u", "-m", "http.server", "0", "--bind", "127.0.0.1", "--directory", m_fixtures.path()});
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT((said += m_server.readAllStandardOutput()).contains(") ..."), 20000);
        m_port = QString::fromLatin1(said).section(" port ", 1).section(' ', 0, 0);
        m_deadPort = freePort();
    }

    void cleanupTestCase()
    {
        m_server.kill();
        m_server.waitForFinished();
    }

    void init()
    {
        QVERIFY(sh("dpkg --purge kiv-a kiv-b kiv-c kiv-d kiv-broken kiv-slow >/dev/null 2>&1; dpkg -i "
            + fixture("installed")
            + "/*.deb >/dev/null; rm -rf /var/lib/norvo-update/history "
              "/var/lib/norvo-update/kept /var/cache/apt/archives/kiv-*"));
        QFile::remove(keptList);
        QFile::remove(log);
    }

    void commandLines_data()
    {
        QTest::addColumn<QString>("line"); // the arguments, parted by blanks
        QTest::addColumn<QString>("refused"); // why the tool refuses them; empty: it takes them
        const QString notAName
            = "-p needs the name of a package (lower-case letters, digits, '+', '.' and '-'), not ";
        QTest::newRow("imitation") << "-A -T -K -k -g -m /srv/a.iso ftp://m.example/r -n"
                                   << "";
        QTest::newRow("application update") << "-g /srv/a.iso -p kiv-norvo-update"
                                            << "";
        QTest::newRow("no sources") << "-A -n"
                                    << "no update sources given (ISO images or repository addresses, or -r)";
        QTest::newRow("removal suffix") << "-A /srv/a.iso -p kiv-a-" << notAName + "kiv-a-";
        QTest::newRow("unknown option") << "-A -x /srv/a.iso"
                                        << "unknown option -x";
        QTest::newRow("sources with -r") << "-A -r /srv/a.iso"
                                         << "-r uses the configured repositories and takes no sources";
        QTest::newRow("checksums with -r") << "-A -r -m"
                                           << "-k, -g and -m apply to given sources, not to -r";
        QTest::newRow("switch with more") << "-d -A"
                                          << "-d and -e take no other argument";
        QTest::newRow("one run of the journal") << "--history 20261207-034512-4242"
                                                << "";
        QTest::newRow("the journal with more") << "--history -A"
                                               << "--history takes no other argument than the id of a run";
        QTest::newRow("a rollback without a run")
            << "--rollback"
            << "--rollback needs the id of a run from --history, or last";
        QTest::newRow("a rollback with sources") << "--rollback last /srv/a.iso"
                                                 << "--rollback takes no other argument than -A and --json";
        QTest::newRow("a machine-readable rollback") << "-A --json --rollback last"
                                                     << "";
        QTest::newRow("the journal as JSON twice over")
            << "--json --history"
            << "--json goes with an update, a simulation or a rollback";
    }

    void commandLines()
    {
        QFETCH(const QString, line);
        QFETCH(const QString, refused);
        Options options;
        QString reason;
        QCOMPARE(parseOptions(line.split(' '), &options, &reason), refused.isEmpty());
        QCOMPARE(reason, refused);
    }

    void runs_data()
    {
        addRows("tool-runs.txt",
            {"command", "program", "before", "undo", "substitute", "environment", "when", "signal"},
            {"exits", "says", "does", "then", "check", "meanwhile"}, filledByTheTest);
    }

    void runs()
    {
        QFETCH(const Row, row);
        const QStringList command = row["command"], exits = row["exits"], when = row["when"];
        VERIFY_RUN(exits.size() == 1, row, "exits", QString("a run says once how the tool ends"));
        static const QString arch
            = QString::fromLatin1(KivAdmin::runHelper("dpkg", {"--print-architecture"}).output).trimmed();
        // A text may be quoted to show a blank at its end.
        const auto fill = [&](QString text) {
            if (text.size() > 1 && text.startsWith('"') && text.endsWith('"'))
                text = text.mid(1, text.size() - 2);
            return text.replace("{F}", m_fixtures.path())
                .replace("{C}", codename)
                .replace("{PORT}", m_port)
                .replace("{DEAD}", m_deadPort)
                .replace("{ARCH}", arch)
                .replace("{TOOL}", tool)
                .replace("{CTL}", KIV_NORVO_UPDATE_CTL)
                .replace("{UNITS}", KIV_TOOLS_SOURCE_DIR "/systemd")
                .replace("{TESTTOOLS}", KIV_TEST_TOOLS_DIR);
        };
        for (const char* key : {"command", "before", "undo", "environment", "when", "meanwhile", "says",
                 "does", "then", "check"}) {
            for (const QString& text : row[key])
                VERIFY_RUN(unreplacedName(fill(text)).isEmpty(), row, key,
                    unreplacedName(fill(text)) + " stands for nothing");
        }
        VERIFY_RUN(!row.contains("before") || sh(fill(row["before"].join(" && "))), row, "before",
            row["before"].join(" && "));
        const auto undoing = qScopeGuard([&] {
            if (row.contains("undo"))
                sh(fill(row["undo"].join("; ")));
        });
        QStringList arguments;
        for (const QString& argument : QProcess::splitCommand(command.value(0)))
            arguments << fill(argument);
        // Shutdown and sleep are held off through systemd-inhibit, which needs logind: a fake stands
        // in for it and records when the lock is taken and released.
        QTemporaryDir fakes;
        for (const QString& program :
            row["substitute"] + QStringList {"systemd-inhibit fake-systemd-inhibit"})
            QFile::link(
                KIV_TEST_TOOLS_DIR "/" + program.section(' ', 1), fakes.filePath(program.section(' ', 0, 0)));
        QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
        variables.insert("PATH", fakes.path() + ':' + variables.value("PATH"));
        variables.insert("KIV_INHIBIT_LOG", fixture("inhibit.log"));
        for (const QString& variable : row["environment"].join(' ').split(' ', Qt::SkipEmptyParts))
            variables.insert(variable.section('=', 0, 0), fill(variable.section('=', 1)));
        QFile::remove(fixture("inhibit.log"));

        const QDeadlineTimer deadServer(10000);
        GroupLeaderProcess process;
        process.setProcessEnvironment(variables);
        process.start(!row.contains("program") ? tool : QString(KIV_SPACE_CALCULATOR), arguments);
        // A row that fails half-way lets the tool end its work, so that the next rows find dpkg free.
        const auto stop = qScopeGuard([&process] {
            const pid_t pid = pid_t(process.processId());
            if (process.state() != QProcess::NotRunning && pid > 0 && ::kill(pid, SIGTERM) == 0)
                process.waitForFinished(120000);
        });
        QByteArray output;
        QString found;
        if (!when.isEmpty()) {
            QTRY_VERIFY_WITH_TIMEOUT(
                (output += process.readAllStandardOutput()).contains(fill(unescaped(when)[0]).toUtf8()),
                60000);
            for (const QString& fact : unescaped(row["meanwhile"]))
                VERIFY_RUN(holds(fill(fact), &found), row, "meanwhile", fact + " | " + found);
            // "INT to the group" goes to the tool's process group, as Ctrl-C on a terminal does.
            const pid_t pid = pid_t(process.processId());
            QVERIFY2(pid > 0 || row["signal"].isEmpty(), "the tool ended before it could be signalled");
            for (const QString& sent : row["signal"])
                ::kill(sent.endsWith("group") ? -pid : pid, sent.startsWith("INT") ? SIGINT : SIGTERM);
        }
        if (!process.waitForFinished(180000)) {
            process.kill();
            process.waitForFinished();
            QFAIL("the tool did not end within three minutes");
        }
        const QString said
            = QString::fromUtf8(output + process.readAllStandardOutput() + process.readAllStandardError());
        VERIFY_RUN(process.exitStatus() == QProcess::NormalExit, row, "exits", said);
        COMPARE_RUN(process.exitCode(), row, "exits", exits.value(0).toInt());
        for (const QString& text : unescaped(row["says"]))
            VERIFY_RUN(said.contains(fill(text)), row, "says", text + " | " + said);
        for (const QString& text : unescaped(row["does"]))
            VERIFY_RUN(!said.contains(fill(text.section("not say ", 1))), row, "does", text + " | " + said);
        for (const QString& fact : unescaped(row["then"]))
            VERIFY_RUN(holds(fill(fact), &found), row, "then", fact + " | " + found);
        for (const QString& commands : row["check"]) {
            QByteArray printed;
            VERIFY_RUN(
                sh(fill(commands), &printed), row, "check", commands + " | " + QString::fromUtf8(printed));
        }
        // However the run ended, what it mounted and its work folder are gone; a dead server is
        // told at once.
        QVERIFY(!imageMounted());
        QVERIFY(!QFileInfo::exists(QString("/run/norvo-update/%1").arg(process.processId())));
        QVERIFY2(!command.join(' ').contains("{DEAD}") || !deadServer.hasExpired(), "slow on a dead server");
    }

    // A reader that went away (norvo-update ... | head) stops the run like a signal; the reader
    // here ends before the tool starts, so that its first line meets a closed pipe.
    void closedOutputStopsTheRun()
    {
        const auto ran = run("bash",
            {"-c", "exec 1> >(true); wait $!; exec \"$0\" \"$@\"", tool, "-A", "-n", fixture("good.iso")});
        QCOMPARE(ran.exitCode, 128 + SIGPIPE);
        QVERIFY(!imageMounted());
    }

    // A run killed outright leaves its image mounted; the next run cleans up after it.
    void nextRunCleansUpAfterAKilledOne()
    {
        QProcess killed;
        killed.start(tool, {"-A", fixture("good.iso")});
        QByteArray output;
        QTRY_VERIFY_WITH_TIMEOUT((output += killed.readAllStandardOutput()).contains("Source "), 30000);
        const QString pid = QString::number(killed.processId());
        killed.kill();
        QVERIFY(killed.waitForFinished(10000));
        QVERIFY(imageMounted());
        // A child the killed run had forked and not yet started keeps the run's open files, the
        // lock file's among them, and waits for ever for its dead parent.
        const int inherited = ::open("/run/norvo-update/norvo-update.lock", O_RDWR | O_CLOEXEC);
        const auto close = qScopeGuard([inherited] { ::close(inherited); });
        QVERIFY(inherited >= 0 && ::flock(inherited, LOCK_EX | LOCK_NB) == 0);
        const auto next = run(tool, {"-A", "-n", fixture("good.iso")});
        QVERIFY2(next.exitCode == 0, next.output.constData());
        QVERIFY(QString::fromUtf8(next.output)
                    .contains("Cleaned up after an earlier run that ended abruptly (process " + pid + ")."));
        QVERIFY(!imageMounted());
        QVERIFY(!QFileInfo::exists("/run/norvo-update/" + pid));
    }

    void refusesWhileAnotherPackageManagerWorks()
    {
        const QString holder = "(process " + QString::number(getpid()) + ")";
        const std::pair<QString, QString> locks[] {{"/var/lib/dpkg/lock-frontend",
                                                       "another package manager is working: tst_tools "
                                                           + holder + " holds /var/lib/dpkg/lock-frontend"},
            {"/run/norvo-update/norvo-update.lock", "another update is running " + holder}};
        for (const auto& [lock, message] : locks) {
            const int fd = ::open(QFile::encodeName(lock).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0640);
            const auto unlock = qScopeGuard([fd] { ::close(fd); });
            QVERIFY(fd >= 0 && ::lockf(fd, F_TLOCK, 0) == 0);
            const auto ran = run(tool, {"-A", fixture("good.iso")});
            QCOMPARE(ran.exitCode, 4);
            QVERIFY2(QString::fromUtf8(ran.output).contains(message), ran.output.constData());
            QCOMPARE(version("kiv-a"), "ii 1.0");
        }
    }
};

QTEST_GUILESS_MAIN(ToolsTest)
#include "tst_tools.moc"
