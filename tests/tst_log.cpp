#include <memory>

#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include "logtextedit.h"
#include "updatelogparser.h"

// The update tool's output as the window reads and shows it.
class LogTest final : public QObject
{
    Q_OBJECT

    // A new view for each test, shown.
    std::unique_ptr<LogTextEdit> m_view;

private slots:
    void init()
    {
        m_view = std::make_unique<LogTextEdit>();
        // Narrow enough that a long line wraps over several rows.
        m_view->resize(300, 200);
        m_view->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
    }

    void parserProgress_data()
    {
        // The summary line of apt sets the total: upgraded plus newly installed packages.
        const auto summary = [](int upgraded, int installed = 0) {
            return QString(
                "Обновлено %1 пакетов, установлено %2 новых пакетов, для удаления отмечено 0 пакетов.\n")
                .arg(upgraded)
                .arg(installed);
        };
        QTest::addColumn<QStringList>("chunks");
        QTest::addColumn<QList<int>>("progress"); // after each chunk
        QTest::addColumn<int>("errors");
        QTest::newRow("three Inst lines of six")
            << QStringList {summary(4, 2) + "Inst a\nInst b\nInst c\n"} << QList<int> {49} << 0;
        QTest::newRow("a chunk without a line feed waits for the next")
            << QStringList {summary(1), "Inst a", "\n"} << QList<int> {0, 0, 99} << 0;
        QTest::newRow("after a download Inst lines no longer count")
            << QStringList {summary(4), "Пол:1 a\n", "Inst a\nInst b\n"} << QList<int> {0, 2, 2} << 0;
        QTest::newRow("a full update") << QStringList {summary(1, 1) + "Пол:1 a\nПол:2 b\n",
            "Распаковывается a\nРаспаковывается b\n", "Настраивается пакет a\nНастраивается пакет b\n"}
                                       << QList<int> {10, 55, 99} << 0;
        QTest::newRow("counters overshoot the total") << QStringList {summary(2) + "Inst a\nInst b\nInst c\n",
            "Inst d\n"} << QList<int> {148, 198} << 0;
        QTest::newRow("errors: once per chunk") << QStringList {
            "E: Sub-process /usr/bin/dpkg returned an error code (1)\nx returned an error code\n",
            "y returned an error code\n",
            "nothing\n"} << QList<int> {0, 0, 0} << 2;
    }

    void parserProgress()
    {
        QFETCH(const QStringList, chunks);
        QFETCH(const QList<int>, progress);
        QFETCH(const int, errors);
        UpdateLogParser parser;
        QSignalSpy errorSpy(&parser, &UpdateLogParser::errorDetected);
        QList<int> seen;
        for (const QString& chunk : chunks)
            seen << parser.parse(chunk);
        QCOMPARE(seen, progress);
        QCOMPARE(errorSpy.count(), errors);

        // reset forgets the summary, the counters and the held-back tail.
        parser.reset();
        QCOMPARE(parser.parse("\nInst a\n"), 0);
    }

    void carriageReturnsRewriteTheLine_data()
    {
        QTest::addColumn<QStringList>("chunks");
        QTest::addColumn<QString>("shown");
        QTest::newRow("return and line feed end a line") << QStringList {"abc\r\ndef"} << "abc\ndef";
        QTest::newRow("elapsed ticks after a finished line")
            << QStringList {"line\n", "\rElapsed 00:00:01", "\rElapsed 00:00:02"} << "line\nElapsed 00:00:02";
        QTest::newRow("a return ending a chunk rewrites the line with the next")
            << QStringList {"10%\r", "20%\r", "done\n"} << "done\n";
        QTest::newRow("return and line feed in two chunks end a line")
            << QStringList {"abc\r", "\ndef"} << "abc\ndef";
        QTest::newRow("a line wrapped over several rows goes whole")
            << QStringList {"first\n" + QString(120, 'x') + "\rshort"} << "first\nshort";
    }

    void carriageReturnsRewriteTheLine()
    {
        QFETCH(const QStringList, chunks);
        QFETCH(const QString, shown);
        for (const QString& chunk : chunks)
            m_view->appendText(chunk);
        QCOMPARE(m_view->toPlainText(), shown);
    }

    // New text moves the view down only when it is within a few steps of the bottom: an
    // administrator who scrolled up to read keeps the place.
    void followsNearTheBottomOnly_data()
    {
        QTest::addColumn<int>("stepsUp");
        QTest::addColumn<bool>("follows");
        QTest::newRow("at the bottom") << 0 << true;
        QTest::newRow("four steps up") << 4 << true;
        QTest::newRow("five steps up") << 5 << false;
    }

    void followsNearTheBottomOnly()
    {
        QFETCH(const int, stepsUp);
        QFETCH(const bool, follows);
        for (int line = 0; line < 100; ++line)
            m_view->appendText(QString("line %1\n").arg(line));
        QScrollBar* bar = m_view->verticalScrollBar();
        bar->setValue(bar->maximum() - stepsUp);
        const int before = bar->value();
        m_view->appendText("more\nand more\n");
        QCOMPARE(bar->value() == bar->maximum(), follows);
        QCOMPARE(bar->value() == before, !follows);
    }
};

QTEST_MAIN(LogTest)
#include "tst_log.moc"
