#include "repack.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include "helpercommand.h"

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

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

Repack::Repack(const QString& package, const QString& target)
    : m_package(package)
    , m_target(target)
{ }

ChildRun Repack::start()
{
    // dpkg names the files of a package of one of several architectures with the architecture.
    QString base = database + m_package;
    if (!QFileInfo::exists(base + QStringLiteral(".list")))
        base = database + m_package.section(QLatin1Char(':'), 0, 0);
    const QByteArray list = readAll(base + QStringLiteral(".list"));
    const KivAdmin::HelperResult status
        = KivAdmin::runHelper(QStringLiteral("dpkg-query"), {QStringLiteral("-s"), m_package});
    if (list.isEmpty() || !status.succeeded()) {
        m_error = QStringLiteral("dpkg's database does not list the files of %1").arg(m_package);
        return {};
    }

    // The control file is the database's entry less what only the database holds; the conffiles
    // are listed apart.
    QByteArray control;
    QByteArray conffiles;
    bool inConffiles = false;
    for (const QByteArray& line : status.output.split('\n')) {
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

    // A file another package diverted lies elsewhere: dpkg-repack knows where.
    QSet<QByteArray> diverted;
    const QList<QByteArray> diversions = readAll(QStringLiteral("/var/lib/dpkg/diversions")).split('\n');
    for (int i = 0; i + 2 < diversions.size(); i += 3)
        diverted << diversions.at(i);
    const QList<QByteArray> paths = list.split('\n');
    QSet<QByteArray> parents;
    for (const QByteArray& path : paths)
        parents << path.left(path.lastIndexOf('/'));
    QByteArray files;
    for (const QByteArray& path : paths) {
        if (path.isEmpty())
            continue;
        if (diverted.contains(path)) {
            m_error = QStringLiteral("%1 is diverted").arg(QString::fromUtf8(path));
            return {};
        }
        struct stat entry = {};
        if (::lstat(path.constData(), &entry) != 0)
            continue;
        // A folder the system has made a link (/lib of a merged /usr) holds the package's files;
        // the link is not the package's.
        if (S_ISLNK(entry.st_mode) && parents.contains(path))
            continue;
        files += (path == "/." ? QByteArray(".") : '.' + path) + '\0';
    }

    // The control archive from a folder of the control files, small enough to hold in memory.
    const QString folder = m_target + QStringLiteral(".control");
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    QFile controlFile(folder + QStringLiteral("/control"));
    bool written = controlFile.open(QIODevice::WriteOnly) && controlFile.write(control) == control.size();
    controlFile.close();
    if (!conffiles.isEmpty()) {
        QFile file(folder + QStringLiteral("/conffiles"));
        written = written && file.open(QIODevice::WriteOnly) && file.write(conffiles) == conffiles.size();
    }
    const QStringList scripts {QStringLiteral("preinst"), QStringLiteral("postinst"), QStringLiteral("prerm"),
        QStringLiteral("postrm"), QStringLiteral("config")};
    for (const QString& name : scripts
            + QStringList {QStringLiteral("templates"), QStringLiteral("triggers"), QStringLiteral("shlibs"),
                QStringLiteral("symbols"), QStringLiteral("md5sums")}) {
        const QString from = base + QLatin1Char('.') + name;
        if (!QFileInfo::exists(from))
            continue;
        const QString to = folder + QLatin1Char('/') + name;
        written = written && QFile::copy(from, to)
            && ::chmod(QFile::encodeName(to).constData(), scripts.contains(name) ? 0755 : 0644) == 0;
    }
    const KivAdmin::HelperResult controlTar = KivAdmin::runHelper(QStringLiteral("tar"),
        {QStringLiteral("-C"), folder, QStringLiteral("--owner=0"), QStringLiteral("--group=0"),
            QStringLiteral("--numeric-owner"), QStringLiteral("-cf"), QStringLiteral("-"),
            QStringLiteral(".")});
    QDir(folder).removeRecursively();

    m_fileList = m_target + QStringLiteral(".files");
    QFile fileList(m_fileList);
    QFile archive(m_target);
    if (!written || !controlTar.succeeded() || !fileList.open(QIODevice::WriteOnly)
        || fileList.write(files) != files.size() || !archive.open(QIODevice::WriteOnly)) {
        m_error = QStringLiteral("the control files of %1 cannot be written").arg(m_package);
        return {};
    }
    const QByteArray head
        = "!<arch>\n" + member("debian-binary", "2.0\n") + member("control.tar", controlTar.output);
    m_dataHeader = head.size();
    if (archive.write(head + header("data.tar", 0)) != m_dataHeader + headerSize) {
        m_error = QStringLiteral("%1 cannot be written").arg(m_target);
        return {};
    }
    archive.close();

    // The files once, straight from the disk into the archive.
    ChildRun run;
    run.program = QStringLiteral("sh");
    run.arguments = QStringList {QStringLiteral("-c"),
        QStringLiteral("exec tar -C / --no-recursion --null -T \"$1\" -cf - >>\"$2\""),
        QStringLiteral("repack"), m_fileList, m_target};
    run.captureErrors = true;
    return run;
}

bool Repack::finish(const ChildResult& result)
{
    QFile::remove(m_fileList);
    QFile archive(m_target);
    if (!result.succeeded || !archive.open(QIODevice::ReadWrite)) {
        m_error = QStringLiteral("tar: %1").arg(QString::fromLocal8Bit(result.errors).trimmed());
        QFile::remove(m_target);
        return false;
    }
    const qint64 size = archive.size() - m_dataHeader - headerSize;
    const bool completed = archive.seek(m_dataHeader) && archive.write(header("data.tar", size)) == headerSize
        && archive.seek(archive.size()) && (size % 2 == 0 || archive.write("\n") == 1);
    if (!completed) {
        m_error = QStringLiteral("%1 cannot be completed").arg(m_target);
        QFile::remove(m_target);
    }
    return completed;
}
