#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

#include "fakeexecutables.h"

// The sandbox that system tests run the program in must keep the machine as it was.
class SandboxTest final : public QObject
{
    Q_OBJECT

private slots:
    void writesInsideStayInside_data();
    void writesInsideStayInside();
    void fakesPlacedInsideAnswerOnPath();
};

void SandboxTest::writesInsideStayInside_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("etc") << QStringLiteral("/etc/norvo_version");
    QTest::newRow("var/tmp") << QStringLiteral("/var/tmp/xfssnap-kiv-norvo-update.bin");
    QTest::newRow("boot") << QStringLiteral("/boot/kiv-sandbox-probe");
    QTest::newRow("usr/sbin") << QStringLiteral("/usr/sbin/space_calculator");
}

void SandboxTest::writesInsideStayInside()
{
    QFETCH(QString, path);
    QVERIFY2(!QFileInfo::exists(path), qPrintable(path + QStringLiteral(" exists before the test")));
    QProcess sandbox;
    sandbox.start(FakeExecutables::sandboxRunPath(),
        {QStringLiteral("--"), QStringLiteral("bash"), QStringLiteral("-c"),
            QStringLiteral("echo inside > \"$1\" && cat \"$1\""), QStringLiteral("probe"), path});
    QVERIFY(sandbox.waitForFinished(30000));
    QCOMPARE(sandbox.exitCode(), 0);
    QCOMPARE(sandbox.readAllStandardOutput(), QByteArray("inside\n"));
    QVERIFY2(!QFileInfo::exists(path), qPrintable(path + QStringLiteral(" leaked out of the sandbox")));
}

void SandboxTest::fakesPlacedInsideAnswerOnPath()
{
    // /usr/sbin/reboot is a link to /bin/systemctl outside the overlays: the fake must replace
    // the link, never write through it.
    const QFileInfo systemctl(QStringLiteral("/bin/systemctl"));
    const qint64 sizeBefore = systemctl.size();
    const QString linkBefore = QFileInfo(QStringLiteral("/usr/sbin/reboot")).symLinkTarget();

    FakeExecutables fakes;
    fakes.setScenario(QStringLiteral("reboot"), QStringLiteral("out rebooting\\n\nexit 3\n"));
    QProcess sandbox;
    sandbox.setProcessEnvironment(fakes.environment());
    sandbox.start(FakeExecutables::sandboxRunPath(),
        {QStringLiteral("--fake-at"), QStringLiteral("/usr/sbin/reboot"), QStringLiteral("--"),
            QStringLiteral("/usr/sbin/reboot"), QStringLiteral("now")});
    QVERIFY(sandbox.waitForFinished(30000));
    QCOMPARE(sandbox.exitCode(), 3);
    QCOMPARE(sandbox.readAllStandardOutput(), QByteArray("rebooting\n"));
    QCOMPARE(fakes.calls(QStringLiteral("reboot")), QList<QStringList> {QStringList {QStringLiteral("now")}});

    QCOMPARE(QFileInfo(QStringLiteral("/bin/systemctl")).size(), sizeBefore);
    QCOMPARE(QFileInfo(QStringLiteral("/usr/sbin/reboot")).symLinkTarget(), linkBefore);
}

QTEST_GUILESS_MAIN(SandboxTest)
#include "tst_sandbox.moc"
