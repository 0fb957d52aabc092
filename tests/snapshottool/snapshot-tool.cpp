// Takes, restores or measures a snapshot of "/" with the program's own snapshot kinds, for the
// system tests that run it in a chroot whose root is a real XFS file system or btrfs subvolume.
//   snapshot-tool xfs|btrfs create|remove|restore|size|exists|recover
//   snapshot-tool btrfs replaced|keep-replaced|delete-replaced
// KIV_SNAPSHOT_SIZE_GB sets the room a btrfs snapshot asks for the update (default 1).

#include <cstdio>
#include <memory>

#include <QCoreApplication>

#include "btrfssnapshot.h"
#include "xfssnapshot.h"

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const QString kind = arguments.value(1);
    const QString command = arguments.value(2);
    std::unique_ptr<Snapshot> snapshot;
    BtrfsSnapshot* btrfs = nullptr;
    if (kind == QLatin1String("xfs")) {
        snapshot = std::make_unique<XfsSnapshot>(QStringLiteral("xfssnap-kiv-norvo-update"), QString());
    } else if (kind == QLatin1String("btrfs")) {
        const QByteArray size = qgetenv("KIV_SNAPSHOT_SIZE_GB");
        snapshot = std::make_unique<BtrfsSnapshot>(
            QStringLiteral("btrfssnap-kiv-norvo-update"), QString(), size.isEmpty() ? 1.0 : size.toDouble());
        btrfs = static_cast<BtrfsSnapshot*>(snapshot.get());
    }
    Snapshot::ErrorCode result = Snapshot::Error;
    if (snapshot && command == QLatin1String("create")) {
        QObject::connect(
            snapshot.get(), &Snapshot::created, [&result](Snapshot::ErrorCode code) { result = code; });
        snapshot->create();
    } else if (snapshot && command == QLatin1String("remove")) {
        result = snapshot->remove();
    } else if (snapshot && command == QLatin1String("restore")) {
        result = snapshot->restore();
    } else if (snapshot && command == QLatin1String("size")) {
        std::printf("%g\n", snapshot->size());
        return 0;
    } else if (snapshot && command == QLatin1String("exists")) {
        return snapshot->exists() ? 0 : 1;
    } else if (snapshot && command == QLatin1String("recover")) {
        return snapshot->recoverInterruptedRestore() ? 0 : 1;
    } else if (btrfs && command == QLatin1String("replaced")) {
        const BtrfsSnapshot::ReplacedRoot replaced = btrfs->replacedRoot();
        std::printf("%s %lld\n", qPrintable(replaced.subvolume), replaced.exclusiveBytes);
        return replaced.subvolume.isEmpty() ? 1 : 0;
    } else if (btrfs && command.endsWith(QLatin1String("-replaced"))) {
        result = btrfs->settleReplacedRoot(command == QLatin1String("delete-replaced"));
    } else {
        std::fprintf(stderr,
            "usage: snapshot-tool xfs|btrfs create|remove|restore|size|exists|recover\n"
            "       snapshot-tool btrfs replaced|keep-replaced|delete-replaced\n");
        return 2;
    }
    std::fputs(qPrintable(snapshot->outputText()), stdout);
    std::fputs(qPrintable(snapshot->errorText()), stderr);
    return result == Snapshot::Success ? 0 : 1;
}
