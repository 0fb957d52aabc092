#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTest>

#include "fakeexecutables.h"
#include "lvmsnapshot.h"
#include "snapshotfile.h"
#include "testfiles.h"

using namespace TestHelpers;

// The command lines of the snapshots, as the snapshots build them.
struct Words : Snapshot
{
    using Snapshot::commandWords;
};

// Runs inside the sandbox (see CMakeLists.txt): /boot and /var/tmp here are scratch copies.
class SnapshotTest final : public QObject
{
    Q_OBJECT

    FakeExecutables m_fakes;

private slots:
    void initTestCase()
    {
        REQUIRE_SANDBOX();
        for (const char* name : {"lvs", "lvcreate", "lvremove", "lvconvert", "umount", "tar"})
            m_fakes.add(name);
    }

    void init()
    {
        m_fakes.reset();
        m_fakes.activate();
        SnapshotFile::removeAny(bootArchivePath);
        QDir("/boot").removeRecursively();
        writeFile("/boot/vmlinuz", "kernel");
    }

    // The restore lists the archive of /boot, extracts it beside /boot, merges the volume back,
    // then swaps the extracted files in. The extraction here makes a /boot holding grub/ alone.
    void lvmRestoreNeverLeavesBootEmpty_data()
    {
        // What fails: the archive of /boot is missing, or a step: list, extract or merge; swap: a file
        // of /boot cannot be moved.
        QTest::addColumn<QString>("fails");
        QTest::addColumn<QStringList>("runs"); // every command run, in order
        // What is left: "boot" as it was, "archive" of it; "halfDone" the merge was scheduled.
        QTest::addColumn<QString>("left");
        const QString list = "tar -tzf /var/tmp/boot_snap.tar.bz2";
        const QString extract = "tar --xattrs --xattrs-include=security.{ZLAB,AUDIT,DEF_AUDIT} --acls -xzf "
                                "/var/tmp/boot_snap.tar.bz2 -C /boot/.kiv-norvo-update-restore";
        const QString merge = "lvconvert --merge /dev/vg0/lvsnap-kiv-norvo-update";
        QTest::newRow("archive missing") << "archive" << QStringList {} << "boot";
        QTest::newRow("archive unreadable") << "list" << QStringList {list} << "boot archive";
        QTest::newRow("extraction fails") << "extract" << QStringList {list, extract} << "boot archive";
        QTest::newRow("merge fails") << "merge" << QStringList {list, extract, merge} << "boot archive";
        QTest::newRow("/boot cannot be swapped after the merge")
            << "swap" << QStringList {list, extract, merge} << "boot archive halfDone";
        QTest::newRow("restored") << "" << QStringList {list, extract, merge} << "";
    }

    void lvmRestoreNeverLeavesBootEmpty()
    {
        QFETCH(const QString, fails);
        QFETCH(const QStringList, runs);
        QFETCH(const QString, left);
        if (fails != "archive")
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
        QCOMPARE(result, fails.isEmpty() ? Snapshot::Success : Snapshot::Error);
        QCOMPARE(snapshot.errorText().isEmpty(), result == Snapshot::Success);
        QCOMPARE(m_fakes.callsInOrder({"tar", "lvconvert"}), runs);
        QCOMPARE(QFile::exists("/boot/vmlinuz"), left.contains("boot"));
        QCOMPARE(QFileInfo("/boot/grub").isDir(), result == Snapshot::Success);
        QCOMPARE(QFile::exists(bootArchivePath), left.contains("archive"));
        QCOMPARE(snapshot.isRestoreHalfDone(), left.contains("halfDone"));
        if (left.contains("halfDone")) {
            QVERIFY2(snapshot.errorText().contains(
                         "Before any reboot, put /boot back by hand: tar --xattrs --acls -xzf "
                         + QString(bootArchivePath)),
                qPrintable(snapshot.errorText()));
        }
    }

    // What a user could leave at a snapshot file's name in /var/tmp, or make of the file root wrote:
    // each is refused by the check that guards it, with its reason.
    void plantedFilesAreRefused_data()
    {
        QTest::addColumn<QString>("change"); // a shell command on $F, root's 0600 file marked complete
        QTest::addColumn<QString>("genuine"); // what checkGenuine says after the path and a blank
        QTest::addColumn<QString>("kept"); // what checkPrivate says
        QTest::addColumn<bool>("complete");
        const QString none, changeable = "can be changed by other users.", foreign = "is not a regular file.";
        const QString owner = "does not belong to root.", names = "has more than one name (hard links).";
        QTest::newRow("as written") << ":" << none << none << true;
        QTest::newRow("grown after the mark") << "echo more >>$F" << none << none << false;
        QTest::newRow("group-writable") << "chmod 0620 $F" << changeable << changeable << true;
        QTest::newRow("writable by others") << "chmod 0602 $F" << changeable << changeable << true;
        QTest::newRow("group-readable") << "chmod 0640 $F" << none << "can be read by other users." << true;
        QTest::newRow("another owner") << "chown nobody $F" << owner << owner << true;
        QTest::newRow("a second name") << "ln $F $F.2" << names << names << true;
        QTest::newRow("a link to it") << "mv $F $F.real && ln -s $F.real $F" << foreign << foreign << false;
        QTest::newRow("a FIFO") << "rm $F && mkfifo -m 0600 $F" << foreign << foreign << false;
    }

    void plantedFilesAreRefused()
    {
        QFETCH(const QString, change);
        QFETCH(const QString, genuine);
        QFETCH(const QString, kept);
        QFETCH(const bool, complete);
        const QString path = "/var/tmp/kiv-planted";
        QProcess::execute("sh", {"-c", "rm -rf /var/tmp/kiv-planted*"});
        QCOMPARE(SnapshotFile::createPrivate(path), QString());
        QCOMPARE(QProcess::execute("sh", {"-c", "echo dump >" + path}), 0);
        QCOMPARE(SnapshotFile::markComplete(path), QString());
        QCOMPARE(QProcess::execute("sh", {"-c", "F=" + path + "; " + change}), 0);
        const auto said
            = [&path](const QString& reason) { return reason.isEmpty() ? reason : path + ' ' + reason; };
        QCOMPARE(SnapshotFile::checkGenuine(path), said(genuine));
        QCOMPARE(SnapshotFile::checkPrivate(path), said(kept));
        QCOMPARE(SnapshotFile::isMarkedComplete(path), complete);
    }

    // A user who owns a folder planted at the dump's name swaps a link in for a subfolder between
    // the removal's two looks at it (made certain here: the unlink of the link is told it is a
    // folder): the removal stops there instead of emptying the folder the link leads to.
    void removalNeverFollowsALinkSwappedIn()
    {
        const QString planted = "/var/tmp/xfssnap-kiv-norvo-update.bin";
        // On the same file system: the removal never leaves the one it started on.
        const QString victim = "/var/lib/kiv-victim";
        QVERIFY(QDir().mkpath(planted));
        writeFile(victim + "/precious", "kept");
        QVERIFY(QFile::link(victim, planted + "/sub"));
        QProcess tool;
        tool.start("strace",
            {"-f", "-qq", "-o", "/dev/null", "-e", "trace=unlinkat", "-e",
                "inject=unlinkat:error=EISDIR:when=2", KIV_SNAPSHOT_TOOL, "xfs", "create"});
        QVERIFY(tool.waitForFinished(60000));
        QVERIFY2(tool.readAllStandardError().contains("cannot be removed to make room for the snapshot"),
            "the planted folder was removed");
        QCOMPARE(readFile(victim + "/precious"), QByteArray("kept"));
        SnapshotFile::removeAny(planted);
    }

    void commandWordsKeepValuesWhole()
    {
        // The program's own command lines part at their blanks; a value never does.
        const auto words = &Words::commandWords;
        QCOMPARE(words("lvcreate -L %1GB -s -n %2 -p r %3", {"12.5", "my snap", "/dev/vg0/\"root\""}),
            (QStringList {
                "lvcreate", "-L", "12.5GB", "-s", "-n", "my snap", "-p", "r", "/dev/vg0/\"root\""}));
        QCOMPARE(words("tar -C %2 %1", {"%2", "/a b"}), (QStringList {"tar", "-C", "/a b", "%2"}));
    }
};

QTEST_GUILESS_MAIN(SnapshotTest)
#include "tst_snapshot.moc"
