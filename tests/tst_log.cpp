#include <QProgressBar>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include "logtextedit.h"
#include "updatelogparser.h"
#include "updatelogwidget.h"

namespace {

const QString summaryOfSix = QStringLiteral(
    "Обновлено 4 пакетов, установлено 2 новых пакетов, для удаления отмечено 0 пакетов, и 0 пакетов не обновлено.\n");

QString summary(int upgraded, int installed = 0)
{
    return QStringLiteral(
        "Обновлено %1 пакетов, установлено %2 новых пакетов, для удаления отмечено 0 пакетов.\n")
        .arg(upgraded)
        .arg(installed);
}

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
    QTest::addColumn<QStringList>("chunks");
    QTest::addColumn<QList<int>>("progress");
    QTest::addColumn<int>("errors");

    QTest::newRow("three Inst lines of six")
        << QStringList {summaryOfSix + "Inst a\nInst b\nInst c\n"} << QList<int> {49} << 0;
    QTest::newRow("lines before the summary never count")
        << QStringList {"Inst x\nПол:1 x\n" + summary(2) + "Inst a\n"} << QList<int> {49} << 0;
    QTest::newRow("a chunk without a line feed waits for the next")
        << QStringList {summary(1), "Inst a", "\n"} << QList<int> {0, 0, 99} << 0;
    QTest::newRow("a line split in two is scanned as two lines")
        << QStringList {summary(2), "Inst a line cut ", "in two\nInst b\n"} << QList<int> {0, 0, 99} << 0;
    QTest::newRow("a pattern cut by the boundary is missed")
        << QStringList {summary(2) + "In", "st a\nInst b\n"} << QList<int> {0, 49} << 0;
    QTest::newRow("one download of 200 shows 1")
        << QStringList {summary(200) + "Пол:1 http://mirror.example a\n"} << QList<int> {1} << 0;
    QTest::newRow("after a download Inst lines no longer count")
        << QStringList {summary(4), "Пол:1 a\n", "Inst a\nInst b\n"} << QList<int> {0, 2, 2} << 0;
    QTest::newRow("unpacking during partial downloads is lost for good")
        << QStringList {summary(2) + "Пол:1 a\nРаспаковывается a\n", "Пол:2 b\n", "Распаковывается b\n"}
        << QList<int> {5, 10, 32} << 0;
    QTest::newRow("a full update") << QStringList {summary(1, 1) + "Пол:1 a\nПол:2 b\n",
        "Распаковывается a\nРаспаковывается b\n", "Настраивается пакет a\nНастраивается пакет b\n"}
                                   << QList<int> {10, 55, 99} << 0;
    QTest::newRow("counters overshoot the total")
        << QStringList {summary(2) + "Inst a\nInst b\nInst c\n", "Inst d\n"} << QList<int> {148, 198} << 0;
    QTest::newRow("a summary of nothing keeps the parser looking")
        << QStringList {summary(0) + "Inst a\n", summary(1) + "Inst a\n"} << QList<int> {0, 99} << 0;
    QTest::newRow("only lines beginning with Inst")
        << QStringList {summary(2) + "inst a\n Inst b\nxInst c\n"} << QList<int> {0} << 0;
    QTest::newRow("errors: once per chunk")
        << QStringList {"E: Sub-process /usr/bin/dpkg returned an error code (1)\nx returned an error code\n",
               "y returned an error code\n", "nothing\n"}
        << QList<int> {0, 0, 0} << 2;
    QTest::newRow("an error in the held-back tail is seen with the next chunk")
        << QStringList {"dpkg returned an error code (1)", "\n"} << QList<int> {0, 0} << 1;
}

void LogTest::parserProgress()
{
    QFETCH(QStringList, chunks);
    QFETCH(QList<int>, progress);
    QFETCH(int, errors);
    UpdateLogParser parser;
    QSignalSpy errorSpy(&parser, &UpdateLogParser::errorDetected);
    QList<int> seen;
    for (const QString& chunk : qAsConst(chunks))
        seen.append(parser.parse(chunk));
    QCOMPARE(seen, progress);
    QCOMPARE(errorSpy.count(), errors);

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
    QTest::addColumn<QStringList>("chunks");
    QTest::addColumn<QString>("shown");

    QTest::newRow("return inside a chunk") << QStringList {"abc\rdef"} << "def";
    QTest::newRow("return and line feed end a line") << QStringList {"abc\r\ndef"} << "abc\ndef";
    QTest::newRow("return then a chunk starting a new line")
        << QStringList {"50%\r", "\nnext"} << "50%\nnext";
    QTest::newRow("elapsed ticks after a finished line")
        << QStringList {"line\n", "\rElapsed 00:00:01", "\rElapsed 00:00:02"} << "line\nElapsed 00:00:02";
    QTest::newRow("a tick replaces unfinished output")
        << QStringList {"line\nunfinished", "\rElapsed 00:00:01"} << "line\nElapsed 00:00:01";
    QTest::newRow("return and line feed split across chunks") << QStringList {"x\r", "y\r\n", "z"} << "y\nz";
    QTest::newRow("recorded dpkg database progress")
        << QStringList {"(Чтение базы данных … 5%\r(Чтение базы данных … 100%\r(Чтение базы данных … установлено 7 файлов.)\n"}
        << "(Чтение базы данных … установлено 7 файлов.)\n";
    QTest::newRow("a line wrapped over several rows goes whole")
        << QStringList {"first\n" + QString(121, 'x') + "\rshort"} << "first\nshort";
}

void LogTest::carriageReturnsRewriteTheLine()
{
    QFETCH(QStringList, chunks);
    QFETCH(QString, shown);
    LogTextEdit view;
    view.setPlainText(QString());
    // Narrow enough that a long line wraps over several rows.
    view.resize(200, 300);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    for (const QString& chunk : qAsConst(chunks))
        view.appendText(chunk);
    QCOMPARE(view.toPlainText(), shown);
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
