#include "logtextedit.h"

#include <QScrollBar>
#include <QTextCursor>

namespace {

// How close to the bottom, in scroll steps, the view must be to follow new text.
constexpr int followDistance = 5;
// The view is repainted at most this often while text streams in: laying out and drawing a
// screenful of new lines for every chunk would cost more than appending the chunks themselves.
constexpr int repaintIntervalMs = 40;

// Selects the line the cursor ends, so that the next insertion replaces it: the whole block, not
// just the row it shows as when the view wraps it.
void selectLine(QTextCursor& cursor)
{
    cursor.movePosition(QTextCursor::StartOfBlock, QTextCursor::KeepAnchor);
}

} // namespace

LogTextEdit::LogTextEdit(QWidget* parent)
    : QPlainTextEdit(parent)
{
    setReadOnly(true);
    m_repaintTimer.setSingleShot(true);
    connect(&m_repaintTimer, &QTimer::timeout, this, [this]() {
        viewport()->setUpdatesEnabled(true);
        m_sinceRepaint.start();
    });
}

void LogTextEdit::limitRepaints()
{
    if (m_repaintTimer.isActive())
        return;
    if (!m_sinceRepaint.isValid() || m_sinceRepaint.hasExpired(repaintIntervalMs)) {
        m_sinceRepaint.start();
        return;
    }
    viewport()->setUpdatesEnabled(false);
    m_repaintTimer.start(int(repaintIntervalMs - m_sinceRepaint.elapsed()));
}

void LogTextEdit::appendText(const QString& text)
{
    limitRepaints();
    const QScrollBar* scrollBar = verticalScrollBar();
    const int distance = scrollBar->maximum() - scrollBar->value();

    // Insertions go through a copy, so the user's own cursor and selection stay where they are.
    QTextCursor cursor = textCursor();
    cursor.movePosition(QTextCursor::End, QTextCursor::MoveAnchor);
    if (m_pendingCarriageReturn) {
        m_pendingCarriageReturn = false;
        if (!text.startsWith(QLatin1Char('\n')))
            selectLine(cursor);
    }

    if (!text.contains(QLatin1Char('\r'))) {
        cursor.insertText(text);
    } else {
        const QStringList parts = text.split(QLatin1Char('\r'));
        for (int index = 0; index + 1 < parts.size(); ++index) {
            cursor.insertText(parts.at(index));
            const QString& next = parts.at(index + 1);
            // "\r\n" is an ordinary line end; any other carriage return rewrites the line.
            if (!next.startsWith(QLatin1Char('\n')))
                selectLine(cursor);
        }
        if (parts.last().isEmpty())
            m_pendingCarriageReturn = true;
        else
            cursor.insertText(parts.last());
    }

    // A log has nothing to undo. The history is emptied after every chunk rather than switched
    // off: switched off, the document compacts its whole text now and then to drop the lines that
    // carriage returns replaced, and kept, it copies itself whenever it grows; both stall long
    // logs for longer than a frame.
    document()->clearUndoRedoStacks();

    if (distance < followDistance)
        moveCursor(QTextCursor::End);
}

void LogTextEdit::clearText()
{
    clear();
    m_pendingCarriageReturn = false;
}
