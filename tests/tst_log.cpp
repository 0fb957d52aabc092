#include <QProgressBar>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include "logtextedit.h"
#include "scenariotable.h"
#include "updatelogparser.h"
#include "updatelogwidget.h"

namespace {

const QString summaryOfSix = QStringLiteral(
    "Обновлено 4 пакетов, установлено 2 новых пакетов, для удаления отмечено 0 пакетов, и 0 пакетов не обновлено.\n");

QString readLog(const QString& name)
{
    QFile file(QFINDTESTDATA("testdata/" + name));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

class LogTest final : public QObject
{
    Q_OBJECT

private slots:
    void parserProgress_data();
    void parserProgress();
    void recordedLogsReachTheirEnd_data();
    void recordedLogsReachTheirEnd();

    void carriageReturnsRewriteTheLine_data();
    void carriageReturnsRewriteTheLine();
    void viewFollowsOnlyNearTheBottom_data();
    void viewFollowsOnlyNearTheBottom();

    void progressBarFollowsTheParser();
};

void LogTest::parserProgress_data()
{
    addRows("log-progress.txt", {"chunk", "progress", "errors"});
}

void LogTest::parserProgress()
{
    QFETCH(QStringList, chunk);
    QFETCH(QStringList, progress);
    QFETCH(QStringList, errors);
    UpdateLogParser parser;
    QSignalSpy errorSpy(&parser, &UpdateLogParser::errorDetected);
    QStringList seen;
    for (const QString& text : unescaped(chunk))
        seen << QString::number(parser.parse(text));
    QCOMPARE(seen.join(' '), progress.value(0));
    QCOMPARE(errorSpy.count(), errors.value(0).toInt());

    // reset forgets the summary, the counters and the held-back tail.
    parser.reset();
    QCOMPARE(parser.parse("\nInst a\n"), 0);
}

void LogTest::recordedLogsReachTheirEnd_data()
{
    QTest::addColumn<QString>("log");
    QTest::addColumn<int>("final");
    QTest::addColumn<int>("errors");
    QTest::newRow("simulated dist-upgrade, 142 Inst lines") << "apt-simulated-dist-upgrade.ru.log" << 99 << 0;
    QTest::newRow("upgrade of 8 packages") << "apt-upgrade.ru.log" << 99 << 0;
    QTest::newRow("postinst fails") << "apt-broken-postinst.ru.log" << 99 << 1;
}

void LogTest::recordedLogsReachTheirEnd()
{
    QFETCH(QString, log);
    QFETCH(int, final);
    QFETCH(int, errors);
    const QString text = readLog(log);
    QVERIFY(!text.isEmpty());
    // The tool's output arrives in whole lines, a few at a time or many at once.
    const QStringList lines = text.split('\n');
    for (const int linesPerChunk : {1, 3, 17, 1000}) {
        UpdateLogParser parser;
        QSignalSpy errorSpy(&parser, &UpdateLogParser::errorDetected);
        int last = 0;
        for (int start = 0; start < lines.size(); start += linesPerChunk) {
            const QString chunk = lines.mid(start, linesPerChunk).join('\n')
                + (start + linesPerChunk < lines.size() ? "\n" : QString());
            const int progress = parser.parse(chunk);
            QVERIFY2(progress >= last,
                qPrintable(QStringLiteral("progress fell from %1 to %2").arg(last).arg(progress)));
            last = progress;
        }
        QCOMPARE(last, final);
        QCOMPARE(errorSpy.count(), errors);
    }
}

void LogTest::carriageReturnsRewriteTheLine_data()
{
    addRows("log-view.txt", {"chunk", "shown"});
}

void LogTest::carriageReturnsRewriteTheLine()
{
    QFETCH(QStringList, chunk);
    QFETCH(QStringList, shown);
    LogTextEdit view;
    view.setPlainText(QString());
    // Narrow enough that a long line wraps over several rows.
    view.resize(200, 300);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    for (const QString& text : unescaped(chunk))
        view.appendText(text);
    QCOMPARE(view.toPlainText(), unescaped(shown).value(0));
}

void LogTest::viewFollowsOnlyNearTheBottom_data()
{
    QTest::addColumn<int>("stepsFromBottom");
    QTest::addColumn<bool>("follows");
    QTest::newRow("4 steps up") << 4 << true;
    QTest::newRow("5 steps up") << 5 << false;
}

void LogTest::viewFollowsOnlyNearTheBottom()
{
    QFETCH(int, stepsFromBottom);
    QFETCH(bool, follows);
    LogTextEdit view;
    view.resize(300, 200);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    for (int line = 0; line < 200; ++line)
        view.appendText(QStringLiteral("line %1\n").arg(line));
    QScrollBar* bar = view.verticalScrollBar();
    bar->setValue(bar->maximum() - stepsFromBottom);
    const int before = bar->value();
    // The user has selected text; insertions must not disturb it unless the view follows.
    QTextCursor selection = view.textCursor();
    selection.setPosition(0);
    selection.setPosition(4, QTextCursor::KeepAnchor);
    view.setTextCursor(selection);
    bar->setValue(before);

    view.appendText("one more line\nand another\n");
    if (follows) {
        QCOMPARE(bar->value(), bar->maximum());
        QVERIFY(view.textCursor().atEnd());
    } else {
        QCOMPARE(bar->value(), before);
        QCOMPARE(view.textCursor().selectedText(), "line");
    }
}

void LogTest::progressBarFollowsTheParser()
{
    UpdateLogWidget widget;
    auto* bar = widget.findChild<QProgressBar*>("m_updateProgressBar");
    auto* view = widget.findChild<LogTextEdit*>("m_logTextEdit");
    QVERIFY(bar && view);
    widget.addText("old run\n");
    widget.clearLog();
    QCOMPARE(bar->maximum(), 0); // busy
    QCOMPARE(view->toPlainText(), QString());

    widget.addText(summaryOfSix);
    QCOMPARE(bar->maximum(), 0); // still busy: nothing counted yet
    widget.addText("Inst a\nInst b\nInst c\n");
    QCOMPARE(bar->maximum(), 100);
    QCOMPARE(bar->value(), 49);
    widget.setProgress(0);
    widget.setProgress(-3);
    QCOMPARE(bar->value(), 49);
    widget.setProgress(37);
    QCOMPARE(bar->value(), 37);
    widget.completeProgress();
    QCOMPARE(bar->value(), 100);
    QCOMPARE(view->toPlainText(), summaryOfSix + "Inst a\nInst b\nInst c\n");
}

QTEST_MAIN(LogTest)
#include "tst_log.moc"
