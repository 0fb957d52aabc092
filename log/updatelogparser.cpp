#include "updatelogparser.h"

#include <QRegularExpression>

namespace {

// Each kind of line but the summary is defined by an expression that amounts to a literal text:
// "^Inst.*" to the prefix "Inst", ".*Пол:.*" to the part "Пол:", and so on, since a line holds
// no line feed and "." matches every other character. The literal tests give the expressions'
// answers far faster; debug builds check every answer against the expression. The summary is
// matched by its expression, for the two numbers.
const QString summaryPrefix = QStringLiteral("Обновлено");
const QString instPrefix = QStringLiteral("Inst");
const QString fetchMarker = QStringLiteral("Пол:");
const QString unpackMarker = QStringLiteral("Распаковывается");
const QString setupMarker = QStringLiteral("Настраивается пакет");
const QString errorMarker = QStringLiteral("returned an error code");

struct Markers
{
    bool fetch = false;
    bool unpack = false;
    bool setup = false;
    bool error = false;
};

Markers findMarkers(QStringView line)
{
    Markers found;
    const QChar* characters = line.data();
    const qsizetype length = line.size();
    const auto at = [&](qsizetype index, const QString& marker) {
        return length - index >= marker.size() && line.mid(index, marker.size()) == marker;
    };
    for (qsizetype index = 0; index < length; ++index) {
        // The markers begin with four different letters; anything else is passed over at once.
        switch (characters[index].unicode()) {
        case 0x041F: // П
            found.fetch = found.fetch || at(index, fetchMarker);
            break;
        case 0x0420: // Р
            found.unpack = found.unpack || at(index, unpackMarker);
            break;
        case 0x041D: // Н
            found.setup = found.setup || at(index, setupMarker);
            break;
        case 'r':
            found.error = found.error || at(index, errorMarker);
            break;
        default:
            break;
        }
    }
    return found;
}

// found, checked against the expression that defines it.
bool qualifies(
    bool found, [[maybe_unused]] const QRegularExpression& expression, [[maybe_unused]] QStringView line)
{
    Q_ASSERT(found == expression.match(line.toString()).hasMatch());
    return found;
}

// 1 while the share is above 0 but below 1, so that the first counted line shows at once.
int atLeastOne(double value)
{
    return value > 0 && value < 1 ? 1 : int(value);
}

} // namespace

UpdateLogParser::UpdateLogParser(QObject* parent)
    : QObject(parent)
{ }

const QRegularExpression& UpdateLogParser::summaryPattern()
{
    static const QRegularExpression pattern(QRegularExpression::anchoredPattern(
        QStringLiteral("^Обновлено\\s+(?<update>\\d+)\\s+пакетов,\\s+установлено\\s+(?<install>\\d+).*")));
    return pattern;
}

const QRegularExpression& UpdateLogParser::instPattern()
{
    static const QRegularExpression pattern(QStringLiteral("^Inst.*"));
    return pattern;
}

const QRegularExpression& UpdateLogParser::fetchPattern()
{
    static const QRegularExpression pattern(QStringLiteral(".*Пол:.*"));
    return pattern;
}

const QRegularExpression& UpdateLogParser::unpackPattern()
{
    static const QRegularExpression pattern(QStringLiteral(".*Распаковывается.*"));
    return pattern;
}

const QRegularExpression& UpdateLogParser::setupPattern()
{
    static const QRegularExpression pattern(QStringLiteral(".*Настраивается пакет.*"));
    return pattern;
}

const QRegularExpression& UpdateLogParser::errorPattern()
{
    static const QRegularExpression pattern(QStringLiteral("returned an error code"));
    return pattern;
}

int UpdateLogParser::parse(const QString& text)
{
    // The lines: the tail held back from the previous chunk as a line of its own, then the lines
    // of this chunk; the text after its last line feed is held back in turn.
    const QString previousTail = m_tail;
    const int lastBreak = text.lastIndexOf(QLatin1Char('\n'));
    m_tail = text.mid(lastBreak + 1);

    bool error = false;
    bool summaryFound = false;
    const bool counting = m_total != 0;
    int inst = 0;
    int fetch = 0;
    int unpack = 0;
    int setup = 0;
    const auto scan = [&](QStringView line) {
        const Markers found = findMarkers(line);
        if (qualifies(found.error, errorPattern(), line))
            error = true;
        if (!counting && !summaryFound) {
            if (line.startsWith(summaryPrefix)) {
                const QRegularExpressionMatch summary = summaryPattern().match(line.toString());
                if (summary.hasMatch()) {
                    summaryFound = true;
                    m_total = summary.captured(QStringLiteral("update")).toInt()
                        + summary.captured(QStringLiteral("install")).toInt();
                }
            }
            // Lines up to and including the summary are not counted.
            return;
        }
        inst += qualifies(line.startsWith(instPrefix), instPattern(), line);
        fetch += qualifies(found.fetch, fetchPattern(), line);
        unpack += qualifies(found.unpack, unpackPattern(), line);
        setup += qualifies(found.setup, setupPattern(), line);
    };

    scan(previousTail);
    for (int start = 0; start <= lastBreak;) {
        const int end = text.indexOf(QLatin1Char('\n'), start);
        scan(QStringView(text).mid(start, end - start));
        start = end + 1;
    }

    if (error)
        emit errorDetected();
    if (m_total == 0)
        return 0;

    // Each gate is evaluated once per chunk, before its counter grows by the chunk's lines.
    const double total = m_total;
    if (m_instCount != m_total && m_fetchCount == 0)
        m_instCount += inst;
    const int instPart = int(99.0 * (m_instCount / total));
    if (m_fetchCount != m_total && m_instCount == 0)
        m_fetchCount += fetch;
    const int fetchPart = atLeastOne(10.0 * (m_fetchCount / total));
    const bool fetchedAllOrNone = m_fetchCount == m_total || m_fetchCount == 0;
    if (m_unpackCount != m_total && fetchedAllOrNone)
        m_unpackCount += unpack;
    const int unpackPart = atLeastOne(45.0 * (m_unpackCount / total));
    if (m_setupCount != m_total && fetchedAllOrNone)
        m_setupCount += setup;
    const int setupPart = int(44.0 * (m_setupCount / total));
    return instPart + fetchPart + unpackPart + setupPart;
}

void UpdateLogParser::reset()
{
    m_tail.clear();
    m_total = 0;
    m_instCount = 0;
    m_fetchCount = 0;
    m_unpackCount = 0;
    m_setupCount = 0;
}
