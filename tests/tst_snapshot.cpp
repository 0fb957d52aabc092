#include <memory>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include "fakeexecutables.h"
#include "lvmsnapshot.h"
#include "rootfilesystem.h"
#include "snapshotfile.h"
#include "xfssnapshot.h"

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

    void lvmDevicePathIsRewritten_data();
    void lvmDevicePathIsRewritten();
    void lvmCommandLines();
    void lvmRestoreNeverLeavesBootEmpty_data();
    void lvmRestoreNeverLeavesBootEmpty();
    void lvmBootArchiveRoundTripWithRealTar();

    void xfsOnlyACompletedDumpCounts();
    void snapshotFilesAreCreatedAfresh_data();
    void snapshotFilesAreCreatedAfresh();
    void restoreTrustsOnlyRootsOwnFile_data();
    void restoreTrustsOnlyRootsOwnFile();
    void lvmExistenceIsBounded();

private:
    static void writeFile(const QString& path, const QByteArray& content);
    static QByteArray readFile(const QString& path);
    // The program's snapshot of either kind, on the root it would be made for.
    static std::unique_ptr<Snapshot> makeSnapshot(bool lvm);
    // Permission bits, as ls shows them in octal.
    static uint mode(const QString& path);
    // Runs a shell command as user nobody, as any local user could.
    static void asNobody(const QString& shellCommand);

    FakeExecutables m_fakes;
    // The LVM tools only, so that the real tar archives /boot.
    FakeExecutables m_lvmTools;
};

void SnapshotTest::initTestCase()
{
    QVERIFY2(
        QFile::exists(QStringLiteral("/run/kiv-sandbox/layers_boot")), "the test must run in the sandbox");
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
    QDir(QStringLiteral("/boot")).removeRecursively();
    QDir().mkpath(QStringLiteral("/boot"));
}

void SnapshotTest::writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

QByteArray SnapshotTest::readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

void SnapshotTest::rootFileSystemFromDf_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("available");
    QTest::addColumn<bool>("lvm");

    const auto recorded = [](const char* file) -> QString {
        return QStringLiteral("cat ") + QFINDTESTDATA(QStringLiteral("testdata/") + QLatin1String(file))
            + QLatin1Char('\n');
    };
    // df-this-machine.txt was recorded with "df -T -h" on a Debian 12 machine.
    QTest::newRow("this machine") << recorded("df-this-machine.txt") << true << "/dev/vda"
                                  << "ext4"
                                  << "80G" << false;
    QTest::newRow("xfs on an LVM volume") << recorded("df-lvm-root.txt") << true << "/dev/mapper/vg--sys-root"
                                          << "xfs"
                                          << "15G" << true;
    QTest::newRow("xfs on a partition") << recorded("df-xfs-partition.txt") << true << "/dev/sda2"
                                        << "xfs"
                                        << "18G" << false;
    QTest::newRow("first root line wins") << recorded("df-two-roots.txt") << true << "/dev/sda2"
                                          << "ext4"
                                          << "18G" << false;
    QTest::newRow("no root line") << recorded("df-no-root.txt") << false << ""
                                  << ""
                                  << "" << false;
    QTest::newRow("wrapped root line") << recorded("df-wrapped-root.txt") << false << ""
                                       << ""
                                       << "" << false;
    QTest::newRow("header only") << "out Filesystem Type Size Used Avail Use% Mounted on\\n\n"
                                 << false << ""
                                 << ""
                                 << "" << false;
    QTest::newRow("df fails") << recorded("df-lvm-root.txt") + "exit 1\n"
                              << false << ""
                              << ""
                              << "" << false;
    QTest::newRow("df crashes") << recorded("df-lvm-root.txt") + "signal SEGV\n"
                                << false << ""
                                << ""
                                << "" << false;
}

void SnapshotTest::rootFileSystemFromDf()
{
    QFETCH(QString, scenario);
    QFETCH(bool, valid);
    QFETCH(QString, device);
    QFETCH(QString, type);
    QFETCH(QString, available);
    QFETCH(bool, lvm);
    m_fakes.setScenario(QStringLiteral("df"), scenario);

    const RootFileSystem root = detectRootFileSystem();
    QCOMPARE(root.isValid(), valid);
    QCOMPARE(root.device(), device);
    QCOMPARE(root.type(), type);
    QCOMPARE(root.available(), available);
    QCOMPARE(root.mountPoint(), valid ? QStringLiteral("/") : QString());
    QCOMPARE(root.isLvm(), lvm);
    QCOMPARE(m_fakes.calls(QStringLiteral("df")), QList<QStringList> {(QStringList {"-T", "-h"})});
}

void SnapshotTest::executeReportsHowTheCommandEnded_data()
{
    QTest::addColumn<QString>("commandLine");
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("error");

    QTest::newRow("success with noise on stderr") << "scripted -x \"two words\" {a,b}"
                                                  << "out done\\n\nerr note\\n\n"
                                                  << int(Snapshot::Success) << "done\n"
                                                  << "";
    QTest::newRow("failure keeps stderr") << "scripted -x \"two words\" {a,b}"
                                          << "out half\\n\nerr broken\\n\nexit 5\n"
                                          << int(Snapshot::Error) << "half\n"
                                          << "broken\n";
    QTest::newRow("killed by a signal") << "scripted -x \"two words\" {a,b}"
                                        << "err dying\\n\nsignal KILL\n"
                                        << int(Snapshot::Error) << ""
                                        << "dying\n";
}

void SnapshotTest::executeReportsHowTheCommandEnded()
{
    QFETCH(QString, commandLine);
    QFETCH(QString, scenario);
    QFETCH(int, result);
    QFETCH(QString, output);
    QFETCH(QString, error);
    m_fakes.setScenario(QStringLiteral("scripted"), scenario);

    XfsSnapshot snapshot(QStringLiteral("xfssnap-kiv-norvo-update"), QStringLiteral("/dev/sda2"));
    QCOMPARE(int(snapshot.execute(commandLine)), result);
    QCOMPARE(snapshot.outputText(), output);
    QCOMPARE(snapshot.errorText(), error);
    // No shell: braces reach the program unexpanded, quotes keep one word.
    QCOMPARE(m_fakes.calls(QStringLiteral("scripted")),
        QList<QStringList> {(QStringList {"-x", "two words", "{a,b}"})});
}

void SnapshotTest::executeTicksOncePerFullSecond()
{
    XfsSnapshot snapshot(QStringLiteral("xfssnap-kiv-norvo-update"), QStringLiteral("/dev/sda2"));
    QSignalSpy ticks(&snapshot, &Snapshot::timeout);
    m_fakes.setScenario(QStringLiteral("scripted"), QStringLiteral("sleep 2.5\n"));
    QCOMPARE(snapshot.execute(QStringLiteral("scripted")), Snapshot::Success);
    QCOMPARE(ticks.count(), 2);

    // A program that cannot start ends the wait at once, without ticks, and is named.
    ticks.clear();
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(snapshot.execute(QStringLiteral("kiv-no-such-program --now")), Snapshot::Error);
    QVERIFY(timer.elapsed() < 1500);
    QCOMPARE(ticks.count(), 0);
    QVERIFY2(snapshot.errorText().contains(QLatin1String("\"kiv-no-such-program\"")),
        qPrintable(snapshot.errorText()));
}

void SnapshotTest::lvmDevicePathIsRewritten_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("origin");
    QTest::addColumn<QString>("volumeGroup");

    QTest::newRow("plain names") << "/dev/mapper/vg0-root"
                                 << "/dev/vg0/root"
                                 << "vg0";
    QTest::newRow("hyphen in the volume group") << "/dev/mapper/vg--sys-root"
                                                << "/dev/vg-sys/root"
                                                << "vg-sys";
    QTest::newRow("hyphens in both names") << "/dev/mapper/my--vg-root--fs"
                                           << "/dev/my-vg/root-fs"
                                           << "my-vg";
    QTest::newRow("not an LVM volume") << "/dev/mapper/cryptroot"
                                       << "/dev/cryptroot"
                                       << "";
}

void SnapshotTest::lvmDevicePathIsRewritten()
{
    QFETCH(QString, device);
    QFETCH(QString, origin);
    QFETCH(QString, volumeGroup);
    LvmSnapshot snapshot(QStringLiteral("lvsnap-kiv-norvo-update"), device, 6);
    QCOMPARE(snapshot.volumeGroup(), volumeGroup);
    QCOMPARE(snapshot.snapshotPath(), QStringLiteral("/dev/%1/lvsnap-kiv-norvo-update").arg(volumeGroup));
    snapshot.create();
    QCOMPARE(m_fakes.calls(QStringLiteral("lvcreate")).value(0).value(7), origin);
}

void SnapshotTest::lvmCommandLines()
{
    LvmSnapshot snapshot(
        QStringLiteral("lvsnap-kiv-norvo-update"), QStringLiteral("/dev/mapper/vg--sys-root"), 12.5);
    QSignalSpy created(&snapshot, &Snapshot::created);

    snapshot.create();
    QCOMPARE(created.count(), 1);
    QCOMPARE(created.at(0).at(0).value<Snapshot::ErrorCode>(), Snapshot::Success);
    QCOMPARE(m_fakes.calls(QStringLiteral("tar")),
        QList<QStringList> {(QStringList {"--xattrs", "--acls", "-czpf", "/var/tmp/boot_snap.tar.bz2",
            "--exclude=/boot/lost+found", "/boot"})});
    QCOMPARE(m_fakes.calls(QStringLiteral("lvcreate")),
        QList<QStringList> {(QStringList {
            "-L", "12.5GB", "-s", "-n", "lvsnap-kiv-norvo-update", "-p", "r", "/dev/vg-sys/root"})});

    // A failing archive stops the creation before the volume is made, and says why.
    m_fakes.reset();
    m_fakes.setScenario(QStringLiteral("tar"), QStringLiteral("err tar: /boot: Cannot open\\n\nexit 2\n"));
    snapshot.create();
    QCOMPARE(created.at(1).at(0).value<Snapshot::ErrorCode>(), Snapshot::Error);
    QCOMPARE(snapshot.errorText(), QStringLiteral("tar: /boot: Cannot open\n"));
    QVERIFY(m_fakes.calls(QStringLiteral("lvcreate")).isEmpty());

    // lvs decides existence by its exit code alone.
    m_fakes.setScenario(QStringLiteral("lvs"), QStringLiteral("exit 5\n"));
    QVERIFY(!snapshot.exists());
    m_fakes.setScenario(QStringLiteral("lvs"), QStringLiteral("exit 0\n"));
    QVERIFY(snapshot.exists());
    QCOMPARE(
        m_fakes.calls(QStringLiteral("lvs")).last(), QStringList {"/dev/vg-sys/lvsnap-kiv-norvo-update"});

    // Removing succeeds even when nothing is there to remove.
    writeFile(QString::fromLatin1(bootArchivePath), "archive");
    m_fakes.setScenario(QStringLiteral("umount"), QStringLiteral("exit 32\n"));
    m_fakes.setScenario(QStringLiteral("lvremove"), QStringLiteral("exit 5\n"));
    QCOMPARE(snapshot.remove(), Snapshot::Success);
    QCOMPARE(m_fakes.calls(QStringLiteral("umount")),
        QList<QStringList> {QStringList {"/var/lib/os-prober/mount"}});
    QCOMPARE(m_fakes.calls(QStringLiteral("lvremove")),
        QList<QStringList> {(QStringList {"-f", "/dev/vg-sys/lvsnap-kiv-norvo-update"})});
    QVERIFY(!QFile::exists(QString::fromLatin1(bootArchivePath)));
}

void SnapshotTest::lvmRestoreNeverLeavesBootEmpty_data()
{
    QTest::addColumn<bool>("archive");
    QTest::addColumn<QString>("listScenario");
    QTest::addColumn<QString>("mergeScenario");
    QTest::addColumn<QString>("extractScenario");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("tarCalls");
    QTest::addColumn<bool>("merged");
    QTest::addColumn<bool>("bootUntouched");
    QTest::addColumn<bool>("archiveKept");

    const QString ok = QStringLiteral("exit 0\n");
    const QString fails = QStringLiteral("err failed\\n\nexit 2\n");
    QTest::newRow("archive missing") << false << ok << ok << ok << int(Snapshot::Error) << 0 << false << true
                                     << false;
    QTest::newRow("archive unreadable")
        << true << fails << ok << ok << int(Snapshot::Error) << 1 << false << true << true;
    QTest::newRow("merge fails") << true << ok << fails << ok << int(Snapshot::Error) << 1 << true << true
                                 << true;
    QTest::newRow("extraction fails")
        << true << ok << ok << fails << int(Snapshot::Error) << 2 << true << false << true;
    QTest::newRow("restored") << true << ok << ok << ok << int(Snapshot::Success) << 2 << true << false
                              << false;
}

void SnapshotTest::lvmRestoreNeverLeavesBootEmpty()
{
    QFETCH(bool, archive);
    QFETCH(QString, listScenario);
    QFETCH(QString, mergeScenario);
    QFETCH(QString, extractScenario);
    QFETCH(int, result);
    QFETCH(int, tarCalls);
    QFETCH(bool, merged);
    QFETCH(bool, bootUntouched);
    QFETCH(bool, archiveKept);

    writeFile(QStringLiteral("/boot/vmlinuz"), "kernel");
    if (archive)
        writeFile(QString::fromLatin1(bootArchivePath), "archive");
    m_fakes.setScenario(QStringLiteral("tar"), listScenario, 1);
    m_fakes.setScenario(QStringLiteral("tar"), extractScenario, 2);
    m_fakes.setScenario(QStringLiteral("lvconvert"), mergeScenario);

    LvmSnapshot snapshot(
        QStringLiteral("lvsnap-kiv-norvo-update"), QStringLiteral("/dev/mapper/vg0-root"), 6);
    QCOMPARE(int(snapshot.restore()), result);
    if (result == Snapshot::Error)
        QVERIFY(!snapshot.errorText().isEmpty());

    const QList<QStringList> tar = m_fakes.calls(QStringLiteral("tar"));
    QCOMPARE(tar.size(), tarCalls);
    if (tarCalls >= 1)
        QCOMPARE(tar.at(0), (QStringList {"-tzf", "/var/tmp/boot_snap.tar.bz2"}));
    if (tarCalls >= 2)
        QCOMPARE(tar.at(1),
            (QStringList {"--xattrs", "--xattrs-include=security.{ZLAB,AUDIT,DEF_AUDIT}", "--acls", "-xzf",
                "/var/tmp/boot_snap.tar.bz2", "-C", "/"}));
    QCOMPARE(m_fakes.calls(QStringLiteral("lvconvert")),
        merged ? QList<QStringList> {(QStringList {"--merge", "/dev/vg0/lvsnap-kiv-norvo-update"})}
               : QList<QStringList> {});
    QCOMPARE(QFile::exists(QStringLiteral("/boot/vmlinuz")), bootUntouched);
    QCOMPARE(QFile::exists(QString::fromLatin1(bootArchivePath)), archiveKept);
}

void SnapshotTest::lvmBootArchiveRoundTripWithRealTar()
{
    // The kernel here has no device-mapper, so the LVM tools are faked; the archive of /boot is
    // made and extracted by the real tar.
    m_lvmTools.activate();
    writeFile(QStringLiteral("/boot/vmlinuz-6.1.0-13-amd64"), QByteArray(200000, 'k'));
    writeFile(QStringLiteral("/boot/grub/grub.cfg"), "menuentry 'Norvo' {}\n");
    writeFile(QStringLiteral("/boot/lost+found/lost"), "not archived\n");
    QFile::setPermissions(
        QStringLiteral("/boot/grub/grub.cfg"), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const auto run = [](const QString& program, const QStringList& arguments) {
        QProcess process;
        process.start(program, arguments);
        return process.waitForFinished(10000) && process.exitCode() == 0 ? process.readAllStandardOutput()
                                                                         : QByteArray("(failed)");
    };
    QCOMPARE(
        run(QStringLiteral("setfattr"), {"-n", "security.ZLAB", "-v", "3", "/boot/vmlinuz-6.1.0-13-amd64"}),
        QByteArray());
    QCOMPARE(run(QStringLiteral("setfacl"), {"-m", "u:nobody:r", "/boot/grub/grub.cfg"}), QByteArray());
    const QByteArray aclBefore = run(QStringLiteral("getfacl"), {"-c", "/boot/grub/grub.cfg"});

    LvmSnapshot snapshot(
        QStringLiteral("lvsnap-kiv-norvo-update"), QStringLiteral("/dev/mapper/vg0-root"), 6);
    QSignalSpy created(&snapshot, &Snapshot::created);
    snapshot.create();
    QCOMPARE(created.at(0).at(0).value<Snapshot::ErrorCode>(), Snapshot::Success);

    // The update changes the kernel, deletes the configuration and adds a file.
    writeFile(QStringLiteral("/boot/vmlinuz-6.1.0-13-amd64"), "new kernel");
    QFile::remove(QStringLiteral("/boot/grub/grub.cfg"));
    writeFile(QStringLiteral("/boot/initrd.img-6.1.0-14-amd64"), "new initrd");

    QCOMPARE(snapshot.restore(), Snapshot::Success);
    QCOMPARE(readFile(QStringLiteral("/boot/vmlinuz-6.1.0-13-amd64")), QByteArray(200000, 'k'));
    QCOMPARE(readFile(QStringLiteral("/boot/grub/grub.cfg")), QByteArray("menuentry 'Norvo' {}\n"));
    QVERIFY(!QFile::exists(QStringLiteral("/boot/initrd.img-6.1.0-14-amd64")));
    QVERIFY(!QFile::exists(QStringLiteral("/boot/lost+found/lost")));
    QCOMPARE(run(QStringLiteral("getfacl"), {"-c", "/boot/grub/grub.cfg"}), aclBefore);
    QVERIFY(aclBefore.contains("user:nobody:r--"));
    QVERIFY(!QFile::exists(QString::fromLatin1(bootArchivePath)));
    // The extraction names the security attributes as "security.{ZLAB,AUDIT,DEF_AUDIT}" and runs
    // without a shell: tar matches that text literally, so those attributes are not put back.
    QEXPECT_FAIL("", "tar receives the braces unexpanded", Continue);
    QCOMPARE(run(QStringLiteral("getfattr"),
                 {"--only-values", "-n", "security.ZLAB", "/boot/vmlinuz-6.1.0-13-amd64"}),
        QByteArray("3"));
}

void SnapshotTest::xfsOnlyACompletedDumpCounts()
{
    XfsSnapshot snapshot(QStringLiteral("xfssnap-kiv-norvo-update"), QStringLiteral("/dev/sda2"));
    const QString dump = snapshot.dumpFilePath();
    QCOMPARE(dump, QStringLiteral("/var/tmp/xfssnap-kiv-norvo-update.bin"));
    QVERIFY(!snapshot.exists());
    QCOMPARE(snapshot.size(), 0.0);

    // xfsdump fails half-way: what it wrote goes.
    QSignalSpy created(&snapshot, &Snapshot::created);
    m_fakes.setScenario(QStringLiteral("bash"),
        QStringLiteral("write %1 half a dump\nerr xfsdump: ERROR: no space left\\n\nexit 1\n").arg(dump));
    snapshot.create();
    QCOMPARE(created.at(0).at(0).value<Snapshot::ErrorCode>(), Snapshot::Error);
    QCOMPARE(snapshot.errorText(), QStringLiteral("xfsdump: ERROR: no space left\n"));
    QCOMPARE(m_fakes.calls(QStringLiteral("bash")),
        QList<QStringList> {(QStringList {"-c",
            "xfsdump -l 0 -L session_norvo -M tape_norvo -f "
            "/var/tmp/xfssnap-kiv-norvo-update.bin /"})});
    QVERIFY(!QFileInfo::exists(dump));
    QVERIFY(!snapshot.exists());

    // A completed dump is root's alone and counts, until its size changes.
    m_fakes.setScenario(QStringLiteral("bash"), QStringLiteral("write %1 a whole dump\n").arg(dump));
    snapshot.create();
    QCOMPARE(created.at(1).at(0).value<Snapshot::ErrorCode>(), Snapshot::Success);
    QCOMPARE(mode(dump), 0600u);
    QVERIFY(snapshot.exists());
    QVERIFY(QFile::resize(dump, qint64(3) * 1024 * 1024 * 1024));
    QCOMPARE(snapshot.size(), 3.0);
    QVERIFY(!snapshot.exists());
    QCOMPARE(snapshot.restore(), Snapshot::Error);
    QVERIFY2(snapshot.errorText().contains(QLatin1String("not a complete snapshot")),
        qPrintable(snapshot.errorText()));
    QVERIFY(m_fakes.calls(QStringLiteral("xfsrestore")).isEmpty());

    QCOMPARE(snapshot.remove(), Snapshot::Success);
    QCOMPARE(snapshot.remove(), Snapshot::Error);
}

std::unique_ptr<Snapshot> SnapshotTest::makeSnapshot(bool lvm)
{
    if (lvm)
        return std::make_unique<LvmSnapshot>(
            QStringLiteral("lvsnap-kiv-norvo-update"), QStringLiteral("/dev/mapper/vg0-root"), 6);
    return std::make_unique<XfsSnapshot>(
        QStringLiteral("xfssnap-kiv-norvo-update"), QStringLiteral("/dev/sda2"));
}

uint SnapshotTest::mode(const QString& path)
{
    struct stat status = {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode & 07777 : 0;
}

void SnapshotTest::asNobody(const QString& shellCommand)
{
    QProcess process;
    process.start(QStringLiteral("setpriv"),
        {"--reuid=65534", "--regid=65534", "--clear-groups", "sh", "-c", shellCommand});
    QVERIFY2(process.waitForFinished(10000) && process.exitCode() == 0,
        qPrintable(
            shellCommand + QLatin1String(": ") + QString::fromLocal8Bit(process.readAllStandardError())));
}

void SnapshotTest::snapshotFilesAreCreatedAfresh_data()
{
    QTest::addColumn<bool>("lvm");
    QTest::addColumn<QString>("plant");
    // A link to a file of root's, and a folder of nobody's, planted by user nobody.
    const QString link = QStringLiteral("ln -s /etc/kiv-victim %1");
    const QString folder = QStringLiteral("mkdir %1 && touch %1/inside");
    QTest::newRow("boot archive over a link") << true << link;
    QTest::newRow("boot archive over a folder") << true << folder;
    QTest::newRow("dump over a link") << false << link;
    QTest::newRow("dump over a folder") << false << folder;
}

void SnapshotTest::snapshotFilesAreCreatedAfresh()
{
    QFETCH(bool, lvm);
    QFETCH(QString, plant);
    writeFile(QStringLiteral("/etc/kiv-victim"), "victim\n");
    QFile::setPermissions(QStringLiteral("/etc/kiv-victim"),
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    // The archive of /boot is written by the real tar.
    if (lvm) {
        m_lvmTools.activate();
        writeFile(
            QStringLiteral("/boot/grub/grub.cfg"), "password_pbkdf2 root grub.pbkdf2.sha512.10000.AB\n");
    }
    const std::unique_ptr<Snapshot> snapshot = makeSnapshot(lvm);
    const QString path = lvm ? QString::fromLatin1(bootArchivePath)
                             : QStringLiteral("/var/tmp/xfssnap-kiv-norvo-update.bin");
    asNobody(plant.arg(path));

    QSignalSpy created(snapshot.get(), &Snapshot::created);
    snapshot->create();
    QCOMPARE(created.at(0).at(0).value<Snapshot::ErrorCode>(), Snapshot::Success);
    QCOMPARE(readFile(QStringLiteral("/etc/kiv-victim")), QByteArray("victim\n"));
    const QFileInfo file(path);
    QVERIFY(file.isFile() && !file.isSymLink());
    QCOMPARE(file.ownerId(), 0u);
    QCOMPARE(mode(path), 0600u);
    if (lvm)
        QVERIFY(file.size() > 0);
    SnapshotFile::removeAny(path);
}

void SnapshotTest::restoreTrustsOnlyRootsOwnFile_data()
{
    QTest::addColumn<bool>("lvm");
    QTest::addColumn<QString>("tamper");
    QTest::addColumn<bool>("byNobody");
    QTest::addColumn<QString>("reason");

    // %1 is the snapshot file, made by the program beforehand; /var/tmp/genuine is a copy of it.
    // Only root may remove root's file from the sticky /var/tmp: nobody plants once it is gone.
    const QString link = QStringLiteral("ln -s /var/tmp/genuine %1");
    const QString replaced = QStringLiteral("echo planted > %1");
    for (const bool lvm : {true, false}) {
        const char* kind = lvm ? "boot archive" : "dump";
        QTest::newRow(qPrintable(QStringLiteral("%1: a link by nobody").arg(kind)))
            << lvm << link << true << "is not a regular file";
        QTest::newRow(qPrintable(QStringLiteral("%1: a file by nobody").arg(kind)))
            << lvm << replaced << true << "does not belong to root";
        QTest::newRow(qPrintable(QStringLiteral("%1: writable by others").arg(kind)))
            << lvm << "chmod 0602 %1" << false << "can be changed by other users";
        QTest::newRow(qPrintable(QStringLiteral("%1: a second name").arg(kind)))
            << lvm << "ln %1 /var/tmp/second" << false << "more than one name";
    }
}

void SnapshotTest::restoreTrustsOnlyRootsOwnFile()
{
    QFETCH(bool, lvm);
    QFETCH(QString, tamper);
    QFETCH(bool, byNobody);
    QFETCH(QString, reason);
    writeFile(QStringLiteral("/boot/vmlinuz"), "kernel");
    const std::unique_ptr<Snapshot> snapshot = makeSnapshot(lvm);
    const QString path = lvm ? QString::fromLatin1(bootArchivePath)
                             : QStringLiteral("/var/tmp/xfssnap-kiv-norvo-update.bin");
    for (const QString& leftover : {QStringLiteral("/var/tmp/genuine"), QStringLiteral("/var/tmp/second")})
        QFile::remove(leftover);
    snapshot->create();
    QVERIFY(lvm || snapshot->exists());
    QVERIFY(QFile::copy(path, QStringLiteral("/var/tmp/genuine")));
    QProcess::execute(QStringLiteral("chmod"), {"0644", "/var/tmp/genuine"});
    if (byNobody) {
        QFile::remove(path);
        asNobody(tamper.arg(path));
    } else {
        QCOMPARE(QProcess::execute(QStringLiteral("sh"), {"-c", tamper.arg(path)}), 0);
    }
    m_fakes.reset();

    QCOMPARE(snapshot->restore(), Snapshot::Error);
    QVERIFY2(snapshot->errorText().contains(reason), qPrintable(snapshot->errorText()));
    QVERIFY(lvm || !snapshot->exists());
    QCOMPARE(m_fakes.sequence(), QStringList {});
    QCOMPARE(readFile(QStringLiteral("/boot/vmlinuz")), QByteArray("kernel"));
    SnapshotFile::removeAny(path);
    QFile::remove(QStringLiteral("/var/tmp/second"));
}

void SnapshotTest::lvmExistenceIsBounded()
{
    // A hanging lvs would freeze the window: it is stopped after the helpers' 30 s and reads as no.
    m_fakes.setScenario(QStringLiteral("lvs"), QStringLiteral("hang\n"));
    LvmSnapshot snapshot(
        QStringLiteral("lvsnap-kiv-norvo-update"), QStringLiteral("/dev/mapper/vg0-root"), 6);
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!snapshot.exists());
    QVERIFY2(timer.elapsed() < 45000, qPrintable(QString::number(timer.elapsed())));
    QVERIFY2(snapshot.errorText().contains(QLatin1String("did not finish within 30 seconds")),
        qPrintable(snapshot.errorText()));
}

QTEST_GUILESS_MAIN(SnapshotTest)
#include "tst_snapshot.moc"
