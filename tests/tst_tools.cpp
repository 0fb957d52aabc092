#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include "helpercommand.h"
#include "scenariotable.h"
#include "testfiles.h"

using namespace TestHelpers;

namespace {

const QString tool = KIV_NORVO_UPDATE;

// Runs shell commands; said, when given, receives what they wrote to either stream.
bool sh(const QString& command, QByteArray* said = nullptr)
{
    const auto result = KivAdmin::runHelper("sh", {"-c", "exec 2>&1\n" + command}, 180000);
    if (said)
        *said = result.output;
    return result.succeeded();
}

// Whether a fact of the run table holds now, and what there is when it does not: a package's dpkg
// status and version as "ii 2.0", empty when it is not installed.
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
    *found = fact.contains(mode)
        ? "0" + QString::number(fileMode(path), 8)
        : QString::fromLatin1(
            KivAdmin::runHelper("dpkg-query", {"-W", "-f=${db:Status-Abbrev}${Version}", path}).output)
              .simplified();
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
    // python3's web server of the fixtures' folder.
    QProcess m_server;
    // What the names the runs' texts leave to the test stand for (tool-runs.txt).
    QMap<QString, QString> m_filled;

    QString fixture(const QString& name) const { return m_fixtures.filePath(name); }

private slots:
    void initTestCase()
    {
        REQUIRE_SANDBOX({"/usr"});
        QVERIFY(m_fixtures.isValid());
        QVERIFY2(sh(KIV_TEST_TOOLS_DIR "/make-update-fixtures " + m_fixtures.path()),
            "the packages, repositories and images could not be built");
        // The server takes a free port and names it once it listens.
        m_server.start("python3",
            {"-u", "-m", "http.server", "0", "--bind", "127.0.0.1", "--directory", m_fixtures.path()});
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT((said += m_server.readAllStandardOutput()).contains(") ..."), 20000);
        m_filled = {{"{F}", m_fixtures.path()},
            {"{PORT}", QString(said).section(" port ", 1).section(' ', 0, 0)},
            {"{C}", QSettings("/etc/os-release", QSettings::IniFormat).value("VERSION_CODENAME").toString()},
            {"{TOOL}", tool}, {"{CTL}", KIV_NORVO_UPDATE_CTL}, {"{UNITS}", KIV_TOOLS_SOURCE_DIR "/systemd"}};
    }

    void cleanupTestCase()
    {
        m_server.kill();
        m_server.waitForFinished();
    }

    void init()
    {
        QVERIFY(sh("dpkg --purge kiv-a kiv-b kiv-c kiv-d kiv-broken >/dev/null 2>&1; dpkg -i "
            + fixture("installed")
            + "/*.deb >/dev/null; rm -rf /var/lib/norvo-update/history /var/lib/norvo-update/kept "
              "/var/cache/apt/archives/kiv-* /etc/apt/sources.list.d/norvo-update-kept.list "
              "/var/log/norvo-update/norvo-update.log"));
    }

    void runs_data()
    {
        addRows("tool-runs.txt", {"command", "before", "undo"}, {"exits", "says", "does", "then", "check"},
            m_filled.keys());
    }

    void runs()
    {
        QFETCH(const Row, row);
        const QStringList command = row["command"], exits = row["exits"];
        VERIFY_RUN(exits.size() == 1, row, "exits", QString("a run says once how the tool ends"));
        // A text may be quoted to show a blank at its end.
        const auto fill = [&](QString text) {
            if (text.size() > 1 && text.startsWith('"') && text.endsWith('"'))
                text = text.mid(1, text.size() - 2);
            for (auto name = m_filled.cbegin(); name != m_filled.cend(); ++name)
                text.replace(name.key(), name.value());
            return text;
        };
        QByteArray printed;
        VERIFY_RUN(!row.contains("before") || sh(fill(row["before"].join(" && ")), &printed), row, "before",
            row["before"].join(" && ") + " | " + QString::fromUtf8(printed));
        const auto undoing = qScopeGuard([&] {
            if (row.contains("undo"))
                sh(fill(row["undo"].join("; ")));
        });
        QStringList arguments;
        for (const QString& argument : QProcess::splitCommand(command.value(0)))
            arguments << fill(argument);
        // Shutdown and sleep are held off through systemd-inhibit, which needs logind: a fake stands
        // in for it and records when the lock is taken and released.
        QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
        variables.insert("PATH", KIV_TEST_TOOLS_DIR "/inhibit:" + variables.value("PATH"));
        variables.insert("KIV_INHIBIT_LOG", fixture("inhibit.log"));
        QFile::remove(fixture("inhibit.log"));

        QProcess process;
        process.setProcessEnvironment(variables);
        process.start(tool, arguments);
        if (!process.waitForFinished(180000)) {
            process.kill();
            process.waitForFinished();
            QFAIL("the tool did not end within three minutes");
        }
        const QString said
            = QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError());
        // A failure shows the command and what the tool wrote last.
        const QStringList lines = said.split('\n');
        const QString shown
            = QString("%1 %2 | ...\n%3")
                  .arg(tool, arguments.join(' '), lines.mid(qMax(0, lines.size() - 40)).join('\n'));
        VERIFY_RUN(process.exitStatus() == QProcess::NormalExit, row, "exits", shown);
        VERIFY_RUN(process.exitCode() == exits.value(0).toInt(), row, "exits",
            QString("exit code %1 | ").arg(process.exitCode()) + shown);
        for (const QString& text : unescaped(row["says"]))
            VERIFY_RUN(said.contains(fill(text)), row, "says", text + " | " + said);
        for (const QString& text : unescaped(row["does"]))
            VERIFY_RUN(!said.contains(fill(text.section("not say ", 1))), row, "does", text + " | " + said);
        QString found;
        for (const QString& fact : unescaped(row["then"]))
            VERIFY_RUN(holds(fill(fact), &found), row, "then", fact + " | " + found);
        for (const QString& commands : row["check"]) {
            VERIFY_RUN(
                sh(fill(commands), &printed), row, "check", commands + " | " + QString::fromUtf8(printed));
        }
        // However the run ended, what it mounted and its work folder are gone.
        QVERIFY(!readFile("/proc/self/mounts").contains("/run/norvo-update/"));
        QVERIFY(!QFileInfo::exists(QString("/run/norvo-update/%1").arg(process.processId())));
    }
};

QTEST_GUILESS_MAIN(ToolsTest)
#include "tst_tools.moc"
