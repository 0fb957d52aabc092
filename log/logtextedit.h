#pragma once

#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTimer>

// A read-only log view that appends text chunk by chunk. A carriage return makes the text after
// it replace the current line, as on a terminal, also when the return ends one chunk and the
// line goes on in the next. The view follows new text only while the user stays at the bottom.
class LogTextEdit final : public QPlainTextEdit
{
    Q_OBJECT

public:
    explicit LogTextEdit(QWidget* parent = nullptr);

    void appendText(const QString& text);
    void clearText();

private:
    void limitRepaints();

    bool m_pendingCarriageReturn = false;
    QElapsedTimer m_sinceRepaint;
    QTimer m_repaintTimer;
};
