// Measures the log screen on a long real log: the recorded apt and dpkg output of the tests,
// repeated to at least 20 MB and fed in 4 KiB chunks, as the update tool's pipe delivers it.
// Run by hand, offscreen:  QT_QPA_PLATFORM=offscreen build/release/bench/logbench [megabytes]

#include <cstdio>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QTextCursor>

#include "updatelogparser.h"
#include "updatelogwidget.h"

namespace {

constexpr int chunkBytes = 4096;

QStringList makeChunks(qint64 minimumBytes, qint64* totalBytes)
{
    QByteArray recorded;
    for (const char* name :
        {"apt-simulated-dist-upgrade.ru.log", "apt-upgrade.ru.log", "apt-broken-postinst.ru.log"}) {
        QFile file(QStringLiteral(KIV_TEST_DATA_DIR "/") + QLatin1String(name));
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cannot read %s\n", qPrintable(file.fileName()));
            return {};
        }
        recorded += file.readAll();
    }
    QByteArray log;
    while (log.size() < minimumBytes)
        log += recorded;
    *totalBytes = log.size();
    // Chunks are cut at 4 KiB of bytes, moved back to a character boundary as the decoder would.
    QStringList chunks;
    for (int start = 0; start < log.size();) {
        int end = qMin(start + chunkBytes, int(log.size()));
        while (end < log.size() && (uchar(log.at(end)) & 0xC0) == 0x80)
            --end;
        chunks.append(QString::fromUtf8(log.mid(start, end - start)));
        start = end;
    }
    return chunks;
}

double megabytesPerSecond(qint64 bytes, qint64 nanoseconds)
{
    return (double(bytes) / 1e6) / (double(nanoseconds) / 1e9);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    const qint64 megabytes = argc > 1 ? QByteArray(argv[1]).toLongLong() : 20;
    qint64 bytes = 0;
    const QStringList chunks = makeChunks(megabytes * 1000 * 1000, &bytes);
    if (chunks.isEmpty())
        return 1;
    std::printf("log: %.1f MB in %d chunks of at most %d bytes\n", double(bytes) / 1e6, int(chunks.size()),
        chunkBytes);

    QElapsedTimer timer;
    UpdateLogParser parser;
    int progress = 0;
    timer.start();
    for (const QString& chunk : chunks)
        progress += parser.parse(chunk);
    const qint64 parserNs = timer.nsecsElapsed();
    std::printf("parser alone:   %8.1f MB/s (checksum %d)\n", megabytesPerSecond(bytes, parserNs), progress);

    UpdateLogWidget widget;
    widget.resize(800, 600);
    widget.show();
    widget.clearLog();
    qint64 longestNs = 0;
    timer.start();
    for (const QString& chunk : chunks) {
        QElapsedTimer call;
        call.start();
        widget.addText(chunk);
        longestNs = qMax(longestNs, call.nsecsElapsed());
    }
    const qint64 widgetNs = timer.nsecsElapsed();
    std::printf("addText:        %8.1f MB/s, longest call %.2f ms\n", megabytesPerSecond(bytes, widgetNs),
        double(longestNs) / 1e6);

    QPlainTextEdit plain;
    plain.setReadOnly(true);
    plain.resize(800, 600);
    plain.show();
    timer.start();
    for (const QString& chunk : chunks) {
        QTextCursor cursor = plain.textCursor();
        cursor.movePosition(QTextCursor::End);
        cursor.insertText(chunk);
        QCoreApplication::processEvents();
    }
    const qint64 plainNs = timer.nsecsElapsed();
    std::printf("baseline:       %8.1f MB/s (plain text edit, insert at end, process events)\n",
        megabytesPerSecond(bytes, plainNs));
    std::printf("ratio addText / baseline: %.2f\n", double(plainNs) / double(widgetNs));
    return 0;
}
