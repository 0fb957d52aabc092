// Takes, restores or measures the XFS snapshot of "/" with the program's own XfsSnapshot, for the
// system test that runs it in a chroot whose root is a real XFS file system.
//   snapshot-tool create|restore|size|exists|recover

#include <cstdio>

#include <QCoreApplication>

#include "xfssnapshot.h"

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const QString command = arguments.value(1);
    XfsSnapshot snapshot(QStringLiteral("xfssnap-kiv-norvo-update"), QString());
    Snapshot::ErrorCode result = Snapshot::Error;
    if (command == QLatin1String("create")) {
        QObject::connect(
            &snapshot, &Snapshot::created, [&result](Snapshot::ErrorCode code) { result = code; });
        snapshot.create();
    } else if (command == QLatin1String("restore")) {
        result = snapshot.restore();
    } else if (command == QLatin1String("size")) {
        std::printf("%g\n", snapshot.size());
        return 0;
    } else if (command == QLatin1String("exists")) {
        return snapshot.exists() ? 0 : 1;
    } else if (command == QLatin1String("recover")) {
        return snapshot.recoverInterruptedRestore() ? 0 : 1;
    } else {
        std::fprintf(stderr, "usage: snapshot-tool create|restore|size|exists|recover\n");
        return 2;
    }
    std::fputs(qPrintable(snapshot.outputText()), stdout);
    std::fputs(qPrintable(snapshot.errorText()), stderr);
    return result == Snapshot::Success ? 0 : 1;
}
