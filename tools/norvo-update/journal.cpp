#include "journal.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

#include "childrun.h"
#include "console.h"

namespace {

constexpr int format = 1;

QJsonValue timeValue(const QDateTime& time)
{
    return time.isValid() ? QJsonValue(time.toUTC().toString(Qt::ISODate)) : QJsonValue();
}

QJsonValue textOrNull(const QString& text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

QStringList strings(const QJsonValue& value)
{
    QStringList list;
    for (const QJsonValue& item : value.toArray())
        list << item.toString();
    return list;
}

} // namespace

QString PlannedChange::action() const
{
    if (before.isEmpty())
        return QStringLiteral("install");
    if (after.isEmpty())
        return QStringLiteral("remove");
    return QStringLiteral("change");
}

QJsonObject RunRecord::toJson() const
{
    QJsonArray sourceArray;
    for (const SourceRecord& source : sources) {
        QJsonObject checksums;
        for (const QString& checksum : source.checksums)
            checksums.insert(checksum.section(QLatin1Char(':'), 0, 0), checksum.section(QLatin1Char(':'), 1));
        sourceArray.append(QJsonObject {
            {QStringLiteral("source"), source.source}, {QStringLiteral("checksums"), checksums}});
    }
    QJsonArray planArray;
    for (const PlannedChange& change : plan)
        planArray.append(QJsonObject {{QStringLiteral("package"), change.package},
            {QStringLiteral("architecture"), change.architecture},
            {QStringLiteral("action"), change.action()},
            {QStringLiteral("before"), textOrNull(change.before)},
            {QStringLiteral("after"), textOrNull(change.after)}, {QStringLiteral("auto"), change.wasAuto}});
    QJsonArray keptArray;
    for (const KeptFile& file : kept)
        keptArray.append(
            QJsonObject {{QStringLiteral("package"), file.package}, {QStringLiteral("version"), file.version},
                {QStringLiteral("architecture"), file.architecture}, {QStringLiteral("file"), file.file},
                {QStringLiteral("sha256"), file.sha256}, {QStringLiteral("from"), file.from}});
    QJsonObject object {{QStringLiteral("format"), format}, {QStringLiteral("id"), id},
        {QStringLiteral("sequence"), sequence}, {QStringLiteral("kind"), kind},
        {QStringLiteral("started"), timeValue(started)}, {QStringLiteral("ended"), timeValue(ended)},
        {QStringLiteral("commandLine"), QJsonArray::fromStringList(commandLine)},
        {QStringLiteral("sources"), sourceArray},
        {QStringLiteral("release"),
            QJsonObject {{QStringLiteral("before"), textOrNull(releaseBefore)},
                {QStringLiteral("after"), textOrNull(releaseAfter)}}},
        {QStringLiteral("plan"), planArray},
        {QStringLiteral("kept"),
            QJsonObject {{QStringLiteral("directory"), Journal::keptDirectory()},
                {QStringLiteral("files"), keptArray}}},
        {QStringLiteral("result"),
            QJsonObject {{QStringLiteral("state"), state},
                {QStringLiteral("exitCode"),
                    state == QLatin1String("unfinished") ? QJsonValue() : QJsonValue(exitCode)},
                {QStringLiteral("message"), message}}}};
    if (!rollbackOf.isEmpty())
        object.insert(QStringLiteral("rollbackOf"), rollbackOf);
    if (simulation)
        object.insert(QStringLiteral("simulation"), true);
    object.insert(QStringLiteral("dpkgStarted"), dpkgStarted);
    if (!rolledBackBy.isEmpty())
        object.insert(QStringLiteral("rolledBackBy"), rolledBackBy);
    return object;
}

RunRecord RunRecord::fromJson(const QJsonObject& object, QString* error)
{
    RunRecord record;
    if (object.value(QStringLiteral("format")).toInt() != format
        || object.value(QStringLiteral("id")).toString().isEmpty()) {
        *error = QStringLiteral("not a run record of format %1").arg(format);
        return record;
    }
    record.id = object.value(QStringLiteral("id")).toString();
    // Records of earlier versions have none: they come first, in the order of their IDs.
    record.sequence = object.value(QStringLiteral("sequence")).toVariant().toLongLong();
    record.kind = object.value(QStringLiteral("kind")).toString();
    record.rollbackOf = object.value(QStringLiteral("rollbackOf")).toString();
    record.rolledBackBy = object.value(QStringLiteral("rolledBackBy")).toString();
    record.simulation = object.value(QStringLiteral("simulation")).toBool();
    record.dpkgStarted = object.value(QStringLiteral("dpkgStarted")).toBool(true);
    record.started = QDateTime::fromString(object.value(QStringLiteral("started")).toString(), Qt::ISODate);
    record.ended = QDateTime::fromString(object.value(QStringLiteral("ended")).toString(), Qt::ISODate);
    record.commandLine = strings(object.value(QStringLiteral("commandLine")));
    for (const QJsonValue& value : object.value(QStringLiteral("sources")).toArray()) {
        SourceRecord source {value.toObject().value(QStringLiteral("source")).toString(), {}};
        const QJsonObject checksums = value.toObject().value(QStringLiteral("checksums")).toObject();
        for (auto it = checksums.begin(); it != checksums.end(); ++it)
            source.checksums << it.key() + QLatin1Char(':') + it.value().toString();
        record.sources << source;
    }
    const QJsonObject release = object.value(QStringLiteral("release")).toObject();
    record.releaseBefore = release.value(QStringLiteral("before")).toString();
    record.releaseAfter = release.value(QStringLiteral("after")).toString();
    for (const QJsonValue& value : object.value(QStringLiteral("plan")).toArray()) {
        const QJsonObject change = value.toObject();
        record.plan << PlannedChange {change.value(QStringLiteral("package")).toString(),
            change.value(QStringLiteral("architecture")).toString(),
            change.value(QStringLiteral("before")).toString(),
            change.value(QStringLiteral("after")).toString(), change.value(QStringLiteral("auto")).toBool()};
    }
    for (const QJsonValue& value :
        object.value(QStringLiteral("kept")).toObject().value(QStringLiteral("files")).toArray()) {
        const QJsonObject file = value.toObject();
        record.kept << KeptFile {file.value(QStringLiteral("package")).toString(),
            file.value(QStringLiteral("version")).toString(),
            file.value(QStringLiteral("architecture")).toString(),
            file.value(QStringLiteral("file")).toString(), file.value(QStringLiteral("sha256")).toString(),
            file.value(QStringLiteral("from")).toString()};
    }
    const QJsonObject result = object.value(QStringLiteral("result")).toObject();
    record.state = result.value(QStringLiteral("state")).toString();
    record.exitCode = result.value(QStringLiteral("exitCode")).toInt(-1);
    record.message = result.value(QStringLiteral("message")).toString();
    return record;
}

bool RunRecord::changedPackages() const
{
    return dpkgStarted && !plan.isEmpty()
        && !(exitCode >= ExitCode::usage && exitCode <= ExitCode::notEnoughSpace);
}

QString RunRecord::summary() const
{
    int installed = 0;
    int changed = 0;
    int removed = 0;
    for (const PlannedChange& change : plan) {
        const QString action = change.action();
        installed += action == QLatin1String("install");
        changed += action == QLatin1String("change");
        removed += action == QLatin1String("remove");
    }
    QString result = state;
    if (state == QLatin1String("failed"))
        result += QStringLiteral(" (exit code %1)").arg(exitCode);
    if (!rolledBackBy.isEmpty())
        result += QStringLiteral(", rolled back by %1").arg(rolledBackBy);
    QStringList sourceNames;
    for (const SourceRecord& source : sources)
        sourceNames << source.source;
    if (kind == QLatin1String("rollback"))
        sourceNames = QStringList {QStringLiteral("rollback of %1").arg(rollbackOf)};
    return QStringLiteral("%1  %2  %3 -> %4  %5 installed, %6 changed, %7 removed  %8  %9")
        .arg(id, started.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")),
            releaseBefore.isEmpty() ? QStringLiteral("?") : releaseBefore,
            releaseAfter.isEmpty() ? QStringLiteral("?") : releaseAfter)
        .arg(installed)
        .arg(changed)
        .arg(removed)
        .arg(result, sourceNames.join(QLatin1Char(' ')));
}

namespace Journal {

QString directory()
{
    return QStringLiteral("/var/lib/norvo-update/history");
}

QString keptDirectory()
{
    return QStringLiteral("/var/lib/norvo-update/kept");
}

void makePrivateDirectory(const QString& path)
{
    // The journal names packages and sources, the store holds what a rollback installs as root: a
    // folder somebody else could write, or a link to one, is never used.
    const QByteArray name = QFile::encodeName(path);
    if (!QDir().mkpath(QFileInfo(path).path()) || (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST))
        throw Failure {ExitCode::updateFailed, QStringLiteral("cannot create %1").arg(path)};
    struct stat status = {};
    if (::lstat(name.constData(), &status) != 0 || !S_ISDIR(status.st_mode) || status.st_uid != 0
        || (status.st_mode & 022) != 0)
        throw Failure {ExitCode::updateFailed,
            QStringLiteral("%1 is not a folder of root's that only root can write; it is not used")
                .arg(path)};
    ::chmod(name.constData(), 0700);
}

QString newId()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss-"))
        + QString::number(QCoreApplication::applicationPid());
}

void placeNew(RunRecord* record)
{
    record->id = newId();
    record->sequence = 1;
    for (const RunRecord& earlier : all())
        record->sequence = qMax(record->sequence, earlier.sequence + 1);
}

void write(const RunRecord& record)
{
    makePrivateDirectory(directory());
    const QString path = directory() + QLatin1Char('/') + record.id + QStringLiteral(".json");
    const QString temporary = path + QStringLiteral(".new");
    const QByteArray text = QJsonDocument(record.toJson()).toJson(QJsonDocument::Indented);
    const int fd = ::open(QFile::encodeName(temporary).constData(),
        O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    bool written = fd >= 0 && ::write(fd, text.constData(), size_t(text.size())) == text.size();
    // On disk before its name changes: a power cut leaves the old record or the new one.
    written = fd >= 0 && ::fsync(fd) == 0 && written;
    if (fd >= 0)
        ::close(fd);
    if (!written
        || ::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(path).constData()) != 0) {
        QFile::remove(temporary);
        throw Failure {
            ExitCode::updateFailed, QStringLiteral("cannot write the journal record %1").arg(path)};
    }
    // The new name is on disk only once the folder is: a power cut must not lose the newest record.
    const int folder = ::open(QFile::encodeName(directory()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0 || ::fsync(folder) != 0)
        warn(QStringLiteral("the journal's folder %1 could not be synced").arg(directory()));
    if (folder >= 0)
        ::close(folder);
}

QList<RunRecord> all()
{
    QList<RunRecord> records;
    const QDir folder(directory());
    for (const QString& name : folder.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name)) {
        QFile file(folder.filePath(name));
        QJsonParseError parseError;
        const QJsonDocument document = file.open(QIODevice::ReadOnly)
            ? QJsonDocument::fromJson(file.readAll(), &parseError)
            : QJsonDocument();
        QString error;
        const RunRecord record = RunRecord::fromJson(document.object(), &error);
        if (!document.isObject() || !error.isEmpty()) {
            warn(QStringLiteral("%1 is not a readable run record; skipped").arg(file.fileName()));
            continue;
        }
        records << record;
    }
    std::stable_sort(records.begin(), records.end(),
        [](const RunRecord& a, const RunRecord& b) { return a.sequence < b.sequence; });
    return records;
}

RunRecord find(const QString& id)
{
    const QList<RunRecord> records = all();
    if (id == QLatin1String("last")) {
        // The daily automatic update changes nothing on most days: those runs have nothing to undo.
        for (auto it = records.crbegin(); it != records.crend(); ++it) {
            if (it->kind == QLatin1String("update") && it->changedPackages())
                return *it;
        }
        throw Failure {ExitCode::usage, QStringLiteral("the journal holds no update that changed packages")};
    }
    for (const RunRecord& record : records) {
        if (record.id == id)
            return record;
    }
    throw Failure {ExitCode::usage, QStringLiteral("the journal holds no run %1").arg(id)};
}

QString installedRelease()
{
    QFile file(QStringLiteral("/etc/norvo_version"));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readLine()).trimmed() : QString();
}

} // namespace Journal
