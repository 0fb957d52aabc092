#include <memory>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include "fakeexecutables.h"
#include "lvmsnapshot.h"
#include "rootfilesystem.h"
#include "scenariotable.h"
#include "snapshotfile.h"
#include "testfiles.h"
#include "xfssnapshot.h"

using namespace TestHelpers;

// Runs inside the sandbox (see CMakeLists.txt): /boot and /var/tmp here are scratch copies.
class SnapshotTest final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void rootFileSystemFromDf_data();
    void rootFileSystemFromDf();

    void executeReportsHowTheCommandEnded_data();
    void executeReportsHowTheCommandEnded();
    void executeTicksOncePerFullSecond();

    void lvmCommandLines();
    void lvmRestoreNeverLeavesBootEmpty_data();
    void lvmRestoreNeverLeavesBootEmpty();
    void lvmBootArchiveRoundTripWithRealTar();

    void xfsHalfADumpGoes();
    void snapshotFilesAreRootsAlone_data();
    void snapshotFilesAreRootsAlone();
    void lvmExistenceIsBounded();

private:
    // The program's snapshot of either kind, on the root it would be made for.
    static std::unique_ptr<Snapshot> makeSnapshot(bool lvm);
    // Runs a shell command as user nobody, as any local user could.
    static void asNobody(const QString& shellCommand);

    FakeExecutables m_fakes;
    // The LVM tools only, so that the real tar archives /boot.
    FakeExecutables m_lvmTools;
};

void SnapshotTest::initTestCase()
{
    QVERIFY2(QFile::exists("/run/kiv-sandbox/layers_boot"), "the test must run in the sandbox");
    for (const char* name :
        {"df", "lvs", "lvcreate", "lvremove", "lvconvert", "umount", "tar", "bash", "xfsrestore", "scripted"})
        m_fakes.add(QString::fromLatin1(name));
    for (const char* name : {"lvs", "lvcreate", "lvremove", "lvconvert", "umount"})
        m_lvmTools.add(QString::fromLatin1(name));
}

void SnapshotTest::init()
{
    m_fakes.reset();
    m_lvmTools.reset();
    m_fakes.activate();
    for (const char* path : {bootArchivePath, "/var/tmp/xfssnap-kiv-norvo-update.bin"})
        SnapshotFile::removeAny(QString::fromLatin1(path));
    QDir("/boot").removeRecursively();
    QDir().mkpath("/boot");
}

void SnapshotTest::rootFileSystemFromDf_data()
{
    addRows("df-roots.txt", {"df", "then", "root"});
}

void SnapshotTest::rootFileSystemFromDf()
{
    QFETCH(QStringList, df);
    QFETCH(QStringList, then);
    QFETCH(QStringList, root);
    m_fakes.setScenario(
        "df", QStringList(QStringList {"cat " KIV_TEST_DATA_DIR "/" + df[0]} + then).join('\n') + '\n');
    const RootFileSystem found = detectRootFileSystem();
    const QString seen
        = QStringList {found.device(), found.type(), found.available(), found.isLvm() ? "lvm" : "plain"}.join(
            ' ');
    QCOMPARE(found.isValid() ? seen : QString(), root.value(0));
    QCOMPARE(found.mountPoint(), found.isValid() ? "/" : "");
    QCOMPARE(m_fakes.calls("df"), QList<QStringList> {(QStringList {"-T", "-h"})});
}

void SnapshotTest::executeReportsHowTheCommandEnded_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("output"); // standard output | standard error
    QTest::newRow("success with noise on stderr") << "out done\\n\nerr note\\n\n"
                                                  << int(Snapshot::Success) << "done\n|";
    QTest::newRow("failure keeps stderr") << "out half\\n\nerr broken\\n\nexit 5\n"
                                          << int(Snapshot::Error) << "half\n|broken\n";
    QTest::newRow("killed by a signal") << "err dying\\n\nsignal KILL\n"
                                        << int(Snapshot::Error) << "|dying\n";
}

void SnapshotTest::executeReportsHowTheCommandEnded()
{
    QFETCH(QString, scenario);
    QFETCH(int, result);
    QFETCH(QString, output);
    m_fakes.setScenario("scripted", scenario);
    XfsSnapshot snapshot("xfssnap-kiv-norvo-update", "/dev/sda2");
    QCOMPARE(int(snapshot.execute("scripted -x \"two words\" {a,b}")), result);
    QCOMPARE(snapshot.outputText() + "|" + snapshot.errorText(), output);
    // No shell: braces reach the program unexpanded, quotes keep one word.
    QCOMPARE(m_fakes.calls("scripted"), QList<QStringList> {(QStringList {"-x", "two words", "{a,b}"})});
}

void SnapshotTest::executeTicksOncePerFullSecond()
{
    XfsSnapshot snapshot("xfssnap-kiv-norvo-update", "/dev/sda2");
    QSignalSpy ticks(&snapshot, &Snapshot::timeout);
    m_fakes.setScenario("scripted", "sleep 2.5\n");
    QCOMPARE(snapshot.execute("scripted"), Snapshot::Success);
    QCOMPARE(ticks.count(), 2);
    // A program that cannot start ends the wait at once, without ticks, and is named.
    ticks.clear();
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(snapshot.execute("kiv-no-such-program --now"), Snapshot::Error);
    QVERIFY(timer.elapsed() < 1500);
    QCOMPARE(ticks.count(), 0);
    QVERIFY2(snapshot.errorText().contains("\"kiv-no-such-program\""), qPrintable(snapshot.errorText()));
}

void SnapshotTest::lvmCommandLines()
{
    // The volume group and volume come from the device mapper's name, in which "--" is a "-".
    LvmSnapshot snapshot("lvsnap-kiv-norvo-update", "/dev/mapper/vg--sys-root", 12.5);
    snapshot.create();
    QCOMPARE(m_fakes.calls("lvcreate"),
        QList<QStringList> {(QStringList {
            "-L", "12.5GB", "-s", "-n", "lvsnap-kiv-norvo-update", "-p", "r", "/dev/vg-sys/root"})});
    QVERIFY(snapshot.exists());
    QCOMPARE(m_fakes.calls("lvs").last(), QStringList {"/dev/vg-sys/lvsnap-kiv-norvo-update"});

    // Removing succeeds even when nothing is there to remove.
    m_fakes.setScenario("umount", "exit 32\n");
    m_fakes.setScenario("lvremove", "exit 5\n");
    QCOMPARE(snapshot.remove(), Snapshot::Success);
    QCOMPARE(m_fakes.calls("umount"), QList<QStringList> {QStringList {"/var/lib/os-prober/mount"}});
    QCOMPARE(m_fakes.calls("lvremove"),
        QList<QStringList> {(QStringList {"-f", "/dev/vg-sys/lvsnap-kiv-norvo-update"})});
    QVERIFY(!QFile::exists(bootArchivePath));
}

void SnapshotTest::lvmRestoreNeverLeavesBootEmpty_data()
{
    addRows("lvm-restores.txt", {"archive", "fails", "runs", "boot", "kept"});
}

void SnapshotTest::lvmRestoreNeverLeavesBootEmpty()
{
    QFETCH(QStringList, archive);
    QFETCH(QStringList, fails);
    QFETCH(QStringList, runs);
    QFETCH(QStringList, boot);
    QFETCH(QStringList, kept);
    writeFile("/boot/vmlinuz", "kernel");
    if (archive.isEmpty())
        writeFile(bootArchivePath, "archive");
    const QString failure = "err failed\\n\nexit 2\n";
    m_fakes.setScenario("tar", fails.contains("list") ? failure : "", 1);
    m_fakes.setScenario("lvconvert", fails.contains("merge") ? failure : "");
    m_fakes.setScenario("tar", fails.contains("extract") ? failure : "", 2);

    LvmSnapshot snapshot("lvsnap-kiv-norvo-update", "/dev/mapper/vg0-root", 6);
    const Snapshot::ErrorCode result = snapshot.restore();
    QCOMPARE(result, archive.isEmpty() && fails.isEmpty() ? Snapshot::Success : Snapshot::Error);
    QCOMPARE(snapshot.errorText().isEmpty(), result == Snapshot::Success);
    QCOMPARE(m_fakes.callsInOrder({"tar", "lvconvert"}), runs);
    QCOMPARE(QFile::exists("/boot/vmlinuz"), !boot.isEmpty());
    QCOMPARE(QFile::exists(bootArchivePath), !kept.isEmpty());
}

void SnapshotTest::lvmBootArchiveRoundTripWithRealTar()
{
    // The kernel here has no device-mapper, so the LVM tools are faked; the archive of /boot is
    // made and extracted by the real tar.
    m_lvmTools.activate();
    writeFile("/boot/vmlinuz-6.1.0-13-amd64", QByteArray(200000, 'k'));
    writeFile("/boot/grub/grub.cfg", "menuentry 'Norvo' {}\n");
    writeFile("/boot/lost+found/lost", "not archived\n");
    QFile::setPermissions("/boot/grub/grub.cfg", QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const auto run = [](const QString& program, const QStringList& arguments) {
        QProcess process;
        process.start(program, arguments);
        return process.waitForFinished(10000) && process.exitCode() == 0 ? process.readAllStandardOutput()
                                                                         : QByteArray("(failed)");
    };
    QCOMPARE(
        run("setfattr", {"-n", "security.ZLAB", "-v", "3", "/boot/vmlinuz-6.1.0-13-amd64"}), QByteArray());
    QCOMPARE(run("setfacl", {"-m", "u:nobody:r", "/boot/grub/grub.cfg"}), QByteArray());
    const QByteArray aclBefore = run("getfacl", {"-c", "/boot/grub/grub.cfg"});

    LvmSnapshot snapshot("lvsnap-kiv-norvo-update", "/dev/mapper/vg0-root", 6);
    QSignalSpy created(&snapshot, &Snapshot::created);
    snapshot.create();
    QCOMPARE(created.at(0).at(0).value<Snapshot::ErrorCode>(), Snapshot::Success);

    // The update changes the kernel, deletes the configuration and adds a file.
    writeFile("/boot/vmlinuz-6.1.0-13-amd64", "new kernel");
    QFile::remove("/boot/grub/grub.cfg");
    writeFile("/boot/initrd.img-6.1.0-14-amd64", "new initrd");

    QCOMPARE(snapshot.restore(), Snapshot::Success);
    QCOMPARE(readFile("/boot/vmlinuz-6.1.0-13-amd64"), QByteArray(200000, 'k'));
    QCOMPARE(readFile("/boot/grub/grub.cfg"), QByteArray("menuentry 'Norvo' {}\n"));
    QVERIFY(!QFile::exists("/boot/initrd.img-6.1.0-14-amd64"));
    QVERIFY(!QFile::exists("/boot/lost+found/lost"));
    QCOMPARE(run("getfacl", {"-c", "/boot/grub/grub.cfg"}), aclBefore);
    QVERIFY(aclBefore.contains("user:nobody:r--"));
    QVERIFY(!QFile::exists(bootArchivePath));
    // The extraction names the security attributes as "security.{ZLAB,AUDIT,DEF_AUDIT}" and runs
    // without a shell: tar matches that text literally, so those attributes are not put back.
    QEXPECT_FAIL("", "tar receives the braces unexpanded", Continue);
    QCOMPARE(run("getfattr", {"--only-values", "-n", "security.ZLAB", "/boot/vmlinuz-6.1.0-13-amd64"}),
        QByteArray("3"));
}

// A completed dump's worth is the real round trip's to show; this is the dump that fails half-way.
void SnapshotTest::xfsHalfADumpGoes()
{
    XfsSnapshot snapshot("xfssnap-kiv-norvo-update", "/dev/sda2");
    const QString dump = snapshot.dumpFilePath();
    QSignalSpy created(&snapshot, &Snapshot::created);
    m_fakes.setScenario("bash",
        QStringLiteral("write %1 half a dump\nerr xfsdump: ERROR: no space left\\n\nexit 1\n").arg(dump));
    snapshot.create();
    QCOMPARE(created.at(0).at(0).value<Snapshot::ErrorCode>(), Snapshot::Error);
    QCOMPARE(snapshot.errorText(), "xfsdump: ERROR: no space left\n");
    QVERIFY(!QFileInfo::exists(dump));
    QVERIFY(!snapshot.exists());
    QCOMPARE(snapshot.size(), 0.0);
    QCOMPARE(snapshot.remove(), Snapshot::Error);
}

std::unique_ptr<Snapshot> SnapshotTest::makeSnapshot(bool lvm)
{
    if (lvm)
        return std::make_unique<LvmSnapshot>("lvsnap-kiv-norvo-update", "/dev/mapper/vg0-root", 6);
    return std::make_unique<XfsSnapshot>("xfssnap-kiv-norvo-update", "/dev/sda2");
}

void SnapshotTest::asNobody(const QString& shellCommand)
{
    QProcess process;
    process.start("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", "sh", "-c", shellCommand});
    QVERIFY2(process.waitForFinished(10000) && process.exitCode() == 0,
        qPrintable(shellCommand + ": " + QString::fromLocal8Bit(process.readAllStandardError())));
}

void SnapshotTest::snapshotFilesAreRootsAlone_data()
{
    addRows("snapshot-files.txt", {"snapshot", "before", "after", "refused"});
}

void SnapshotTest::snapshotFilesAreRootsAlone()
{
    QFETCH(QStringList, snapshot);
    QFETCH(QStringList, before);
    QFETCH(QStringList, after);
    QFETCH(QStringList, refused);
    const bool lvm = snapshot[0] == "lvm";
    writeFile("/etc/kiv-victim", "victim\n");
    QFile::setPermissions("/etc/kiv-victim",
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    writeFile("/boot/vmlinuz", "kernel");
    for (const char* leftover : {"/var/tmp/genuine", "/var/tmp/second"})
        QFile::remove(leftover);
    // The archive of /boot is written by the real tar.
    if (lvm)
        m_lvmTools.activate();
    const std::unique_ptr<Snapshot> made = makeSnapshot(lvm);
    const QString path = lvm ? bootArchivePath : "/var/tmp/xfssnap-kiv-norvo-update.bin";
    for (const QString& planted : before)
        asNobody(planted.arg(path));

    QSignalSpy created(made.get(), &Snapshot::created);
    made->create();
    QCOMPARE(created.at(0).at(0).value<Snapshot::ErrorCode>(), Snapshot::Success);
    QCOMPARE(readFile("/etc/kiv-victim"), QByteArray("victim\n"));
    const QFileInfo file(path);
    QVERIFY(file.isFile() && !file.isSymLink());
    QCOMPARE(file.ownerId(), 0u);
    QCOMPARE(fileMode(path), 0600u);
    QVERIFY(!lvm || file.size() > 0);
    QVERIFY(lvm || made->exists());

    QVERIFY(QFile::copy(path, "/var/tmp/genuine"));
    QProcess::execute("chmod", {"0644", "/var/tmp/genuine"});
    for (const QString& tamper : after) {
        if (tamper.startsWith("as nobody ")) {
            QFile::remove(path);
            asNobody(tamper.mid(10).arg(path));
        } else {
            QCOMPARE(QProcess::execute("sh", {"-c", tamper.arg(path)}), 0);
        }
    }
    m_fakes.activate();
    m_fakes.reset();
    if (!refused.isEmpty()) {
        QCOMPARE(made->restore(), Snapshot::Error);
        QVERIFY2(made->errorText().contains(refused[0]), qPrintable(made->errorText()));
        QVERIFY(lvm || !made->exists());
        QCOMPARE(m_fakes.sequence(), QStringList {});
        QCOMPARE(readFile("/boot/vmlinuz"), QByteArray("kernel"));
    }
    SnapshotFile::removeAny(path);
    QFile::remove("/var/tmp/second");
}

void SnapshotTest::lvmExistenceIsBounded()
{
    // A hanging lvs would freeze the window: it is stopped after the helpers' 30 s and reads as no.
    m_fakes.setScenario("lvs", "hang\n");
    LvmSnapshot snapshot("lvsnap-kiv-norvo-update", "/dev/mapper/vg0-root", 6);
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!snapshot.exists());
    QVERIFY2(timer.elapsed() < 45000, qPrintable(QString::number(timer.elapsed())));
    QVERIFY2(
        snapshot.errorText().contains("did not finish within 30 seconds"), qPrintable(snapshot.errorText()));
}

QTEST_GUILESS_MAIN(SnapshotTest)
#include "tst_snapshot.moc"
