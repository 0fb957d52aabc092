#include <atomic>
#include <climits>
#include <memory>
#include <poll.h>
#include <sys/inotify.h>
#include <thread>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

#include "btrfssnapshot.h"
#include "fakeexecutables.h"
#include "lvmsnapshot.h"
#include "rootfilesystem.h"
#include "snapshotfile.h"
#include "testfiles.h"
#include "xfssnapshot.h"

using namespace TestHelpers;

// The command lines of the snapshots, as the snapshots build them.
struct Words : Snapshot
{
    static QStringList of(const QString& commandLine, const QStringList& values)
    {
        return commandWords(commandLine, values);
    }
};

namespace {

const QString dump = "/var/tmp/xfssnap-kiv-norvo-update.bin";

// Runs a shell command as user nobody.
bool runAsNobody(const QString& shellCommand)
{
    return QProcess::execute(asNobody[0], asNobody.mid(1) + QStringList {"sh", "-c", shellCommand}) == 0;
}

} // namespace

// Runs inside the sandbox (see CMakeLists.txt): /boot and /var/tmp here are scratch copies.
class SnapshotTest final : public QObject
{
    Q_OBJECT

    FakeExecutables m_fakes;
    // The LVM tools only, so that the real tar archives /boot.
    FakeExecutables m_lvmTools;

private slots:
    void initTestCase()
    {
        QVERIFY2(QFile::exists("/run/kiv-sandbox/layers_boot"), "the test must run in the sandbox");
        for (const char* name :
            {"df", "lvs", "lvcreate", "lvremove", "lvconvert", "umount", "tar", "bash", "xfsrestore"})
            m_fakes.add(name);
        for (const char* name : {"lvs", "lvcreate", "lvremove", "lvconvert", "umount"})
            m_lvmTools.add(name);
    }

    void init()
    {
        m_fakes.reset();
        m_lvmTools.reset();
        m_fakes.activate();
        for (const QString& path : QStringList {bootArchivePath, dump, "/var/tmp/genuine", "/var/tmp/second"})
            SnapshotFile::removeAny(path);
        QDir("/boot").removeRecursively();
        QDir().mkpath("/boot");
        writeFile("/boot/vmlinuz", "kernel");
    }

    void rootFileSystemFromDf_data()
    {
        QTest::addColumn<QString>("df"); // what df -T -h prints
        QTest::addColumn<QString>("then"); // what the scripted df does after it (tests/support/fake-program)
        QTest::addColumn<QString>("root"); // DEVICE TYPE SIZE lvm|plain; empty: no root found
        const QString head = "Filesystem Type Size Used Avail Use% Mounted on\n";
        const QString lvm
            = head + "udev devtmpfs 3.9G 0 3.9G 0% /dev\n/dev/mapper/vg--sys-root xfs 20G 5.0G 15G 25% /\n";
        QTest::newRow("this machine")
            << QString::fromUtf8(readFile(KIV_TEST_DATA_DIR "/recorded/df-this-machine.txt")) << ""
            << "/dev/vda ext4 80G plain";
        QTest::newRow("xfs on an LVM volume") << lvm << ""
                                              << "/dev/mapper/vg--sys-root xfs 15G lvm";
        QTest::newRow("first root line wins")
            << head + "/dev/sda2 ext4 30G 12G 18G 40% /\noverlay overlay 30G 12G 17G 42% /\n"
            << ""
            << "/dev/sda2 ext4 18G plain";
        QTest::newRow("no root line") << head + "/dev/sda1 ext4 943M 180M 699M 21% /boot\n"
                                      << ""
                                      << "";
        QTest::newRow("df fails") << lvm << "exit 1"
                                  << "";
    }

    void rootFileSystemFromDf()
    {
        QFETCH(const QString, df);
        QFETCH(const QString, then);
        QFETCH(const QString, root);
        writeFile(m_fakes.directory() + "/df.out", df.toUtf8());
        m_fakes.setScenario("df", "cat " + m_fakes.directory() + "/df.out\n" + then + '\n');
        const RootFileSystem found = detectRootFileSystem();
        const QString seen
            = QStringList {found.device(), found.type(), found.available(), found.isLvm() ? "lvm" : "plain"}
                  .join(' ');
        QCOMPARE(found.isValid() ? seen : QString(), root);
        QCOMPARE(found.mountPoint(), found.isValid() ? "/" : "");
        QCOMPARE(m_fakes.calls("df"), QList<QStringList> {(QStringList {"-T", "-h"})});
    }

    void lvmCommandLines()
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
    }

    // The restore lists the archive of /boot, extracts it beside /boot, merges the volume back,
    // then swaps the extracted files in. The extraction here makes a /boot holding grub/ alone.
    void lvmRestoreNeverLeavesBootEmpty_data()
    {
        QTest::addColumn<bool>("archived"); // an archive of /boot is there
        // The step that fails: list, extract or merge; swap: a file of /boot cannot be moved.
        QTest::addColumn<QString>("fails");
        QTest::addColumn<QStringList>("runs"); // every command run, in order
        QTest::addColumn<bool>("bootKept"); // /boot as it was is left alone
        QTest::addColumn<bool>("archiveKept");
        QTest::addColumn<bool>("halfDone"); // failed after the merge was scheduled
        const QString list = "tar -tzf /var/tmp/boot_snap.tar.bz2";
        const QString extract = "tar --xattrs --xattrs-include=security.{ZLAB,AUDIT,DEF_AUDIT} --acls -xzf "
                                "/var/tmp/boot_snap.tar.bz2 -C /boot/.kiv-norvo-update-restore";
        const QString merge = "lvconvert --merge /dev/vg0/lvsnap-kiv-norvo-update";
        QTest::newRow("archive missing") << false << "" << QStringList {} << true << false << false;
        QTest::newRow("archive unreadable") << true << "list" << QStringList {list} << true << true << false;
        QTest::newRow("extraction fails")
            << true << "extract" << QStringList {list, extract} << true << true << false;
        QTest::newRow("merge fails") << true << "merge" << QStringList {list, extract, merge} << true << true
                                     << false;
        QTest::newRow("/boot cannot be swapped after the merge")
            << true << "swap" << QStringList {list, extract, merge} << true << true << true;
        QTest::newRow("restored") << true << "" << QStringList {list, extract, merge} << false << false
                                  << false;
    }

    void lvmRestoreNeverLeavesBootEmpty()
    {
        QFETCH(const bool, archived);
        QFETCH(const QString, fails);
        QFETCH(const QStringList, runs);
        QFETCH(const bool, bootKept);
        QFETCH(const bool, archiveKept);
        QFETCH(const bool, halfDone);
        if (archived)
            writeFile(bootArchivePath, "archive");
        const QString failure = "err failed\\n\nexit 2\n";
        m_fakes.setScenario("tar", fails.contains("list") ? failure : "", 1);
        m_fakes.setScenario("lvconvert", fails.contains("merge") ? failure : "");
        m_fakes.setScenario("tar",
            fails.contains("extract") ? failure : "run mkdir -p /boot/.kiv-norvo-update-restore/boot/grub\n",
            2);
        // An immutable file cannot be moved, not even by root.
        const bool immutable = fails == "swap" && QProcess::execute("chattr", {"+i", "/boot/vmlinuz"}) == 0;
        const auto mutableAgain = qScopeGuard([] { QProcess::execute("chattr", {"-i", "/boot/vmlinuz"}); });
        QVERIFY(immutable || fails != "swap");

        LvmSnapshot snapshot("lvsnap-kiv-norvo-update", "/dev/mapper/vg0-root", 6);
        const Snapshot::ErrorCode result = snapshot.restore();
        QCOMPARE(result, !archived || !fails.isEmpty() ? Snapshot::Error : Snapshot::Success);
        QCOMPARE(snapshot.errorText().isEmpty(), result == Snapshot::Success);
        QCOMPARE(m_fakes.callsInOrder({"tar", "lvconvert"}), runs);
        QCOMPARE(QFile::exists("/boot/vmlinuz"), bootKept);
        QCOMPARE(QFileInfo("/boot/grub").isDir(), result == Snapshot::Success);
        QCOMPARE(QFile::exists(bootArchivePath), archiveKept);
        QCOMPARE(snapshot.isRestoreHalfDone(), halfDone);
        if (halfDone) {
            QVERIFY2(snapshot.errorText().contains(
                         "Before any reboot, put /boot back by hand: tar --xattrs --acls -xzf "
                         + QString(bootArchivePath)),
                qPrintable(snapshot.errorText()));
        }
    }

    void lvmBootArchiveRoundTripWithRealTar()
    {
        // The kernel here has no device-mapper, so the LVM tools are faked; the archive of /boot is
        // made and extracted by the real tar.
        m_lvmTools.activate();
        writeFile("/boot/vmlinuz-6.1.0-13-amd64", QByteArray(200000, 'k'));
        writeFile("/boot/grub/grub.cfg", "menuentry 'Norvo' {}\n");
        writeFile("/boot/lost+found/lost", "not archived\n");
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
        QCOMPARE(readFile("/boot/lost+found/lost"), QByteArray("not archived\n"));
        QCOMPARE(QDir("/boot").entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList({"grub", "lost+found", "vmlinuz", "vmlinuz-6.1.0-13-amd64"}));
        QVERIFY(!QFile::exists(bootArchivePath));
    }

    // A completed dump's worth is the real round trip's to show; this is the dump that fails half-way.
    void xfsHalfADumpGoes()
    {
        XfsSnapshot snapshot("xfssnap-kiv-norvo-update", "/dev/sda2");
        QSignalSpy created(&snapshot, &Snapshot::created);
        m_fakes.setScenario("bash",
            QString("write %1 half a dump\nerr xfsdump: ERROR: no space left\\n\nexit 1\n").arg(dump));
        snapshot.create();
        QCOMPARE(created.at(0).at(0).value<Snapshot::ErrorCode>(), Snapshot::Error);
        QCOMPARE(snapshot.errorText(), "xfsdump: ERROR: no space left\n");
        QVERIFY(!QFileInfo::exists(dump));
        QVERIFY(!snapshot.exists());
        QCOMPARE(snapshot.size(), 0.0);
        QCOMPARE(snapshot.remove(), Snapshot::Error);
    }

    void commandWordsKeepValuesWhole()
    {
        // The program's own command lines part at their blanks; a value never does.
        QCOMPARE(Words::of("lvcreate -L %1GB -s -n %2 -p r %3", {"12.5", "my snap", "/dev/vg0/\"root\""}),
            (QStringList {
                "lvcreate", "-L", "12.5GB", "-s", "-n", "my snap", "-p", "r", "/dev/vg0/\"root\""}));
        QCOMPARE(Words::of("tar -C %2 %1", {"%2", "/a b"}), (QStringList {"tar", "-C", "/a b", "%2"}));
    }

    // How full the room is that a snapshot needs while the update writes, as the watch reads it.
    void fillLevels_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<QString>("percent");
        QFile usage(KIV_TEST_DATA_DIR "/recorded/btrfs-filesystem-usage.out");
        QVERIFY(usage.open(QIODevice::ReadOnly));
        const QByteArray recorded = usage.readAll();
        QTest::newRow("btrfs usage as btrfs-progs prints it") << "btrfs" << recorded << "17.2";
        QTest::newRow("btrfs usage without the device size")
            << "btrfs" << QByteArray(recorded).replace("Device size", "Size") << "unreadable";
        QTest::newRow("lvs with a decimal comma") << "lvm" << QByteArray("  85,20\n") << "85.2";
    }

    void fillLevels()
    {
        QFETCH(QString, kind);
        QFETCH(QByteArray, output);
        QFETCH(QString, percent);
        const std::unique_ptr<Snapshot> snapshot = kind == "lvm"
            ? std::unique_ptr<Snapshot>(
                std::make_unique<LvmSnapshot>("lvsnap-kiv-norvo-update", "/dev/mapper/vg0-root", 6))
            : std::make_unique<BtrfsSnapshot>("btrfssnap-kiv-norvo-update", "/dev/sda2", 6);
        const double read = snapshot->fillPercent(output);
        QCOMPARE(read < 0 ? QString("unreadable") : QString::number(read, 'f', 1), percent);
    }

    // A user plants two folders at the name; the moment root starts removing inside one, the other
    // is renamed away and a link to a folder of root's takes its place. Nothing of root's may go.
    void plantedTreeIsRemovedWithoutFollowingLinks()
    {
        const QString planted = QString(bootArchivePath) + '/';
        for (int i = 0; i < 200; ++i)
            writeFile(QString("/etc/kiv-victims/%1").arg(i), "victim\n");
        for (int i = 0; i < 2000; ++i) {
            writeFile(planted + QString("a/%1").arg(i), "");
            writeFile(planted + QString("b/%1").arg(i), "");
        }
        const int watcher = ::inotify_init1(IN_CLOEXEC);
        const int watches[] = {::inotify_add_watch(watcher, qPrintable(planted + 'a'), IN_DELETE),
            ::inotify_add_watch(watcher, qPrintable(planted + 'b'), IN_DELETE)};
        QVERIFY(watcher >= 0 && watches[0] >= 0 && watches[1] >= 0);
        std::atomic_bool swapped {false};
        std::thread attacker([&]() {
            alignas(inotify_event) char event[sizeof(inotify_event) + NAME_MAX + 1];
            pollfd ready {watcher, POLLIN, 0};
            if (::poll(&ready, 1, 60000) != 1 || ::read(watcher, event, sizeof event) <= 0)
                return;
            const QString other
                = planted + (reinterpret_cast<inotify_event*>(event)->wd == watches[0] ? 'b' : 'a');
            swapped = ::rename(qPrintable(other), qPrintable(other + ".moved")) == 0
                && ::symlink("/etc/kiv-victims", qPrintable(other)) == 0;
        });
        const QString reason = SnapshotFile::createPrivate(bootArchivePath);
        attacker.join();
        ::close(watcher);
        QVERIFY(swapped);
        QCOMPARE(QDir("/etc/kiv-victims").entryList(QDir::Files).size(), 200);
        QCOMPARE(reason, QString());
        QVERIFY(QFileInfo(bootArchivePath).isFile());
    }

    // The program makes the file (%1) as root; /var/tmp/genuine is a copy of it anyone can read. The
    // archive of /boot and the XFS dump share the checks: all of them are tried on one.
    void snapshotFilesAreRootsAlone_data()
    {
        QTest::addColumn<bool>("lvm"); // the archive of /boot of an LVM snapshot, else the XFS dump
        // Run as nobody before the snapshot is made: the file must be made afresh, leaving alone
        // what was planted.
        QTest::addColumn<QString>("before");
        // Run after it is made, as root ("as nobody SHELL": as nobody, once the file is gone; only
        // root may remove root's file from the sticky /var/tmp).
        QTest::addColumn<QString>("after");
        QTest::addColumn<QString>("refused"); // why the restore then refuses the file
        const QString link = "ln -s /etc/kiv-victim %1";
        QTest::newRow("dump over a link") << false << link << ""
                                          << "";
        QTest::newRow("boot archive: a file by nobody") << true << ""
                                                        << "as nobody echo planted > %1"
                                                        << "does not belong to root";
        QTest::newRow("dump: a link by nobody") << false << ""
                                                << "as nobody ln -s /var/tmp/genuine %1"
                                                << "is not a regular file";
        QTest::newRow("dump: a file by nobody") << false << ""
                                                << "as nobody echo planted > %1"
                                                << "does not belong to root";
        QTest::newRow("dump: writable by others") << false << ""
                                                  << "chmod 0602 %1"
                                                  << "can be changed by other users";
        QTest::newRow("dump: a second name") << false << ""
                                             << "ln %1 /var/tmp/second"
                                             << "more than one name";
    }

    void snapshotFilesAreRootsAlone()
    {
        QFETCH(const bool, lvm);
        QFETCH(const QString, before);
        QFETCH(const QString, after);
        QFETCH(const QString, refused);
        writeFile("/etc/kiv-victim", "victim\n");
        // The archive of /boot is written by the real tar.
        if (lvm)
            m_lvmTools.activate();
        const std::unique_ptr<Snapshot> made = lvm
            ? std::unique_ptr<Snapshot>(
                std::make_unique<LvmSnapshot>("lvsnap-kiv-norvo-update", "/dev/mapper/vg0-root", 6))
            : std::make_unique<XfsSnapshot>("xfssnap-kiv-norvo-update", "/dev/sda2");
        const QString path = lvm ? bootArchivePath : dump;
        QVERIFY2(before.isEmpty() || runAsNobody(before.arg(path)), qPrintable(before));

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
        if (after.startsWith("as nobody ")) {
            QFile::remove(path);
            QVERIFY2(runAsNobody(after.mid(10).arg(path)), qPrintable(after));
        } else if (!after.isEmpty()) {
            QCOMPARE(QProcess::execute("sh", {"-c", after.arg(path)}), 0);
        }
        m_fakes.activate();
        m_fakes.reset();
        if (!refused.isEmpty()) {
            QCOMPARE(made->restore(), Snapshot::Error);
            QVERIFY2(made->errorText().contains(refused), qPrintable(made->errorText()));
            QVERIFY(lvm || !made->exists());
            QCOMPARE(m_fakes.sequence(), QStringList {});
            QCOMPARE(readFile("/boot/vmlinuz"), QByteArray("kernel"));
        }
    }
};

QTEST_GUILESS_MAIN(SnapshotTest)
#include "tst_snapshot.moc"
