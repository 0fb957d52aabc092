// Takes, removes or restores a snapshot of "/" with the program's own snapshot kinds, for the
// system tests that run it in a chroot whose root is a real XFS file system or btrfs subvolume.
//   snapshot-tool xfs|btrfs|lvm create|remove|restore|exists|recover
// A btrfs snapshot asks room for an update of 1 GB. The LVM kind's root is /dev/mapper/vg-root, for
// scripted LVM tools: its /boot is real.

#include <cstdio>
#include <memory>

#include <QCoreApplication>

#include "btrfssnapshot.h"
#include "lvmsnapshot.h"
#include "xfssnapshot.h"

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const QString kind = arguments.value(1);
    const QString command = arguments.value(2);
    std::unique_ptr<Snapshot> snapshot;
    if (kind == QLatin1String("xfs")) {
        snapshot = std::make_unique<XfsSnapshot>(QStringLiteral("xfssnap-kiv-norvo-update"), QString());
    } else if (kind == QLatin1String("btrfs")) {
        snapshot
            = std::make_unique<BtrfsSnapshot>(QStringLiteral("btrfssnap-kiv-norvo-update"), QString(), 1.0);
    } else if (kind == QLatin1String("lvm")) {
        snapshot = std::make_unique<LvmSnapshot>(
            QStringLiteral("lvsnap-kiv-norvo-update"), QStringLiteral("/dev/mapper/vg-root"), 1.0);
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
    } else if (snapshot && command == QLatin1String("exists")) {
        return snapshot->exists() ? 0 : 1;
    } else if (snapshot && command == QLatin1String("recover")) {
        const Snapshot::Recovery recovery = snapshot->recoverInterruptedRestore();
        std::printf("%s\n%s\n",
            recovery == Snapshot::Recovery::OfferAgain      ? "offer again"
                : recovery == Snapshot::Recovery::Completed ? "completed"
                                                            : "nothing",
            qPrintable(snapshot->errorText()));
        return 0;
    } else {
        std::fprintf(stderr, "usage: snapshot-tool xfs|btrfs|lvm create|remove|restore|exists|recover\n");
        return 2;
    }
    std::fputs(qPrintable(snapshot->outputText()), stdout);
    std::fputs(qPrintable(snapshot->errorText()), stderr);
    return result == Snapshot::Success ? 0 : 1;
}
