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
#include "scenariotable.h"
#include "snapshotfile.h"
#include "testfiles.h"
#include "xfssnapshot.h"

using namespace TestHelpers;

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

    void rootFileSystemFromDf_data() { addRows("df-roots.txt", {"df", "then", "root"}); }

    void rootFileSystemFromDf()
    {
        QFETCH(const Row, row);
        m_fakes.setScenario("df",
            (QStringList(QString("cat " KIV_TEST_DATA_DIR "/") + row["df"][0]) + row["then"]).join('\n')
                + '\n');
        const RootFileSystem found = detectRootFileSystem();
        const QString seen
            = QStringList {found.device(), found.type(), found.available(), found.isLvm() ? "lvm" : "plain"}
                  .join(' ');
        QCOMPARE(found.isValid() ? seen : QString(), row["root"].value(0));
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

    void lvmRestoreNeverLeavesBootEmpty_data()
    {
        addRows("lvm-restores.txt", {"archive", "fails", "runs", "boot", "kept", "half"});
    }

    void lvmRestoreNeverLeavesBootEmpty()
    {
        QFETCH(const Row, row);
        const QStringList fails = row["fails"];
        if (!row.contains("archive"))
            writeFile(bootArchivePath, "archive");
        const QString failure = "err failed\\n\nexit 2\n";
        m_fakes.setScenario("tar", fails.contains("list") ? failure : "", 1);
        m_fakes.setScenario("lvconvert", fails.contains("merge") ? failure : "");
        m_fakes.setScenario("tar",
            fails.contains("extract") ? failure : "run mkdir -p /boot/.kiv-norvo-update-restore/boot/grub\n",
            2);
        // An immutable file cannot be moved, not even by root.
        const bool immutable
            = fails.contains("swap") && QProcess::execute("chattr", {"+i", "/boot/vmlinuz"}) == 0;
        const auto mutableAgain = qScopeGuard([] { QProcess::execute("chattr", {"-i", "/boot/vmlinuz"}); });
        QVERIFY(immutable || !fails.contains("swap"));

        LvmSnapshot snapshot("lvsnap-kiv-norvo-update", "/dev/mapper/vg0-root", 6);
        const Snapshot::ErrorCode result = snapshot.restore();
        QCOMPARE(result, row.contains("archive") || !fails.isEmpty() ? Snapshot::Error : Snapshot::Success);
        QCOMPARE(snapshot.errorText().isEmpty(), result == Snapshot::Success);
        QCOMPARE(m_fakes.callsInOrder({"tar", "lvconvert"}), row["runs"]);
        QCOMPARE(QFile::exists("/boot/vmlinuz"), row.contains("boot"));
        QCOMPARE(QFileInfo("/boot/grub").isDir(), result == Snapshot::Success);
        QCOMPARE(QFile::exists(bootArchivePath), row.contains("kept"));
        QCOMPARE(snapshot.isRestoreHalfDone(), row.contains("half"));
        if (row.contains("half")) {
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
        QTest::newRow("lvs without a figure") << "lvm" << QByteArray("\n") << "unreadable";
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

    void lvmExistenceIsBounded()
    {
        // A hanging lvs would freeze the window: it is stopped after the helpers' 30 s and reads as no.
        m_fakes.setScenario("lvs", "hang\n");
        LvmSnapshot snapshot("lvsnap-kiv-norvo-update", "/dev/mapper/vg0-root", 6);
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!snapshot.exists());
        QVERIFY2(timer.elapsed() < 45000, qPrintable(QString::number(timer.elapsed())));
        QVERIFY2(snapshot.errorText().contains("did not finish within 30 seconds"),
            qPrintable(snapshot.errorText()));
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

    void snapshotFilesAreRootsAlone_data()
    {
        addRows("snapshot-files.txt", {"snapshot", "before", "after", "refused"});
    }

    void snapshotFilesAreRootsAlone()
    {
        QFETCH(const Row, row);
        const bool lvm = row["snapshot"] == QStringList {"lvm"};
        writeFile("/etc/kiv-victim", "victim\n");
        // The archive of /boot is written by the real tar.
        if (lvm)
            m_lvmTools.activate();
        const std::unique_ptr<Snapshot> made = lvm
            ? std::unique_ptr<Snapshot>(
                std::make_unique<LvmSnapshot>("lvsnap-kiv-norvo-update", "/dev/mapper/vg0-root", 6))
            : std::make_unique<XfsSnapshot>("xfssnap-kiv-norvo-update", "/dev/sda2");
        const QString path = lvm ? bootArchivePath : dump;
        for (const QString& planted : row["before"])
            QVERIFY2(runAsNobody(planted.arg(path)), qPrintable(planted));

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
        for (const QString& tamper : row["after"]) {
            if (tamper.startsWith("as nobody ")) {
                QFile::remove(path);
                QVERIFY2(runAsNobody(tamper.mid(10).arg(path)), qPrintable(tamper));
            } else {
                QCOMPARE(QProcess::execute("sh", {"-c", tamper.arg(path)}), 0);
            }
        }
        m_fakes.activate();
        m_fakes.reset();
        if (row.contains("refused")) {
            QCOMPARE(made->restore(), Snapshot::Error);
            QVERIFY2(made->errorText().contains(row["refused"][0]), qPrintable(made->errorText()));
            QVERIFY(lvm || !made->exists());
            QCOMPARE(m_fakes.sequence(), QStringList {});
            QCOMPARE(readFile("/boot/vmlinuz"), QByteArray("kernel"));
        }
    }
};

QTEST_GUILESS_MAIN(SnapshotTest)
#include "tst_snapshot.moc"
