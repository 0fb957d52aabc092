#include <QElapsedTimer>
#include <QTest>

#include "fakeexecutables.h"
#include "helpercommand.h"
#include "packagemanager.h"

using namespace KivAdmin;

// The system's facilities as the program asks them: helper commands and dpkg.
class PlatformTest final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        for (const char* name : {"dpkg-query", "scripted"})
            m_fakes.add(name);
        m_fakes.activate();
    }
    void init() { m_fakes.reset(); }

    void helperReportsHowTheCommandEnded_data()
    {
        QTest::addColumn<QString>("scenario"); // null: the program is missing
        QTest::addColumn<QString>("ended"); // started, finished, crashed, exit code, output, succeeded
        const auto row = [](const char* name, const QString& scenario, const char* ended) {
            QTest::newRow(name) << scenario << QString(ended);
        };
        row("success with output", "out one\\ntwo\\n\nerr noise\\n\n", "1 1 0 0 one\ntwo\n 1");
        row("non-zero exit code", "out partial\nexit 3\n", "1 1 0 3 partial 0");
        row("killed by a signal", "signal KILL\n", "1 1 1 9  0");
        row("program missing", QString(), "0 0 0 0  0");
        row("past its bound", "out started\\n\nhang\n", "1 0 0 0 started\n 0");
    }

    void helperReportsHowTheCommandEnded()
    {
        QFETCH(QString, scenario);
        QFETCH(QString, ended);
        if (!scenario.isNull())
            m_fakes.setScenario("scripted", scenario);
        QElapsedTimer timer;
        timer.start();
        const HelperResult result
            = runHelper(scenario.isNull() ? "kiv-no-such-program" : "scripted", {"a b", ""}, 400);
        QVERIFY2(timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(QString("%1 %2 %3 %4 %5 %6")
                     .arg(result.started)
                     .arg(result.finished)
                     .arg(result.exitStatus)
                     .arg(result.exitCode)
                     .arg(QString::fromLatin1(result.output))
                     .arg(result.succeeded()),
            ended);
        if (!scenario.isNull())
            QCOMPARE(m_fakes.calls("scripted"), QList<QStringList> {(QStringList {"a b", ""})});
    }

    void packageStateFollowsDpkg_data()
    {
        QTest::addColumn<QString>("package");
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<bool>("installed");
        QTest::addColumn<QStringList>("versions");
        const auto row = [](const char* name, const char* package, const char* scenario, bool installed,
                             const QStringList& versions) {
            QTest::newRow(name) << QString(package) << QString(scenario) << installed << versions;
        };
        row("installed", "norvo-update-service", "out ii \\tnorvo-update-service\\t1.4\\n\n", true, {"1.4"});
        row("removed, configuration kept", "norvo-update-service",
            "out rc \\tnorvo-update-service\\t1.4\\n\n", false, {});
        row("half-configured after a failed upgrade", "kiv-norvo-update",
            "out iF \\tkiv-norvo-update\\t0.1.33\\n\n", false, {"0.1.33"});
        row("unknown to dpkg", "norvo-update-service",
            "err dpkg-query: no packages found matching it\\n\nexit 1\n", false, {});
        row("installed for two architectures", "libfoo", "out ii \\tlibfoo\\t2.0\\nii \\tlibfoo\\t2.0\\n\n",
            true, {"2.0", "2.0"});
        row("name with regular-expression characters", "g++", "out ii \\tg++\\t4:12.2.0-3\\n\n", true,
            {"4:12.2.0-3"});
        row("another package must not match", "norvo-update", "out ii \\tnorvo-update-service\\t1.0\\n\n",
            false, {"1.0"});
    }

    void packageStateFollowsDpkg()
    {
        QFETCH(QString, package);
        QFETCH(QString, scenario);
        QFETCH(bool, installed);
        QFETCH(QStringList, versions);
        m_fakes.setScenario("dpkg-query", scenario);
        QCOMPARE(PackageManager::isPackageInstalled(package, "ii\\s%1"), installed);
        QCOMPARE(PackageManager::getInstalledPackagesVersions(package), versions);
        const QStringList expected {
            "-W", "-f=${db:Status-Abbrev}\\t${Package}\\t${Version}\\n", "--", package};
        QCOMPARE(m_fakes.calls("dpkg-query"), (QList<QStringList> {expected, expected}));
    }

private:
    FakeExecutables m_fakes;
};

QTEST_GUILESS_MAIN(PlatformTest)
#include "tst_platform.moc"
