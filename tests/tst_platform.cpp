#include <memory>

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "fakeexecutables.h"
#include "helpercommand.h"
#include "logger.h"
#include "packagemanager.h"
#include "testfiles.h"
#include "updatevalidatormanager.h"

using namespace KivAdmin;

// The system's facilities as the program asks them: helper commands, dpkg, and the check of the
// system's package sources made before an update from them.
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
        // The scripted program (tests/support/fake-program), run with a bound of 400 ms; none: missing.
        QTest::addColumn<QStringList>("fake");
        // "not started", or "finished" or "stopped" (at its bound), then "crashed" or "exit N", what
        // it said, and "succeeded" or not.
        QTest::addColumn<QString>("ends");
        QTest::newRow("success with output") << QStringList {"out one\\ntwo\\n", "err noise\\n"}
                                             << "finished, exit 0, said \"one\\ntwo\\n\", succeeded";
        QTest::newRow("program missing") << QStringList {} << "not started, said \"\", failed";
        QTest::newRow("past its bound")
            << QStringList {"out started\\n", "hang"} << "stopped, exit 0, said \"started\\n\", failed";
    }

    void helperReportsHowTheCommandEnded()
    {
        QFETCH(const QStringList, fake);
        QFETCH(const QString, ends);
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
        QCOMPARE(seen.join(", "), ends);
        if (!fake.isEmpty())
            QCOMPARE(m_fakes.calls("scripted"), QList<QStringList> {(QStringList {"a b", ""})});
    }

    void packageStateFollowsDpkg_data()
    {
        QTest::addColumn<QString>("package");
        QTest::addColumn<QString>("listed"); // what the scripted dpkg-query lists: state, name, version
        QTest::addColumn<bool>("installed");
        QTest::newRow("half-configured after a failed upgrade") << "kiv-norvo-update"
                                                                << "iF kiv-norvo-update 0.1.33" << false;
        QTest::newRow("name with regular-expression characters") << "g++"
                                                                 << "ii g++ 4:12.2.0-3" << true;
        QTest::newRow("another package must not match") << "norvo-update"
                                                        << "ii norvo-update-service 1.0" << false;
    }

    void packageStateFollowsDpkg()
    {
        QFETCH(const QString, package);
        QFETCH(const QString, listed);
        QFETCH(const bool, installed);
        m_fakes.setScenario("dpkg-query",
            "out " + listed.section(' ', 0, 0) + " \\t" + listed.section(' ', 1).replace(' ', "\\t")
                + "\\n\n");
        QCOMPARE(PackageManager::isPackageInstalled(package, "ii\\s%1"), installed);
        QCOMPARE(
            PackageManager::getInstalledPackagesVersions(package), QStringList {listed.section(' ', -1)});
        const QStringList expected {
            "-W", "-f=${db:Status-Abbrev}\\t${Package}\\t${Version}\\n", "--", package};
        QCOMPARE(m_fakes.calls("dpkg-query"), (QList<QStringList> {expected, expected}));
    }

    void judgesSourceFiles_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("content");
        QTest::addColumn<bool>("usable");
        QTest::addColumn<QString>("logged");
        QTest::newRow("recorded deb822 file")
            << "debian.sources"
            << QString::fromUtf8(TestHelpers::readFile(KIV_TEST_DATA_DIR "/recorded/debian.sources")) << true
            << "Result: 2 usable";
        QTest::newRow("deb822 second paragraph broken")
            << "a.sources"
            << "Types: deb\nURIs: http://a.example.org\nSuites: s\nComponents: main\n\n"
               "Types: deb\nURIs: ftp://b.example.org gopher://c.example.org\nSuites: s\n"
            << false << "a.sources:6: unsupported URI scheme \"gopher\"";
    }

    void judgesSourceFiles()
    {
        QFETCH(const QString, file);
        QFETCH(const QString, content);
        QFETCH(const bool, usable);
        QFETCH(const QString, logged);
        QTemporaryDir directory;
        const QString path = directory.filePath(file);
        TestHelpers::writeFile(path, (content + '\n').toUtf8());
        const QString logPath = directory.filePath("checks.log");
        UpdateValidatorManager validator(std::make_shared<Logger>(logPath, 0), {path});
        QCOMPARE(validator.check(), usable);
        const QString written = QString::fromUtf8(TestHelpers::readFile(logPath));
        QVERIFY2(written.contains(logged), qPrintable(written));
    }

private:
    FakeExecutables m_fakes;
};

QTEST_GUILESS_MAIN(PlatformTest)
#include "tst_platform.moc"
