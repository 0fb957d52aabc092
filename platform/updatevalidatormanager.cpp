#include "updatevalidatormanager.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include "logger.h"

namespace {

const QString sourcesListPath = QStringLiteral("/etc/apt/sources.list");
const QString sourcesPartsPath = QStringLiteral("/etc/apt/sources.list.d");
// Where apt mounts a disc named by a "cdrom:" URI unless configured otherwise.
const QString cdromMountPoint = QStringLiteral("/media/cdrom");

const QStringList knownSchemes = {QStringLiteral("http"), QStringLiteral("https"), QStringLiteral("ftp"),
    QStringLiteral("file"), QStringLiteral("copy"), QStringLiteral("cdrom"), QStringLiteral("mirror"),
    QStringLiteral("mirror+http"), QStringLiteral("mirror+https"), QStringLiteral("mirror+file"),
    QStringLiteral("tor+http"), QStringLiteral("tor+https"), QStringLiteral("ssh"), QStringLiteral("rsh")};

QString location(const QString& path, int line)
{
    return path + QLatin1Char(':') + QString::number(line);
}

QString stripComment(const QString& line)
{
    const int hash = line.indexOf(QLatin1Char('#'));
    return (hash < 0 ? line : line.left(hash)).trimmed();
}

// Splits a one-line entry into words as apt does: blanks separate words, except inside
// "[...]" (options, disc labels) and double quotes.
QStringList splitWords(const QString& line)
{
    QStringList words;
    QString word;
    QChar closing;
    for (const QChar character : line) {
        if (!closing.isNull()) {
            word += character;
            if (character == closing)
                closing = QChar();
        } else if (character.isSpace()) {
            if (!word.isEmpty())
                words.append(word);
            word.clear();
        } else {
            word += character;
            if (character == QLatin1Char('['))
                closing = QLatin1Char(']');
            else if (character == QLatin1Char('"'))
                closing = QLatin1Char('"');
        }
    }
    if (!word.isEmpty())
        words.append(word);
    return words;
}

} // namespace

struct UpdateValidatorManager::Entry
{
    QString where;
    QStringList types;
    QStringList uris;
    QStringList suites;
    QStringList components;
};

UpdateValidatorManager::UpdateValidatorManager(std::shared_ptr<Logger> logger, const QStringList& sourceFiles)
    : m_logger(std::move(logger))
    , m_sourceFiles(sourceFiles)
{ }

QStringList UpdateValidatorManager::systemSourceFiles()
{
    QStringList files;
    if (QFileInfo::exists(sourcesListPath))
        files.append(sourcesListPath);
    // apt reads the parts in file-name order and ignores files with other endings.
    const QFileInfoList parts = QDir(sourcesPartsPath)
                                    .entryInfoList({QStringLiteral("*.list"), QStringLiteral("*.sources")},
                                        QDir::Files | QDir::Readable, QDir::Name);
    for (const QFileInfo& part : parts)
        files.append(part.absoluteFilePath());
    return files;
}

bool UpdateValidatorManager::check()
{
    m_problems = 0;
    m_problemLines.clear();
    m_usable = 0;
    const QStringList files = m_sourceFiles.isEmpty() ? systemSourceFiles() : m_sourceFiles;
    m_logger->write(QStringLiteral("Checking %1 package source file(s)").arg(files.size()));
    for (const QString& path : files) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
            problem(path, QStringLiteral("cannot be read: %1").arg(file.errorString()));
            continue;
        }
        const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
        if (path.endsWith(QLatin1String(".sources")))
            checkDeb822File(path, lines);
        else
            checkOneLineFile(path, lines);
    }
    if (m_usable == 0 && m_problems == 0)
        problem(files.join(QLatin1String(", ")), QStringLiteral("no enabled package source is configured"));
    const bool valid = m_problems == 0 && m_usable > 0;
    m_logger->write(valid
            ? QStringLiteral("Result: %1 usable source entries, no problems").arg(m_usable)
            : QStringLiteral("Result: %1 problem(s), the sources are incorrect").arg(m_problems));
    return valid;
}

void UpdateValidatorManager::checkOneLineFile(const QString& path, const QStringList& lines)
{
    for (int index = 0; index < lines.size(); ++index) {
        const QString text = stripComment(lines.at(index));
        if (text.isEmpty())
            continue;
        const QString where = location(path, index + 1);
        QStringList words = splitWords(text);
        Entry entry {where, {words.takeFirst()}, {}, {}, {}};
        if (!words.isEmpty() && words.first().startsWith(QLatin1Char('['))) {
            const QString options = words.takeFirst();
            if (!options.endsWith(QLatin1Char(']'))) {
                problem(where, QStringLiteral("the option list has no closing \"]\""));
                continue;
            }
            const QStringList pairs = options.mid(1).chopped(1).split(
                QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
            static const QRegularExpression option(QStringLiteral("^[A-Za-z][A-Za-z0-9-]*[+-]?=\\S+$"));
            bool optionsValid = true;
            for (const QString& pair : pairs) {
                if (!option.match(pair).hasMatch()) {
                    problem(where, QStringLiteral("malformed option \"%1\"").arg(pair));
                    optionsValid = false;
                }
            }
            if (!optionsValid)
                continue;
        }
        if (words.size() < 2) {
            problem(where, QStringLiteral("an entry needs a URI and a suite"));
            continue;
        }
        entry.uris = QStringList {words.takeFirst()};
        entry.suites = QStringList {words.takeFirst()};
        entry.components = words;
        if (checkEntry(entry))
            ++m_usable;
    }
}

void UpdateValidatorManager::checkDeb822File(const QString& path, const QStringList& lines)
{
    QHash<QString, QString> fields;
    int start = 0;
    QString lastField;
    bool malformed = false;

    const auto finishParagraph = [&]() {
        if (!fields.isEmpty() && !malformed) {
            const QString where = location(path, start);
            const QString enabled = fields.value(QStringLiteral("enabled")).trimmed().toLower();
            if (enabled == QLatin1String("no") || enabled == QLatin1String("false")) {
                m_logger->write(where + QStringLiteral(": disabled entry skipped"));
            } else {
                const auto values = [&](const char* name) {
                    return fields.value(QLatin1String(name))
                        .split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
                };
                const Entry entry {
                    where, values("types"), values("uris"), values("suites"), values("components")};
                if (entry.types.isEmpty() || entry.uris.isEmpty() || entry.suites.isEmpty())
                    problem(where, QStringLiteral("an entry needs the fields Types, URIs and Suites"));
                else if (checkEntry(entry))
                    ++m_usable;
            }
        }
        fields.clear();
        lastField.clear();
        malformed = false;
    };

    for (int index = 0; index < lines.size(); ++index) {
        const QString& line = lines.at(index);
        if (line.trimmed().isEmpty()) {
            finishParagraph();
            continue;
        }
        if (line.startsWith(QLatin1Char('#')))
            continue;
        if (fields.isEmpty() && !malformed)
            start = index + 1;
        if (line.at(0).isSpace()) {
            if (lastField.isEmpty()) {
                problem(location(path, index + 1), QStringLiteral("continuation line without a field"));
                malformed = true;
            } else {
                fields[lastField] += QLatin1Char('\n') + line.trimmed();
            }
            continue;
        }
        const int colon = line.indexOf(QLatin1Char(':'));
        if (colon <= 0 || line.left(colon).contains(QRegularExpression(QStringLiteral("\\s")))) {
            problem(location(path, index + 1), QStringLiteral("a field line needs a name and a colon"));
            malformed = true;
            continue;
        }
        lastField = line.left(colon).trimmed().toLower();
        fields[lastField] = line.mid(colon + 1).trimmed();
    }
    finishParagraph();
}

bool UpdateValidatorManager::checkEntry(const Entry& entry)
{
    bool valid = true;
    for (const QString& type : entry.types) {
        if (type != QLatin1String("deb") && type != QLatin1String("deb-src")) {
            problem(entry.where, QStringLiteral("unknown type \"%1\"").arg(type));
            valid = false;
        }
    }
    for (const QString& uri : entry.uris)
        valid = checkUri(uri, entry.where) && valid;
    for (const QString& suite : entry.suites) {
        const bool exactPath = suite.endsWith(QLatin1Char('/'));
        if (exactPath && !entry.components.isEmpty()) {
            problem(entry.where,
                QStringLiteral("suite \"%1\" is an exact path and takes no components").arg(suite));
            valid = false;
        } else if (!exactPath && entry.components.isEmpty()) {
            problem(entry.where, QStringLiteral("suite \"%1\" needs at least one component").arg(suite));
            valid = false;
        }
    }
    if (valid && m_logger->level() > 0)
        m_logger->write(entry.where + QStringLiteral(": usable: ") + entry.uris.join(QLatin1Char(' ')));
    return valid;
}

bool UpdateValidatorManager::checkUri(const QString& uri, const QString& where)
{
    static const QRegularExpression schemePattern(QStringLiteral("^([a-z][a-z0-9+.-]*):(.*)$"));
    const QRegularExpressionMatch match = schemePattern.match(uri);
    if (!match.hasMatch()) {
        problem(where, QStringLiteral("\"%1\" is not a URI").arg(uri));
        return false;
    }
    const QString scheme = match.captured(1);
    QString rest = match.captured(2);
    if (!knownSchemes.contains(scheme)) {
        problem(where, QStringLiteral("unsupported URI scheme \"%1\" in \"%2\"").arg(scheme, uri));
        return false;
    }
    QString localPath;
    if (scheme == QLatin1String("file") || scheme == QLatin1String("copy")) {
        if (rest.startsWith(QLatin1String("//")))
            rest = rest.mid(2);
        localPath = rest;
    } else if (scheme == QLatin1String("cdrom")) {
        // "cdrom:[label]/path": the path lies below the disc's mount point.
        const int bracket = rest.lastIndexOf(QLatin1Char(']'));
        localPath = cdromMountPoint + QLatin1Char('/') + rest.mid(bracket + 1);
    } else {
        if (!rest.startsWith(QLatin1String("//")) || rest.size() <= 2) {
            problem(where, QStringLiteral("\"%1\" names no host").arg(uri));
            return false;
        }
        return true;
    }
    if (localPath.isEmpty() || !QFileInfo(localPath).isDir()) {
        problem(where, QStringLiteral("the directory of \"%1\" does not exist").arg(uri));
        return false;
    }
    return true;
}

void UpdateValidatorManager::problem(const QString& where, const QString& message)
{
    ++m_problems;
    m_problemLines.append(where + QStringLiteral(": ") + message);
    m_logger->write(m_problemLines.last());
}
