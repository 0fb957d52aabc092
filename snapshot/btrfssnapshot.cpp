#include "btrfssnapshot.h"

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include "helpercommand.h"
#include "snapshotfile.h"

namespace {

constexpr qint64 gibibyte = 1024 * mebibyte;
// The top level's own subvolume ID on every btrfs file system.
constexpr char topLevelId[] = "5";
// Set by a restore on the root it puts in place, naming the root it replaced; only root can write
// the trusted namespace.
constexpr char replacedMark[] = "trusted.kiv-norvo-update.replaced";
// Set by a restore on the root it replaces, before anything moves: the UUID of the root it puts in
// place and the name that root takes. A start that finds it on "/" runs the replaced root, and
// finds the restored one by its UUID, whatever the names are by then.
constexpr char restoringMark[] = "trusted.kiv-norvo-update.restoring";

// A field of "btrfs subvolume show" or "btrfs filesystem usage", such as "UUID" or "Device size".
QString field(const QString& output, const QString& name)
{
    const QRegularExpression line(QStringLiteral("^\\s*%1:\\s*(\\S+)").arg(QRegularExpression::escape(name)),
        QRegularExpression::MultilineOption);
    return line.match(output).captured(1);
}

// findmnt -P escapes blanks and other bytes as \xNN.
QString unescaped(const QString& value)
{
    QByteArray bytes;
    const QByteArray raw = value.toUtf8();
    for (int i = 0; i < raw.size(); ++i) {
        if (raw.at(i) == '\\' && i + 3 < raw.size() && raw.at(i + 1) == 'x') {
            bytes.append(char(raw.mid(i + 2, 2).toInt(nullptr, 16)));
            i += 3;
        } else {
            bytes.append(raw.at(i));
        }
    }
    return QString::fromUtf8(bytes);
}

QString readMark(const QString& path, const char* mark = replacedMark)
{
    char value[1024] = {};
    const ssize_t length = ::lgetxattr(QFile::encodeName(path).constData(), mark, value, sizeof value - 1);
    return length > 0 ? QString::fromUtf8(value, int(length)) : QString();
}

// A device number of its own does not tell: every btrfs subvolume has one.
bool isMountPoint(const QString& path)
{
    const QList<SnapshotFile::Mount> mounts = SnapshotFile::mounts();
    return std::any_of(mounts.cbegin(), mounts.cend(),
        [&path](const SnapshotFile::Mount& mount) { return mount.mountPoint == path; });
}

// What "btrfs filesystem usage -b" says about the room left, in bytes.
struct Usage
{
    qint64 size = -1;
    qint64 dataFree = -1;
    qint64 metadataFree = -1;
};

Usage readUsage(const QString& output)
{
    Usage usage;
    bool known = false;
    usage.size = field(output, QStringLiteral("Device size")).toLongLong(&known);
    if (!known)
        return Usage();
    usage.dataFree = field(output, QStringLiteral("Free (estimated)")).toLongLong(&known);
    if (!known)
        return Usage();
    // Metadata grows into unallocated space, each byte stored as many times as its profile says
    // (twice for DUP); the global reserve is btrfs's own and never available to the update.
    static const QRegularExpression metadata(
        QStringLiteral("^Metadata,[^:]*:\\s*Size:(\\d+), Used:(\\d+)"), QRegularExpression::MultilineOption);
    const QRegularExpressionMatch allocated = metadata.match(output);
    const double ratio = field(output, QStringLiteral("Metadata ratio")).toDouble();
    const qint64 unallocated = field(output, QStringLiteral("Device unallocated")).toLongLong();
    if (allocated.hasMatch() && ratio >= 1)
        usage.metadataFree = allocated.captured(1).toLongLong() - allocated.captured(2).toLongLong()
            - field(output, QStringLiteral("Global reserve")).toLongLong() + qint64(unallocated / ratio);
    return usage;
}

} // namespace

// The file system's top level mounted for as long as an operation needs it: the snapshot and the
// replaced root lie beside the root subvolume, which only the top level shows.
class BtrfsSnapshot::TopLevel final
{
public:
    explicit TopLevel(BtrfsSnapshot* snapshot)
        : m_snapshot(snapshot)
    {
        const QString path = topLevelMountPoint();
        if (!QDir().mkpath(path)
            || !QFile::setPermissions(
                path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner)) {
            m_snapshot->m_errorText = tr("%1 cannot be made: %2").arg(path, SnapshotFile::systemError());
            return;
        }
        // A run killed while it was mounted left it.
        if (isMountPoint(path))
            m_snapshot->executeWithin(
                QStringLiteral("umount"), {QStringLiteral("-l"), path}, KivAdmin::helperTimeoutMs);
        m_mounted = m_snapshot->executeWithin(QStringLiteral("mount"),
                        {QStringLiteral("-t"), QStringLiteral("btrfs"), QStringLiteral("-o"),
                            QStringLiteral("subvolid=%1,nodev,nosuid,noexec").arg(QLatin1String(topLevelId)),
                            m_snapshot->m_device, path},
                        KivAdmin::helperTimeoutMs)
            == Success;
        if (!m_mounted)
            m_snapshot->m_errorText = tr("The top level of the btrfs file system %1 cannot be mounted: %2")
                                          .arg(m_snapshot->m_device, m_snapshot->m_errorText.trimmed());
    }

    ~TopLevel()
    {
        if (!m_mounted)
            return;
        // What the operation has to say stays.
        const QString errorText = m_snapshot->m_errorText;
        const QString outputText = m_snapshot->m_outputText;
        if (m_snapshot->executeWithin(
                QStringLiteral("umount"), {topLevelMountPoint()}, KivAdmin::helperTimeoutMs)
            == Error)
            m_snapshot->executeWithin(QStringLiteral("umount"), {QStringLiteral("-l"), topLevelMountPoint()},
                KivAdmin::helperTimeoutMs);
        m_snapshot->m_errorText = errorText;
        m_snapshot->m_outputText = outputText;
    }

    bool isMounted() const { return m_mounted; }

private:
    Q_DECLARE_TR_FUNCTIONS(BtrfsSnapshot)

    BtrfsSnapshot* m_snapshot;
    bool m_mounted = false;
};

BtrfsSnapshot::BtrfsSnapshot(const QString& name, const QString& device, double size)
    : BootArchivingSnapshot(name, device, size)
{ }

QString BtrfsSnapshot::topLevelMountPoint()
{
    return QStringLiteral("/run/kiv-norvo-update/btrfs");
}

QString BtrfsSnapshot::rootName() const
{
    return QFileInfo(m_rootSubvolume).fileName();
}

QString BtrfsSnapshot::besideRoot(const QString& name) const
{
    const QString parent = QFileInfo(m_rootSubvolume).path();
    return topLevelMountPoint() + QLatin1Char('/')
        + (parent == QLatin1String(".") ? name : parent + QLatin1Char('/') + name);
}

bool BtrfsSnapshot::isBootSeparate() const
{
    // A separate file system or a subvolume mounted there: either way not in the root's snapshot.
    return isMountPoint(QStringLiteral("/boot"));
}

QString BtrfsSnapshot::unrestorableLayout()
{
    struct stat root = {};
    struct stat boot = {};
    // Every subvolume has a device number of its own, so a /boot that differs from / without being
    // mounted there is a subvolume nested in the root: a restore would carry the updated one over.
    if (!isBootSeparate() && ::stat("/", &root) == 0 && ::stat("/boot", &boot) == 0
        && root.st_dev != boot.st_dev)
        return tr("/boot is a subvolume nested in the root subvolume %1, which neither its snapshot nor an "
                  "archive could put back as it was: no snapshot is taken. A /boot that is a folder of the "
                  "root, or mounted from a file system or subvolume of its own, can have one.")
            .arg(m_rootSubvolume);
    // The subvolumes nested in the root are moved into the restored one: neither a read-only one,
    // whose ".." cannot change, nor one mounted somewhere, which cannot be renamed, ever could be.
    if (executeWithin(QStringLiteral("btrfs"),
            {QStringLiteral("subvolume"), QStringLiteral("list"), QStringLiteral("-o"), QStringLiteral("-r"),
                QStringLiteral("/")},
            KivAdmin::helperTimeoutMs)
        == Error)
        return m_errorText.trimmed();
    const QStringList readOnly = nestedSubvolumes(m_outputText, m_rootId, m_rootSubvolume);
    if (!readOnly.isEmpty())
        return tr("The read-only subvolume %1 is nested in the root subvolume, and a restore could not move "
                  "it into the restored root: no snapshot is taken. Move it beside the root (into the top "
                  "level) to have one.")
            .arg(readOnly.first());
    if (executeWithin(QStringLiteral("btrfs"),
            {QStringLiteral("subvolume"), QStringLiteral("list"), QStringLiteral("-o"), QStringLiteral("/")},
            KivAdmin::helperTimeoutMs)
        == Error)
        return m_errorText.trimmed();
    const QStringList nested = nestedSubvolumes(m_outputText, m_rootId, m_rootSubvolume);
    for (const SnapshotFile::Mount& mount : SnapshotFile::mounts()) {
        if (mount.type != QLatin1String("btrfs") || mount.source != m_device)
            continue;
        const QString mountedRoot = mount.root.mid(1);
        for (const QString& path : nested) {
            const QString subvolume = m_rootSubvolume + QLatin1Char('/') + path;
            if (mountedRoot == subvolume || mountedRoot.startsWith(subvolume + QLatin1Char('/')))
                return tr(
                    "The subvolume %1, nested in the root subvolume, is mounted on %2, and a restore "
                    "could not move it into the restored root: no snapshot is taken. Move it beside the "
                    "root (into the top level) and mount it from there to have one.")
                    .arg(subvolume, mount.mountPoint);
        }
    }
    return QString();
}

QStringList BtrfsSnapshot::nestedSubvolumes(
    const QString& listing, const QString& parentId, const QString& parentPath)
{
    // "btrfs subvolume list -o" names those directly in the root; the ones nested in them move with them.
    static const QRegularExpression entry(
        QStringLiteral("^ID \\d+ gen \\d+ top level (\\d+) path (.*)$"), QRegularExpression::MultilineOption);
    QStringList nested;
    for (auto match = entry.globalMatch(listing); match.hasNext();) {
        const QRegularExpressionMatch next = match.next();
        if (next.captured(1) == parentId && next.captured(2).startsWith(parentPath + QLatin1Char('/')))
            nested << next.captured(2).mid(parentPath.size() + 1);
    }
    return nested;
}

bool BtrfsSnapshot::readLayout()
{
    if (executeWithin(QStringLiteral("findmnt"),
            {QStringLiteral("-n"), QStringLiteral("-v"), QStringLiteral("-P"), QStringLiteral("-o"),
                QStringLiteral("SOURCE,FSTYPE,FSROOT"), QStringLiteral("--mountpoint"), QStringLiteral("/")},
            KivAdmin::helperTimeoutMs)
        == Error) {
        m_errorText = tr("The mount of / cannot be read: %1").arg(m_errorText.trimmed());
        return false;
    }
    // The last mount on / is the one seen there.
    const QString mount = m_outputText.trimmed().section(QLatin1Char('\n'), -1);
    QHash<QString, QString> values;
    static const QRegularExpression pair(QStringLiteral("(\\w+)=\"([^\"]*)\""));
    for (auto match = pair.globalMatch(mount); match.hasNext();) {
        const QRegularExpressionMatch next = match.next();
        values.insert(next.captured(1), unescaped(next.captured(2)));
    }
    if (values.value(QStringLiteral("FSTYPE")) != QLatin1String("btrfs")) {
        m_errorText = tr("/ is not mounted from a btrfs file system.");
        return false;
    }
    m_device = values.value(QStringLiteral("SOURCE"));
    const QString fsRoot = values.value(QStringLiteral("FSROOT"));
    // The top level cannot be renamed, so nothing could take its place at a restore.
    if (fsRoot.isEmpty() || fsRoot == QLatin1String("/")) {
        m_errorText
            = tr("The root is the top level of its btrfs file system, which a restore cannot swap for "
                 "a snapshot: no snapshot is taken. A root in a subvolume of its own (such as @rootfs) "
                 "can have one.");
        return false;
    }
    m_rootSubvolume = fsRoot.mid(1);

    // A root found by its ID would be the replaced one after a restore, whatever its name.
    QFile fstab(QStringLiteral("/etc/fstab"));
    bool byId = false;
    if (fstab.open(QIODevice::ReadOnly)) {
        for (const QString& line : QString::fromUtf8(fstab.readAll()).split(QLatin1Char('\n'))) {
            const QStringList columns = line.simplified().split(QLatin1Char(' '));
            if (!line.trimmed().startsWith(QLatin1Char('#')) && columns.size() >= 4
                && columns.at(1) == QLatin1String("/") && columns.at(3).contains(QLatin1String("subvolid=")))
                byId = true;
        }
    }
    QFile commandLine(QStringLiteral("/proc/cmdline"));
    if (commandLine.open(QIODevice::ReadOnly)) {
        for (const QString& word :
            QString::fromUtf8(commandLine.readAll()).simplified().split(QLatin1Char(' ')))
            byId = byId
                || (word.startsWith(QLatin1String("rootflags="))
                    && word.contains(QLatin1String("subvolid=")));
    }
    if (byId) {
        m_errorText = tr("The root is mounted by its subvolume ID (subvolid=), which would find the replaced "
                         "root again after a restore: no snapshot is taken. Mount it by name (subvol=%1) in "
                         "/etc/fstab and the boot loader to have one.")
                          .arg(m_rootSubvolume);
        return false;
    }

    if (executeWithin(QStringLiteral("btrfs"),
            {QStringLiteral("subvolume"), QStringLiteral("show"), QStringLiteral("/")},
            KivAdmin::helperTimeoutMs)
        == Error)
        return false;
    m_rootUuid = field(m_outputText, QStringLiteral("UUID"));
    m_rootId = field(m_outputText, QStringLiteral("Subvolume ID"));
    if (m_rootUuid.isEmpty() || m_rootId.isEmpty()) {
        m_errorText = tr("\"btrfs subvolume show /\" names no UUID and ID of the root subvolume.");
        return false;
    }
    return true;
}

QString BtrfsSnapshot::subvolumeId(const QString& path)
{
    if (executeWithin(QStringLiteral("btrfs"), {QStringLiteral("subvolume"), QStringLiteral("show"), path},
            KivAdmin::helperTimeoutMs)
        == Error)
        return QString();
    return field(m_outputText, QStringLiteral("Subvolume ID"));
}

bool BtrfsSnapshot::isOurs(const QString& path)
{
    // A subvolume somebody made under the snapshot's name, or a writable one that could have
    // been changed since, restores nothing this program took.
    return !subvolumeId(path).isEmpty()
        && field(m_outputText, QStringLiteral("Flags")) == QLatin1String("readonly")
        && field(m_outputText, QStringLiteral("Parent UUID")) == m_rootUuid;
}

QString BtrfsSnapshot::location() const
{
    QString where = tr("the read-only btrfs subvolume %1 beside the root subvolume %2 on %3")
                        .arg(m_name, m_rootSubvolume, m_device);
    if (isBootSeparate())
        where = tr("%1 and the archive %2").arg(where, bootArchive());
    return where;
}

bool BtrfsSnapshot::exists()
{
    if (!readLayout())
        return false;
    const TopLevel top(this);
    return top.isMounted() && isOurs(besideRoot(m_name));
}

void BtrfsSnapshot::create()
{
    const ErrorCode result = [this] {
        if (!readLayout())
            return Error;
        m_errorText = unrestorableLayout();
        if (!m_errorText.isEmpty())
            return Error;
        // The snapshot costs nothing up front; the update needs the room, and a file system that
        // fills up half-way through it leaves a half-updated system.
        if (executeWithin(fillCommand().first(), fillCommand().mid(1), KivAdmin::helperTimeoutMs) == Error)
            return Error;
        const Usage usage = readUsage(m_outputText);
        // Package trees are many small files: their metadata is about a sixteenth of their data.
        const qint64 data = qint64(m_size * gibibyte);
        const qint64 metadata = data / 16;
        if (usage.dataFree < 0 || usage.metadataFree < 0) {
            m_errorText = tr("The free space of the btrfs file system of / cannot be read.");
            return Error;
        }
        if (usage.dataFree < data || usage.metadataFree < metadata) {
            m_errorText
                = tr("Not enough room on the btrfs file system of / for the update: it needs about %1 MB "
                     "of data and %2 MB of metadata, %3 MB and %4 MB are free.")
                      .arg(data / mebibyte)
                      .arg(metadata / mebibyte)
                      .arg(usage.dataFree / mebibyte)
                      .arg(usage.metadataFree / mebibyte);
            return Error;
        }
        const TopLevel top(this);
        if (!top.isMounted())
            return Error;
        // Only this program's own snapshot is ever replaced, and remove() has taken that away.
        const QString target = besideRoot(m_name);
        struct stat status = {};
        if (::lstat(QFile::encodeName(target).constData(), &status) == 0) {
            m_errorText
                = tr("Something that is not a snapshot taken by this program stands at %1 on %2: move it "
                     "away or delete it to have a snapshot.")
                      .arg(target.mid(topLevelMountPoint().size() + 1), m_device);
            return Error;
        }
        if (isBootSeparate() && archiveBoot() == Error)
            return Error;
        return executeWithin(QStringLiteral("btrfs"),
            {QStringLiteral("subvolume"), QStringLiteral("snapshot"), QStringLiteral("-r"),
                QStringLiteral("/"), target},
            -1);
    }();
    // Only once the top level is unmounted again: the window may look for the snapshot at once.
    emit created(result);
}

Snapshot::ErrorCode BtrfsSnapshot::deleteSubvolume(const QString& path)
{
    return executeWithin(QStringLiteral("btrfs"),
        {QStringLiteral("subvolume"), QStringLiteral("delete"), path}, KivAdmin::helperTimeoutMs);
}

Snapshot::ErrorCode BtrfsSnapshot::remove()
{
    ErrorCode result = Success;
    if (readLayout()) {
        const TopLevel top(this);
        if (top.isMounted() && isOurs(besideRoot(m_name)))
            result = deleteSubvolume(besideRoot(m_name));
    }
    QFile::remove(bootArchive());
    if (result == Success)
        m_errorText.clear();
    return result;
}

QString BtrfsSnapshot::carryNestedSubvolumes(const QString& from, const QString& to)
{
    const QString fromId = subvolumeId(from);
    if (fromId.isEmpty()
        || executeWithin(QStringLiteral("btrfs"),
               {QStringLiteral("subvolume"), QStringLiteral("list"), QStringLiteral("-o"), from},
               KivAdmin::helperTimeoutMs)
            == Error)
        return m_errorText.trimmed();
    const QStringList nested
        = nestedSubvolumes(m_outputText, fromId, from.mid(topLevelMountPoint().size() + 1));
    QStringList moved;
    for (const QString& path : nested) {
        const QString target = to + QLatin1Char('/') + path;
        // The snapshot holds an empty folder where a nested subvolume was.
        QDir().rmdir(target);
        QDir().mkpath(QFileInfo(target).path());
        if (::rename(QFile::encodeName(from + QLatin1Char('/') + path).constData(),
                QFile::encodeName(target).constData())
            != 0) {
            const QString failure = QStringLiteral("%1: %2").arg(path, SnapshotFile::systemError());
            for (const QString& back : qAsConst(moved))
                ::rename(QFile::encodeName(to + QLatin1Char('/') + back).constData(),
                    QFile::encodeName(from + QLatin1Char('/') + back).constData());
            return failure;
        }
        moved << path;
    }
    return QString();
}

QString BtrfsSnapshot::subvolumeWithUuid(const QString& uuid)
{
    if (executeWithin(QStringLiteral("btrfs"),
            {QStringLiteral("subvolume"), QStringLiteral("list"), QStringLiteral("-u"), topLevelMountPoint()},
            KivAdmin::helperTimeoutMs)
        == Error)
        return QString();
    static const QRegularExpression entry(
        QStringLiteral("^ID \\d+ gen \\d+ top level \\d+ uuid (\\S+) path (.*)$"),
        QRegularExpression::MultilineOption);
    for (auto match = entry.globalMatch(m_outputText); match.hasNext();) {
        const QRegularExpressionMatch next = match.next();
        if (next.captured(1) == uuid)
            return topLevelMountPoint() + QLatin1Char('/') + next.captured(2);
    }
    return QString();
}

QStringList BtrfsSnapshot::completeRestore(
    const QString& replacedRoot, const QString& replacedId, const QString& restoredRoot)
{
    // The name only tells the administrator where the replaced root lies.
    const QString aside = topLevelMountPoint() + QLatin1Char('/') + readMark(restoredRoot);
    if (replacedRoot != aside)
        ::rename(QFile::encodeName(replacedRoot).constData(), QFile::encodeName(aside).constData());
    QStringList failures;
    // A root mounted without subvol= is the default subvolume, which is found by its ID.
    if (executeWithin(QStringLiteral("btrfs"),
            {QStringLiteral("subvolume"), QStringLiteral("get-default"), topLevelMountPoint()},
            KivAdmin::helperTimeoutMs)
            == Success
        && m_outputText.section(QLatin1Char(' '), 1, 1) == replacedId
        && executeWithin(QStringLiteral("btrfs"),
               {QStringLiteral("subvolume"), QStringLiteral("set-default"), restoredRoot},
               KivAdmin::helperTimeoutMs)
            == Error)
        failures << tr(
            "the restored root is not the default subvolume yet (btrfs subvolume set-default %1: %2)")
                        .arg(restoredRoot, m_errorText.trimmed());
    if (hasStagedBoot()) {
        const QString failure = swapInStagedBoot();
        if (!failure.isEmpty())
            failures << tr(
                "/boot could not be replaced (%1); put it back by hand: tar --xattrs --acls -xzf %2 -C /")
                            .arg(failure, bootArchive());
    }
    if (!failures.isEmpty())
        return failures;
    // The replaced root, started again by hand some day, is no restore to complete.
    ::lremovexattr(QFile::encodeName(replacedRoot).constData(), restoringMark);
    ::lremovexattr(QFile::encodeName(aside).constData(), restoringMark);
    // The restored root is the snapshot: keeping both would only hold the room twice.
    const QString snapshot = besideRoot(m_name);
    const QString restoredFrom = subvolumeId(restoredRoot).isEmpty()
        ? QString()
        : field(m_outputText, QStringLiteral("Parent UUID"));
    if (!subvolumeId(snapshot).isEmpty() && field(m_outputText, QStringLiteral("UUID")) == restoredFrom) {
        deleteSubvolume(snapshot);
        QFile::remove(bootArchive());
    }
    return failures;
}

Snapshot::ErrorCode BtrfsSnapshot::restore()
{
    m_halfDone = false;
    if (!readLayout())
        return Error;
    m_errorText = unrestorableLayout();
    if (!m_errorText.isEmpty())
        return Error;
    const bool boot = isBootSeparate();
    const TopLevel top(this);
    if (!top.isMounted())
        return Error;
    const QString snapshot = besideRoot(m_name);
    if (!isOurs(snapshot)) {
        m_errorText = tr("There is no snapshot of the root taken by this program at %1 on %2.")
                          .arg(snapshot.mid(topLevelMountPoint().size() + 1), m_device);
        return Error;
    }
    // Until the exchange nothing in use changes: a restore that fails before it leaves the system and
    // the snapshot as they are.
    if (boot && stageBoot() == Error)
        return Error;
    const QString root = besideRoot(rootName());
    const QString copy = besideRoot(rootName() + QStringLiteral(".restoring"));
    const auto giveUp = [this, boot, &root, &copy](bool copyMade) {
        const QString errorText = m_errorText;
        if (copyMade && carryNestedSubvolumes(copy, root).isEmpty())
            deleteSubvolume(copy);
        ::lremovexattr("/", restoringMark);
        if (boot)
            removeStagedBoot();
        m_errorText = errorText;
        return Error;
    };
    if (!subvolumeId(copy).isEmpty()
        && (!carryNestedSubvolumes(copy, root).isEmpty() || deleteSubvolume(copy) == Error))
        return giveUp(false);
    if (executeWithin(QStringLiteral("btrfs"),
            {QStringLiteral("subvolume"), QStringLiteral("snapshot"), snapshot, copy}, -1)
        == Error)
        return giveUp(false);

    const QString aside = QFileInfo(m_rootSubvolume).path() == QLatin1String(".")
        ? QString()
        : QFileInfo(m_rootSubvolume).path() + QLatin1Char('/');
    const QByteArray replaced = (aside + rootName() + QStringLiteral(".before-restore-")
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")))
                                    .toUtf8();
    const QByteArray restoring = (subvolumeId(copy).isEmpty()
            ? QString()
            : field(m_outputText, QStringLiteral("UUID")) + QLatin1Char('\n') + m_rootSubvolume)
                                     .toUtf8();
    if (::lsetxattr(QFile::encodeName(copy).constData(), replacedMark, replaced.constData(),
            size_t(replaced.size()), 0)
            != 0
        || restoring.startsWith('\n')
        || ::lsetxattr("/", restoringMark, restoring.constData(), size_t(restoring.size()), 0) != 0) {
        m_errorText = tr("The restored root cannot be marked: %1").arg(SnapshotFile::systemError());
        return giveUp(true);
    }
    // The archive of /boot in the snapshot is as old as the snapshot: the restored system has no use
    // for it.
    SnapshotFile::removeAny(copy + QLatin1String(bootArchivePath));
    const QString carried = carryNestedSubvolumes(root, copy);
    if (!carried.isEmpty()) {
        m_errorText
            = tr("The subvolumes nested in the root cannot be carried over to the restored root (%1).")
                  .arg(carried);
        return giveUp(true);
    }
    // One step that cannot be seen half done: the name takes the restored root, the copy's name the
    // replaced one.
    if (::renameat2(AT_FDCWD, QFile::encodeName(root).constData(), AT_FDCWD,
            QFile::encodeName(copy).constData(), RENAME_EXCHANGE)
        != 0) {
        m_errorText = tr("The restored root cannot take the place of %1: %2")
                          .arg(m_rootSubvolume, SnapshotFile::systemError());
        return giveUp(true);
    }
    // From here the next boot mounts the restored root by its name; whatever is left undone is done
    // at the next start.
    const QStringList failures = completeRestore(copy, m_rootId, root);
    if (!failures.isEmpty()) {
        m_halfDone = true;
        m_errorText
            = tr("The restored root takes the place of %1 at the next boot, but %2. Do that before any "
                 "reboot.")
                  .arg(m_rootSubvolume, failures.join(QStringLiteral("; ")));
        return Error;
    }
    m_errorText.clear();
    return Success;
}

Snapshot::Recovery BtrfsSnapshot::recoverInterruptedRestore()
{
    const QString restoring = readMark(QStringLiteral("/"), restoringMark);
    const QString replaced = readMark(QStringLiteral("/"));
    if (!readLayout())
        return Recovery::Nothing;
    const TopLevel top(this);
    if (!top.isMounted())
        return Recovery::Nothing;
    const QString running = besideRoot(rootName());
    const QString copy = besideRoot(rootName() + QStringLiteral(".restoring"));
    if (!restoring.isEmpty()) {
        // This is the root a restore was replacing: the program or the power stopped before the
        // machine started the restored one.
        const QString restored = subvolumeWithUuid(restoring.section(QLatin1Char('\n'), 0, 0));
        const QString restoredName = restoring.section(QLatin1Char('\n'), 1);
        if (restored.isEmpty()) {
            ::lremovexattr("/", restoringMark);
            return Recovery::Nothing;
        }
        if (restored != topLevelMountPoint() + QLatin1Char('/') + restoredName) {
            // Before the exchange: nothing in use changed, but the copy may hold the nested subvolumes.
            const QString carried = carryNestedSubvolumes(restored, running);
            if (carried.isEmpty())
                deleteSubvolume(restored);
            ::lremovexattr("/", restoringMark);
            removeStagedBoot();
            return Recovery::OfferAgain;
        }
        const QStringList failures = completeRestore(running, m_rootId, restored);
        m_errorText = failures.isEmpty()
            ? tr("The restored root has taken the place of %1; the system still runs the root it replaced. "
                 "Reboot to start the restored system.")
                  .arg(restoredName)
            : tr("The restored root has taken the place of %1, but %2. Do that before any reboot.")
                  .arg(restoredName, failures.join(QStringLiteral("; ")));
        return Recovery::Completed;
    }
    if (!replaced.isEmpty()) {
        // This is the restored root: what the restore left undone is done now.
        const QString replacedRoot
            = subvolumeId(copy).isEmpty() ? topLevelMountPoint() + QLatin1Char('/') + replaced : copy;
        const QString replacedId = subvolumeId(replacedRoot);
        const QStringList failures = completeRestore(replacedRoot, replacedId, running);
        if (failures.isEmpty())
            return Recovery::Nothing;
        m_errorText
            = tr("The system runs the restored root, but %1.").arg(failures.join(QStringLiteral("; ")));
        return Recovery::Completed;
    }
    // The restore ended before it marked the running root: the copy is nobody's.
    if (subvolumeId(copy).isEmpty())
        return Recovery::Nothing;
    if (carryNestedSubvolumes(copy, running).isEmpty())
        deleteSubvolume(copy);
    removeStagedBoot();
    return Recovery::OfferAgain;
}

bool BtrfsSnapshot::isLeftByInterruptedRun()
{
    // exists() has found the snapshot by what it is: read-only and taken of this root.
    return true;
}

QString BtrfsSnapshot::leftoverQuestion()
{
    const QString replaced = readMark(QStringLiteral("/"));
    if (replaced.isEmpty() || !readLayout())
        return QString();
    const TopLevel top(this);
    const QString path = topLevelMountPoint() + QLatin1Char('/') + replaced;
    if (!top.isMounted())
        return QString();
    // Deleted by hand already: nothing to ask about, ever again.
    if (subvolumeId(path).isEmpty()) {
        ::lremovexattr("/", replacedMark);
        return QString();
    }
    QString room = tr("an unknown amount of room");
    // Walks the whole tree; bounded, since the question can do without the figure.
    if (executeWithin(QStringLiteral("btrfs"),
            {QStringLiteral("filesystem"), QStringLiteral("du"), QStringLiteral("-s"),
                QStringLiteral("--raw"), path},
            KivAdmin::helperTimeoutMs)
        == Success) {
        const QStringList columns
            = m_outputText.trimmed().section(QLatin1Char('\n'), -1).simplified().split(QLatin1Char(' '));
        bool known = false;
        const qint64 exclusive = columns.value(1).toLongLong(&known);
        if (known)
            room = tr("%1 MB of room of its own").arg(exclusive / mebibyte);
    }
    return tr("The system was restored from its snapshot. The root it replaced is kept as the btrfs "
              "subvolume %1 on %2, holding %3.\nDo you want to delete it? No keeps it, and it is not "
              "asked again.")
        .arg(replaced, m_device, room);
}

Snapshot::ErrorCode BtrfsSnapshot::settleLeftover(bool deleteIt)
{
    const QString replaced = readMark(QStringLiteral("/"));
    if (deleteIt && !replaced.isEmpty()) {
        if (!readLayout())
            return Error;
        const TopLevel top(this);
        if (!top.isMounted()
            || deleteSubvolume(topLevelMountPoint() + QLatin1Char('/') + replaced) == Error) {
            m_errorText
                = tr("The btrfs subvolume %1 could not be deleted: %2").arg(replaced, m_errorText.trimmed());
            return Error;
        }
    }
    ::lremovexattr("/", replacedMark);
    return Success;
}

QStringList BtrfsSnapshot::fillCommand() const
{
    return {QStringLiteral("btrfs"), QStringLiteral("filesystem"), QStringLiteral("usage"),
        QStringLiteral("-b"), QStringLiteral("/")};
}

double BtrfsSnapshot::fillPercent(const QByteArray& output) const
{
    const Usage usage = readUsage(QString::fromLocal8Bit(output));
    if (usage.size <= 0 || usage.dataFree < 0)
        return -1;
    return 100.0 * double(usage.size - qMin(usage.dataFree, usage.size)) / double(usage.size);
}

QString BtrfsSnapshot::fillWarning(double percent) const
{
    return tr("The btrfs file system of / is %1% full. An update that runs out of room there fails half-way; "
              "the snapshot (%2) is the way back then.\n")
        .arg(percent, 0, 'f', 1)
        .arg(m_name);
}
