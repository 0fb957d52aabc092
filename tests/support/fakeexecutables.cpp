#include "fakeexecutables.h"

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>

FakeExecutables::FakeExecutables()
    : m_directory(QStringLiteral("/tmp/kiv-fakes.XXXXXX"))
{
    // Other users run the fakes too (a program started as nobody), and record their calls here;
    // sticky, so that they cannot swap the fakes root runs. They run a copy of the fake program: the
    // source tree may lie where only root can enter.
    const QString copy = m_directory.filePath(QStringLiteral(".fake-program"));
    if (::chmod(QFile::encodeName(m_directory.path()).constData(), 01777) != 0
        || !QFile::copy(fakeProgramPath(), copy) || ::chmod(QFile::encodeName(copy).constData(), 0755) != 0)
        qFatal("cannot make the fakes' folder %s usable by every user", qPrintable(m_directory.path()));
}

QString FakeExecutables::fakeProgramPath()
{
    return QStringLiteral(KIV_TEST_SUPPORT_DIR "/fake-program");
}

QString FakeExecutables::sandboxRunPath()
{
    return QStringLiteral(KIV_TEST_SUPPORT_DIR "/sandbox-run");
}

void FakeExecutables::add(const QString& name)
{
    const QString path = m_directory.filePath(name);
    if (!QFile::exists(path))
        QFile::link(QStringLiteral(".fake-program"), path);
}

void FakeExecutables::setScenario(const QString& name, const QString& scenario, int call)
{
    const QString file = call > 0 ? QStringLiteral("%1.%2.scenario").arg(name).arg(call)
                                  : QStringLiteral("%1.scenario").arg(name);
    // A last argument that is a path ("lvs@/dev/vg0/lv") makes folders of the fake's name.
    QDir().mkpath(QFileInfo(m_directory.filePath(file)).absolutePath());
    QFile out(m_directory.filePath(file));
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write the scenario %s", qPrintable(out.fileName()));
    out.write(scenario.toUtf8());
}

void FakeExecutables::addDirectives(const QStringList& directives)
{
    QMap<QString, QString> scripts;
    for (const QString& line : directives)
        scripts[line.section(QStringLiteral(": "), 0, 0)]
            += line.section(QStringLiteral(": "), 1) + QLatin1Char('\n');
    for (auto script = scripts.cbegin(); script != scripts.cend(); ++script) {
        const QString& name = script.key();
        add(name.section(QLatin1Char('@'), 0, 0).section(QLatin1Char('#'), 0, 0));
        setScenario(
            name.section(QLatin1Char('#'), 0, 0), script.value(), name.section(QLatin1Char('#'), 1).toInt());
    }
}

void FakeExecutables::reset()
{
    // All but the fakes (links) and their program (hidden) is a record or a scenario.
    const QFileInfoList entries
        = QDir(m_directory.path()).entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries) {
        if (!entry.isSymLink())
            entry.isDir() ? QDir(entry.filePath()).removeRecursively() : QFile::remove(entry.filePath());
    }
}

QList<QStringList> FakeExecutables::calls(const QString& name) const
{
    QList<QStringList> result;
    QFile in(m_directory.filePath(name + QStringLiteral(".calls")));
    // Every line ends with a line feed; an argument may be empty.
    const QStringList lines = in.open(QIODevice::ReadOnly)
        ? QString::fromUtf8(in.readAll()).split(QLatin1Char('\n'))
        : QStringList();
    for (const QString& line : lines.mid(0, lines.size() - 1)) {
        if (line == QStringLiteral("=== ") + name)
            result.append(QStringList());
        else if (!result.isEmpty())
            result.last().append(line);
    }
    return result;
}

QStringList FakeExecutables::sequence() const
{
    QFile in(m_directory.filePath(QStringLiteral("sequence")));
    if (!in.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(in.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList FakeExecutables::callsInOrder(const QStringList& names) const
{
    QMap<QString, QList<QStringList>> pending;
    for (const QString& name : names)
        pending.insert(name, calls(name));
    QStringList seen;
    const QStringList called = sequence();
    for (const QString& name : called) {
        if (pending.contains(name) && !pending[name].isEmpty())
            seen.append((QStringList {name} + pending[name].takeFirst()).join(QLatin1Char(' ')));
    }
    return seen;
}

void FakeExecutables::activate() const
{
    // Only one set of fakes is active at a time: each goes in front of the PATH the test began with.
    static const QByteArray originalPath = qgetenv("PATH");
    qputenv("PATH", (directory() + QLatin1Char(':')).toLocal8Bit() + originalPath);
    qputenv("KIV_FAKE_DIR", directory().toLocal8Bit());
}
