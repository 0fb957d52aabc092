#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

#include "fakeexecutables.h"
#include "helpercommand.h"
#include "packagemanager.h"
#include "scenariotable.h"

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

    void helperReportsHowTheCommandEnded_data() { addRows("helper-commands.txt", {"fake", "ends"}); }

    void helperReportsHowTheCommandEnded()
    {
        QFETCH(const Row, row);
        const QStringList fake = row["fake"];
        m_fakes.setScenario("scripted", fake.join('\n') + '\n');
        QElapsedTimer timer;
        timer.start();
        const HelperResult result
            = runHelper(fake.isEmpty() ? "kiv-no-such-program" : "scripted", {"a b", ""}, 400);
        QVERIFY2(timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));
        QStringList seen;
        if (result.started)
            seen << (result.finished ? "finished" : "stopped")
                 << (result.exitStatus == QProcess::CrashExit ? QString("crashed")
                                                              : "exit " + QString::number(result.exitCode));
        else
            seen << "not started";
        seen << "said \"" + QString::fromLatin1(result.output).replace('\n', "\\n") + '"'
             << (result.succeeded() ? "succeeded" : "failed");
        QCOMPARE(seen.join(", "), row["ends"].value(0));
        if (!fake.isEmpty())
            QCOMPARE(m_fakes.calls("scripted"), QList<QStringList> {(QStringList {"a b", ""})});
    }

    void packageStateFollowsDpkg_data()
    {
        addRows("dpkg-states.txt", {"package", "fake", "installed", "version"});
    }

    void packageStateFollowsDpkg()
    {
        QFETCH(const Row, row);
        const QString package = row["package"].value(0);
        m_fakes.setScenario("dpkg-query", row["fake"].join('\n') + '\n');
        QCOMPARE(PackageManager::isPackageInstalled(package, "ii\\s%1"), row.contains("installed"));
        QCOMPARE(PackageManager::getInstalledPackagesVersions(package), row["version"]);
        const QStringList expected {
            "-W", "-f=${db:Status-Abbrev}\\t${Package}\\t${Version}\\n", "--", package};
        QCOMPARE(m_fakes.calls("dpkg-query"), (QList<QStringList> {expected, expected}));
    }

private:
    FakeExecutables m_fakes;
};

QTEST_GUILESS_MAIN(PlatformTest)
#include "tst_platform.moc"
