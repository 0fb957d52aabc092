#include "repack.h"

#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

namespace {

const QString database = QStringLiteral("/var/lib/dpkg/info/");
constexpr qint64 headerSize = 60;

// An ar member's header, as dpkg reads it.
QByteArray header(const QByteArray& name, qint64 size)
{
    return QStringLiteral("%1%2%3%4%5%6`\n")
        .arg(QString::fromLatin1(name), -16)
        .arg(QStringLiteral("0"), -12)
        .arg(QStringLiteral("0"), -6)
        .arg(QStringLiteral("0"), -6)
        .arg(QStringLiteral("100644"), -8)
        .arg(size, -10)
        .toLatin1();
}

QByteArray member(const QByteArray& name, const QByteArray& content)
{
    return header(name, content.size()) + content + (content.size() % 2 ? "\n" : "");
}

// Where the data member of an archive begins (its header included), read from the archive's
// own head; -1 when it has none.
qint64 headLength(const QString& path)
{
    QFile archive(path);
    if (!archive.open(QIODevice::ReadOnly) || archive.read(8) != "!<arch>\n")
        return -1;
    for (int member = 0; member < 2; ++member) {
        bool valid = false;
        const qint64 size = archive.read(headerSize).mid(48, 10).trimmed().toLongLong(&valid);
        if (!valid || !archive.seek(archive.pos() + size + size % 2))
            return -1;
    }
    return archive.read(headerSize).startsWith("data.tar") ? archive.pos() : -1;
}

bool setTimes(const QByteArray& path, const struct stat& entry, int flags)
{
    const struct timespec times[2] = {entry.st_atim, entry.st_mtim};
    return ::utimensat(AT_FDCWD, path.constData(), times, flags) == 0;
}

// A copy with the original's owner, mode and times.
bool copyFile(const QByteArray& from, const QByteArray& to, const struct stat& entry)
{
    const int in = ::open(from.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    const int out = ::open(to.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    bool copied = in >= 0 && out >= 0;
    for (off_t left = entry.st_size; copied && left > 0;) {
        const ssize_t chunk = ::sendfile(out, in, nullptr, size_t(left));
        copied = chunk > 0;
        left -= chunk;
    }
    // The owner first: a change of owner clears the set-id bits.
    copied = copied && ::fchown(out, entry.st_uid, entry.st_gid) == 0
        && ::fchmod(out, entry.st_mode & 07777) == 0;
    if (in >= 0)
        ::close(in);
    if (out >= 0)
        ::close(out);
    return copied && setTimes(to, entry, 0);
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A tar archive (ustar) of a few small files and the folder that holds them, as dpkg reads a
// control archive: written here, without a process for each package.
class SmallTar final
{
public:
    SmallTar() { entry("./", QByteArray(), 0755, '5'); }

    void add(const QString& name, const QByteArray& content, int mode)
    {
        entry("./" + name.toUtf8(), content, mode, '0');
    }
    QByteArray finished() const { return m_archive + QByteArray(1024, '\0'); }

private:
    void entry(const QByteArray& name, const QByteArray& content, int mode, char type)
    {
        QByteArray block(512, '\0');
        const auto put
            = [&block](int offset, const QByteArray& value) { block.replace(offset, value.size(), value); };
        const auto octal = [](qint64 value, int width) {
            return QByteArray::number(value, 8).rightJustified(width - 1, '0');
        };
        put(0, name.left(99));
        put(100, octal(mode, 8));
        put(108, octal(0, 8));
        put(116, octal(0, 8));
        put(124, octal(content.size(), 12));
        put(136, octal(0, 12));
        put(148, QByteArray(8, ' '));
        block[156] = type;
        put(257, QByteArrayLiteral("ustar"));
        put(263, QByteArrayLiteral("00"));
        put(265, QByteArrayLiteral("root"));
        put(297, QByteArrayLiteral("root"));
        int sum = 0;
        for (const char byte : qAsConst(block))
            sum += static_cast<unsigned char>(byte);
        put(148, octal(sum, 7) + QByteArray(1, '\0') + ' ');
        m_archive += block + content + QByteArray((512 - content.size() % 512) % 512, '\0');
    }

    QByteArray m_archive;
};

} // namespace

Repack::Repack(const QString& package, const QString& partial, const Database& database)
    : m_package(package)
    , m_partial(partial)
    , m_database(database)
{ }

Repack::Database Repack::readDatabase()
{
    Database database;
    QHash<QString, QByteArray>& entries = database.entries;
    const QByteArray status = readAll(QStringLiteral("/var/lib/dpkg/status"));
    int start = 0;
    while (start < status.size()) {
        int end = status.indexOf("\n\n", start);
        if (end < 0)
            end = status.size();
        const QByteArray entry = status.mid(start, end - start);
        start = end + 2;
        QString name;
        QString architecture;
        for (const QByteArray& line : entry.split('\n')) {
            if (line.startsWith("Package: "))
                name = QString::fromUtf8(line.mid(9).trimmed());
            else if (line.startsWith("Architecture: "))
                architecture = QString::fromUtf8(line.mid(14).trimmed());
        }
        if (name.isEmpty())
            continue;
        entries.insert(name + QLatin1Char(':') + architecture, entry);
        if (!entries.contains(name))
            entries.insert(name, entry);
    }
    // Three lines a diversion: the file, where it went, the package that diverted it.
    const QList<QByteArray> diversions = readAll(QStringLiteral("/var/lib/dpkg/diversions")).split('\n');
    for (int i = 0; i + 2 < diversions.size(); i += 3)
        database.diverted << diversions.at(i);
    return database;
}

bool Repack::prepare()
{
    // dpkg names the files of a package of one of several architectures with the architecture.
    QString base = database + m_package;
    if (!QFileInfo::exists(base + QStringLiteral(".list")))
        base = database + m_package.section(QLatin1Char(':'), 0, 0);
    const QByteArray list = readAll(base + QStringLiteral(".list"));
    const QByteArray entry = m_database.entries.value(m_package);
    if (list.isEmpty() || entry.isEmpty()) {
        m_error = QStringLiteral("dpkg's database does not list the files of %1").arg(m_package);
        return false;
    }

    // The control file is the database's entry less what only the database holds; the conffiles
    // are listed apart.
    QByteArray control;
    QByteArray conffiles;
    bool inConffiles = false;
    for (const QByteArray& line : entry.split('\n')) {
        if (line.startsWith(' ') && inConffiles) {
            const QList<QByteArray> words = line.trimmed().split(' ');
            if (!words.contains("obsolete"))
                conffiles += words.first() + '\n';
            continue;
        }
        inConffiles = line.startsWith("Conffiles:");
        if (inConffiles || line.startsWith("Status:") || line.startsWith("Config-Version:") || line.isEmpty())
            continue;
        control += line + '\n';
    }

    const QList<QByteArray> paths = list.split('\n');
    QSet<QByteArray> parents;
    for (const QByteArray& path : paths)
        parents << path.left(path.lastIndexOf('/'));
    QByteArray files;
    for (const QByteArray& path : paths) {
        if (path.isEmpty())
            continue;
        // A file another package diverted lies elsewhere: dpkg-repack knows where.
        if (m_database.diverted.contains(path)) {
            m_error = QStringLiteral("%1 is diverted").arg(QString::fromUtf8(path));
            return false;
        }
        struct stat entry = {};
        if (::lstat(path.constData(), &entry) != 0)
            continue;
        // A folder the system has made a link (/lib of a merged /usr) holds the package's files;
        // the link is not the package's.
        if (S_ISLNK(entry.st_mode) && parents.contains(path))
            continue;
        files += (path == "/." ? QByteArray(".") : '.' + path) + '\0';
        m_paths << path;
    }

    SmallTar controlTar;
    controlTar.add(QStringLiteral("control"), control, 0644);
    if (!conffiles.isEmpty())
        controlTar.add(QStringLiteral("conffiles"), conffiles, 0644);
    const QStringList scripts {QStringLiteral("preinst"), QStringLiteral("postinst"), QStringLiteral("prerm"),
        QStringLiteral("postrm"), QStringLiteral("config")};
    for (const QString& name : scripts
            + QStringList {QStringLiteral("templates"), QStringLiteral("triggers"), QStringLiteral("shlibs"),
                QStringLiteral("symbols"), QStringLiteral("md5sums")}) {
        const QString from = base + QLatin1Char('.') + name;
        if (QFileInfo::exists(from))
            controlTar.add(name, readAll(from), scripts.contains(name) ? 0755 : 0644);
    }

    QFile fileList(m_partial + QStringLiteral(".files"));
    QFile archive(m_partial);
    const QByteArray head = "!<arch>\n" + member("debian-binary", "2.0\n")
        + member("control.tar", controlTar.finished()) + header("data.tar", 0);
    if (!fileList.open(QIODevice::WriteOnly) || fileList.write(files) != files.size()
        || !archive.open(QIODevice::WriteOnly) || archive.write(head) != head.size()) {
        m_error = QStringLiteral("%1 cannot be written").arg(m_partial);
        return false;
    }
    return true;
}

ChildRun Repack::stream() const
{
    // The files once, straight from the disk into the archive.
    ChildRun run;
    run.program = QStringLiteral("sh");
    run.arguments = QStringList {QStringLiteral("-c"),
        QStringLiteral("exec tar -C / --no-recursion --null -T \"$1.files\" -cf - >>\"$1\""),
        QStringLiteral("repack"), m_partial};
    run.captureErrors = true;
    return run;
}

bool Repack::hold()
{
    const QByteArray root = QFile::encodeName(m_partial + QStringLiteral(".root"));
    const auto giveUp = [&](const QByteArray& path) {
        m_error = QStringLiteral("%1 cannot be held: %2")
                      .arg(QString::fromUtf8(path), QString::fromLocal8Bit(std::strerror(errno)));
        QDir(QFile::decodeName(root)).removeRecursively();
        return false;
    };
    if (::mkdir(root.constData(), 0700) != 0)
        return giveUp(root);
    // A folder gets its owner, mode and times once everything in it is there.
    QList<QPair<QByteArray, struct stat>> folders;
    for (const QByteArray& path : qAsConst(m_paths)) {
        struct stat entry = {};
        if (::lstat(path.constData(), &entry) != 0)
            return giveUp(path);
        const QByteArray name = root + (path == "/." ? QByteArray() : path);
        // A folder through a link of the system's (/lib of a merged /usr) has no entry of its own.
        QDir().mkpath(QFile::decodeName(name.left(name.lastIndexOf('/'))));
        bool held = false;
        if (S_ISDIR(entry.st_mode)) {
            held = ::mkdir(name.constData(), 0700) == 0 || errno == EEXIST;
            folders.append({name, entry});
        } else if (S_ISREG(entry.st_mode) && (entry.st_mode & (S_ISUID | S_ISGID)) == 0) {
            held = ::link(path.constData(), name.constData()) == 0;
        } else if (S_ISREG(entry.st_mode)) {
            held = copyFile(path, name, entry);
        } else if (S_ISLNK(entry.st_mode)) {
            QByteArray target(int(entry.st_size) + 1, '\0');
            const ssize_t length = ::readlink(path.constData(), target.data(), size_t(target.size()));
            held = length == entry.st_size
                && ::symlink(target.left(int(length)).constData(), name.constData()) == 0
                && ::lchown(name.constData(), entry.st_uid, entry.st_gid) == 0
                && setTimes(name, entry, AT_SYMLINK_NOFOLLOW);
        } else {
            errno = ENOTSUP;
        }
        if (!held)
            return giveUp(path);
    }
    for (auto it = folders.crbegin(); it != folders.crend(); ++it) {
        const QByteArray& name = it->first;
        const struct stat& entry = it->second;
        if (::chown(name.constData(), entry.st_uid, entry.st_gid) != 0
            || ::chmod(name.constData(), entry.st_mode & 07777) != 0 || !setTimes(name, entry, 0))
            return giveUp(name);
    }
    return true;
}

QString Repack::complete(const QString& partial, const QString& target)
{
    const qint64 dataHeader = headLength(partial) - headerSize;
    QFile archive(partial);
    const qint64 size = archive.size() - dataHeader - headerSize;
    const bool completed = dataHeader > 0 && archive.open(QIODevice::ReadWrite) && archive.seek(dataHeader)
        && archive.write(header("data.tar", size)) == headerSize && archive.seek(archive.size())
        && (size % 2 == 0 || archive.write("\n") == 1);
    archive.close();
    if (!completed
        || ::rename(QFile::encodeName(partial).constData(), QFile::encodeName(target).constData()) != 0) {
        QFile::remove(partial);
        return QStringLiteral("%1 cannot be completed").arg(target);
    }
    QFile::remove(partial + QStringLiteral(".files"));
    QDir(partial + QStringLiteral(".root")).removeRecursively();
    return QString();
}

void Repack::rewind(const QString& partial)
{
    const qint64 length = headLength(partial);
    if (length > 0)
        QFile::resize(partial, length);
}
