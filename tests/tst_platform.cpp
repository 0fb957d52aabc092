#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QWidget>

#include "fakeexecutables.h"
#include "helpercommand.h"
#include "kivintegration.h"
#include "mode.h"
#include "packagemanager.h"
#include "systemdservice.h"

using namespace KivAdmin;

class PlatformTest final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void helperReportsHowTheCommandEnded_data();
    void helperReportsHowTheCommandEnded();
    void helperStopsWaitingAtItsBound();

    void packageStateFollowsDpkg_data();
    void packageStateFollowsDpkg();

    void serviceRunsOnlyWhenLoadedAndActive_data();
    void serviceRunsOnlyWhenLoadedAndActive();

    void securityLevelFromItsFile_data();
    void securityLevelFromItsFile();

    void helpOpensOneWindowWithTheProgramsHelp();

private:
    FakeExecutables m_fakes;
};

void PlatformTest::initTestCase()
{
    for (const char* name : {"dpkg-query", "systemctl", "scripted"})
        m_fakes.add(QString::fromLatin1(name));
    m_fakes.activate();
}

void PlatformTest::init()
{
    m_fakes.reset();
}

void PlatformTest::helperReportsHowTheCommandEnded_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<bool>("started");
    QTest::addColumn<bool>("finished");
    QTest::addColumn<int>("exitStatus");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<bool>("succeeded");

    QTest::newRow("success with output")
        << "scripted"
        << "out one\\ntwo\\n\nerr noise\\n\nexit 0\n"
        << true << true << int(QProcess::NormalExit) << 0 << QByteArray("one\ntwo\n") << true;
    QTest::newRow("non-zero exit code")
        << "scripted"
        << "out partial\nexit 3\n"
        << true << true << int(QProcess::NormalExit) << 3 << QByteArray("partial") << false;
    QTest::newRow("killed by a signal")
        << "scripted"
        << "signal KILL\n"
        << true << true << int(QProcess::CrashExit) << 9 << QByteArray() << false;
    QTest::newRow("program missing") << "kiv-no-such-program" << QString() << false << false
                                     << int(QProcess::NormalExit) << 0 << QByteArray() << false;
}

void PlatformTest::helperReportsHowTheCommandEnded()
{
    QFETCH(QString, program);
    QFETCH(QString, scenario);
    if (!scenario.isNull())
        m_fakes.setScenario(program, scenario);
    QFETCH(bool, started);
    QFETCH(bool, finished);
    QFETCH(int, exitStatus);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, output);
    QFETCH(bool, succeeded);
    const HelperResult result = runHelper(program, {QStringLiteral("a b"), QString()});
    QCOMPARE(result.started, started);
    QCOMPARE(result.finished, finished);
    QCOMPARE(int(result.exitStatus), exitStatus);
    if (exitStatus == QProcess::NormalExit)
        QCOMPARE(result.exitCode, exitCode);
    QCOMPARE(result.output, output);
    QCOMPARE(result.succeeded(), succeeded);
    if (!scenario.isNull())
        QCOMPARE(
            m_fakes.calls(program), QList<QStringList> {(QStringList {QStringLiteral("a b"), QString()})});
}

void PlatformTest::helperStopsWaitingAtItsBound()
{
    m_fakes.setScenario(QStringLiteral("scripted"), QStringLiteral("out started\\n\nhang\n"));
    QElapsedTimer timer;
    timer.start();
    const HelperResult result = runHelper(QStringLiteral("scripted"), {}, 400);
    QVERIFY2(timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(result.started);
    QVERIFY(!result.finished);
    QVERIFY(!result.succeeded());
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.output, QByteArray("started\n"));
}

void PlatformTest::packageStateFollowsDpkg_data()
{
    QTest::addColumn<QString>("package");
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<bool>("installed");
    QTest::addColumn<QStringList>("versions");

    QTest::newRow("installed") << "norvo-update-service"
                               << "out ii \\tnorvo-update-service\\t1.4\\n\n"
                               << true << QStringList {"1.4"};
    QTest::newRow("removed, configuration kept") << "norvo-update-service"
                                                 << "out rc \\tnorvo-update-service\\t1.4\\n\n"
                                                 << false << QStringList();
    QTest::newRow("half-configured after a failed upgrade") << "kiv-norvo-update"
                                                            << "out iF \\tkiv-norvo-update\\t0.1.33\\n\n"
                                                            << false << QStringList {"0.1.33"};
    QTest::newRow("unknown to dpkg")
        << "norvo-update-service"
        << "err dpkg-query: no packages found matching norvo-update-service\\n\nexit 1\n"
        << false << QStringList();
    QTest::newRow("installed for two architectures") << "libfoo"
                                                     << "out ii \\tlibfoo\\t2.0\\nii \\tlibfoo\\t2.0\\n\n"
                                                     << true << QStringList {"2.0", "2.0"};
    QTest::newRow("name with regular-expression characters") << "g++"
                                                             << "out ii \\tg++\\t4:12.2.0-3\\n\n"
                                                             << true << QStringList {"4:12.2.0-3"};
    QTest::newRow("another package must not match") << "norvo-update"
                                                    << "out ii \\tnorvo-update-service\\t1.0\\n\n"
                                                    << false << QStringList {"1.0"};
}

void PlatformTest::packageStateFollowsDpkg()
{
    QFETCH(QString, package);
    QFETCH(QString, scenario);
    QFETCH(bool, installed);
    QFETCH(QStringList, versions);
    m_fakes.setScenario(QStringLiteral("dpkg-query"), scenario);
    QCOMPARE(PackageManager::isPackageInstalled(package, QStringLiteral("ii\\s%1")), installed);
    QCOMPARE(PackageManager::getInstalledPackagesVersions(package), versions);
    const QStringList expected {QStringLiteral("-W"),
        QStringLiteral("-f=${db:Status-Abbrev}\\t${Package}\\t${Version}\\n"), QStringLiteral("--"), package};
    QCOMPARE(m_fakes.calls(QStringLiteral("dpkg-query")), (QList<QStringList> {expected, expected}));
}

void PlatformTest::serviceRunsOnlyWhenLoadedAndActive_data()
{
    QTest::addColumn<QString>("showScenario");
    QTest::addColumn<QString>("activeScenario");
    QTest::addColumn<bool>("alive");
    QTest::addColumn<bool>("active");

    QTest::newRow("loaded and active") << "out loaded\\n\n"
                                       << "out active\\n\n"
                                       << true << true;
    QTest::newRow("loaded, inactive") << "out loaded\\n\n"
                                      << "out inactive\\n\nexit 3\n"
                                      << true << false;
    QTest::newRow("unit unknown") << "out not-found\\n\n"
                                  << "out inactive\\n\nexit 4\n"
                                  << false << false;
    QTest::newRow("no systemd running") << "err System has not been booted with systemd\\n\nexit 1\n"
                                        << "exit 1\n"
                                        << false << false;
    QTest::newRow("activating is not active") << "out loaded\\n\n"
                                              << "out activating\\n\nexit 3\n"
                                              << true << false;
}

void PlatformTest::serviceRunsOnlyWhenLoadedAndActive()
{
    QFETCH(QString, showScenario);
    QFETCH(QString, activeScenario);
    QFETCH(bool, alive);
    QFETCH(bool, active);
    m_fakes.setScenario(QStringLiteral("systemctl"), showScenario, 1);
    m_fakes.setScenario(QStringLiteral("systemctl"), activeScenario, 2);
    const SystemdService service(QStringLiteral("norvo-update-service"));
    QCOMPARE(service.getAliveStatus(), alive);
    QCOMPARE(service.isActive(), active);
    const QList<QStringList> expected {
        {"show", "--property=LoadState", "--value", "--", "norvo-update-service"},
        {"is-active", "--", "norvo-update-service"}};
    QCOMPARE(m_fakes.calls(QStringLiteral("systemctl")), expected);
}

void PlatformTest::securityLevelFromItsFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("mode");
    QTest::newRow("advanced") << QByteArray("1\n") << 1;
    QTest::newRow("maximum, blanks around") << QByteArray("  2 \nignored\n") << 2;
    QTest::newRow("not a number") << QByteArray("maximum\n") << 0;
    QTest::newRow("empty") << QByteArray() << 0;
    QTest::newRow("missing") << QByteArray("(missing)") << 0;
}

void PlatformTest::securityLevelFromItsFile()
{
    QFETCH(QByteArray, content);
    QFETCH(int, mode);
    QTemporaryDir directory;
    const QString path = directory.filePath(QStringLiteral("norvo_security_level"));
    if (content != "(missing)") {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    QCOMPARE(Mode::readMode(path), mode);
}

void PlatformTest::helpOpensOneWindowWithTheProgramsHelp()
{
    kivHelpShow(QString());
    kivHelpShow(QStringLiteral("snapshot"));
    QWidgetList helpWindows;
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget* window : windows) {
        if (window->objectName() == QLatin1String("HelpWindow") && window->isVisible())
            helpWindows.append(window);
    }
    QCOMPARE(helpWindows.size(), 1);
    auto* browser = helpWindows.first()->findChild<QTextBrowser*>();
    QVERIFY(browser);
    const QString text = browser->toPlainText();
    for (const char* section :
        {"Sources", "Create system snapshot", "Snapshots and restore", "After a failed update"})
        QVERIFY2(text.contains(QLatin1String(section)), section);
    helpWindows.first()->close();
}

QTEST_MAIN(PlatformTest)
#include "tst_platform.moc"
