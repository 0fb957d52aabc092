#include <QProgressBar>
#include <QSignalSpy>
#include <QTest>

#include "logtextedit.h"
#include "scenariotable.h"
#include "testfiles.h"
#include "updatelogparser.h"
#include "updatelogwidget.h"

// The update tool's output as the window reads and shows it.
class LogTest final : public QObject
{
    Q_OBJECT

private slots:
    void parserProgress_data() { addRows("log-progress.txt", {"chunk", "progress", "errors"}); }

    void parserProgress()
    {
        QFETCH(const Row, row);
        UpdateLogParser parser;
        QSignalSpy errors(&parser, &UpdateLogParser::errorDetected);
        QStringList seen;
        for (const QString& text : unescaped(row["chunk"]))
            seen << QString::number(parser.parse(text));
        QCOMPARE(seen.join(' '), row["progress"].value(0));
        QCOMPARE(QString::number(errors.count()), row["errors"].value(0, "0"));

        // reset forgets the summary, the counters and the held-back tail.
        parser.reset();
        QCOMPARE(parser.parse("\nInst a\n"), 0);
    }

    void recordedLogsReachTheirEnd_data()
    {
        QTest::addColumn<QString>("log");
        QTest::addColumn<int>("errors");
        QTest::newRow("simulated dist-upgrade, 142 Inst lines") << "apt-simulated-dist-upgrade.ru.log" << 0;
        QTest::newRow("upgrade of 8 packages") << "apt-upgrade.ru.log" << 0;
        QTest::newRow("postinst fails") << "apt-broken-postinst.ru.log" << 1;
    }

    void recordedLogsReachTheirEnd()
    {
        QFETCH(QString, log);
        QFETCH(int, errors);
        const QStringList lines
            = QString::fromUtf8(TestHelpers::readFile(KIV_TEST_DATA_DIR "/" + log)).split('\n');
        QVERIFY(lines.size() > 1);
        // The tool's output arrives in whole lines, a few at a time or many at once.
        for (const int linesPerChunk : {1, 3, 17, 1000}) {
            UpdateLogParser parser;
            QSignalSpy errorSpy(&parser, &UpdateLogParser::errorDetected);
            int last = 0;
            for (int start = 0; start < lines.size(); start += linesPerChunk) {
                const int progress = parser.parse(lines.mid(start, linesPerChunk).join('\n')
                    + (start + linesPerChunk < lines.size() ? "\n" : ""));
                QVERIFY2(progress >= last,
                    qPrintable(QString("progress fell from %1 to %2").arg(last).arg(progress)));
                last = progress;
            }
            QCOMPARE(last, 99);
            QCOMPARE(errorSpy.count(), errors);
        }
    }

    void carriageReturnsRewriteTheLine_data() { addRows("log-view.txt", {"chunk", "shown"}); }

    void carriageReturnsRewriteTheLine()
    {
        QFETCH(const Row, row);
        LogTextEdit view;
        // Narrow enough that a long line wraps over several rows.
        view.resize(200, 300);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        for (const QString& text : unescaped(row["chunk"]))
            view.appendText(text);
        QCOMPARE(view.toPlainText(), unescaped(row["shown"]).value(0));
    }

    void progressBarFollowsTheParser()
    {
        UpdateLogWidget widget;
        auto* bar = widget.findChild<QProgressBar*>("m_updateProgressBar");
        widget.addText("old run\n");
        widget.clearLog();
        widget.addText(
            "Обновлено 4 пакетов, установлено 2 новых пакетов, для удаления отмечено 0 пакетов.\n");
        QCOMPARE(bar->maximum(), 0); // busy: nothing counted yet
        widget.addText("Inst a\nInst b\nInst c\n");
        QCOMPARE(bar->value(), 49);
        // A step that reports nothing (zero or less) leaves the bar where it is.
        widget.setProgress(-3);
        QCOMPARE(bar->value(), 49);
        widget.completeProgress();
        QCOMPARE(bar->value(), 100);
        QVERIFY(widget.findChild<LogTextEdit*>("m_logTextEdit")->toPlainText().startsWith("Обновлено"));
    }
};

QTEST_MAIN(LogTest)
#include "tst_log.moc"
