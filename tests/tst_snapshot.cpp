#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

#include "fakeexecutables.h"
#include "lvmsnapshot.h"
#include "snapshotfile.h"
#include "testfiles.h"

using namespace TestHelpers;

// The command lines of the snapshots, as the snapshots build them.
struct Words : Snapshot
{
    static QStringList of(const QString& commandLine, const QStringList& values)
    {
        return commandWords(commandLine, values);
    }
};

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
        REQUIRE_SANDBOX();
        for (const char* name : {"lvs", "lvcreate", "lvremove", "lvconvert", "umount", "tar"})
            m_fakes.add(name);
        for (const char* name : {"lvs", "lvcreate", "lvremove", "lvconvert", "umount"})
            m_lvmTools.add(name);
    }

    void init()
    {
        m_fakes.reset();
        m_lvmTools.reset();
        m_fakes.activate();
        SnapshotFile::removeAny(bootArchivePath);
        QDir("/boot").removeRecursively();
        QDir().mkpath("/boot");
        writeFile("/boot/vmlinuz", "kernel");
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

    void commandWordsKeepValuesWhole()
    {
        // The program's own command lines part at their blanks; a value never does.
        QCOMPARE(Words::of("lvcreate -L %1GB -s -n %2 -p r %3", {"12.5", "my snap", "/dev/vg0/\"root\""}),
            (QStringList {
                "lvcreate", "-L", "12.5GB", "-s", "-n", "my snap", "-p", "r", "/dev/vg0/\"root\""}));
        QCOMPARE(Words::of("tar -C %2 %1", {"%2", "/a b"}), (QStringList {"tar", "-C", "/a b", "%2"}));
    }
};

QTEST_GUILESS_MAIN(SnapshotTest)
#include "tst_snapshot.moc"
