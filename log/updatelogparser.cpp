#include "updatelogparser.h"

#include <QRegularExpression>

namespace {

// The lines the parser counts, each by the literal text its pattern amounts to: a line holds no
// line feed and "." matches any other character, so "^Inst.*" is a line that begins with "Inst"
// and ".*Пол:.*" one that contains "Пол:". Plain text tests read far faster than expressions.
const QString instPrefix = QStringLiteral("Inst"); // "^Inst.*"
const QString fetchMarker = QStringLiteral("Пол:"); // ".*Пол:.*"
const QString unpackMarker = QStringLiteral("Распаковывается"); // ".*Распаковывается.*"
const QString setupMarker = QStringLiteral("Настраивается пакет"); // ".*Настраивается пакет.*"
const QString errorMarker = QStringLiteral("returned an error code");

// The summary is matched by its expression, for its two numbers.
const QRegularExpression& summaryPattern()
{
    static const QRegularExpression pattern(QRegularExpression::anchoredPattern(
        QStringLiteral("^Обновлено\\s+(?<update>\\d+)\\s+пакетов,\\s+установлено\\s+(?<install>\\d+).*")));
    return pattern;
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
        if (line.contains(errorMarker))
            error = true;
        if (!counting && !summaryFound) {
            const QRegularExpressionMatch summary = summaryPattern().match(line.toString());
            if (summary.hasMatch()) {
                summaryFound = true;
                m_total = summary.captured(QStringLiteral("update")).toInt()
                    + summary.captured(QStringLiteral("install")).toInt();
            }
            // Lines up to and including the summary are not counted.
            return;
        }
        inst += line.startsWith(instPrefix);
        fetch += line.contains(fetchMarker);
        unpack += line.contains(unpackMarker);
        setup += line.contains(setupMarker);
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
