#include <memory>

#include <QTemporaryDir>
#include <QTest>

#include "logger.h"
#include "testfiles.h"
#include "updatevalidatormanager.h"

// The check of the system's package sources made before an update from them.
class ValidatorTest final : public QObject
{
    Q_OBJECT

private slots:
    void judgesSourceFiles_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("content");
        QTest::addColumn<bool>("usable");
        QTest::addColumn<QString>("logged");
        const QString deb822 = "Types: deb\nURIs: http://a.example.org\nSuites: s\nComponents: main\n";
        QTest::newRow("recorded deb822 file")
            << "debian.sources"
            << QString::fromUtf8(TestHelpers::readFile(KIV_TEST_DATA_DIR "/recorded/debian.sources")) << true
            << "Result: 2 usable";
        QTest::newRow("local repository missing")
            << "local.list"
            << "deb http://deb.example.org/debian bookworm main\ndeb file:///srv/kiv-missing ./" << false
            << "local.list:2: the directory of \"file:///srv/kiv-missing\" does not exist";
        QTest::newRow("unknown scheme") << "sources.list"
                                        << "deb htp://deb.example.org bookworm main" << false
                                        << "sources.list:1: unsupported URI scheme \"htp\"";
        QTest::newRow("comments only") << "sources.list"
                                       << "# deb http://deb.example.org bookworm main\n"
                                       << false << "no enabled package source is configured";
        QTest::newRow("deb822 second paragraph broken")
            << "a.sources"
            << deb822 + "\nTypes: deb\nURIs: ftp://b.example.org gopher://c.example.org\nSuites: s\n"
            << false << "a.sources:6: unsupported URI scheme \"gopher\"";
    }

    void judgesSourceFiles()
    {
        QFETCH(const QString, file);
        QFETCH(const QString, content);
        QFETCH(const bool, usable);
        QFETCH(const QString, logged);
        QTemporaryDir directory;
        const QString path = directory.filePath(file);
        TestHelpers::writeFile(path, (content + '\n').toUtf8());
        const QString logPath = directory.filePath("checks.log");
        UpdateValidatorManager validator(std::make_shared<Logger>(logPath, 0), {path});
        QCOMPARE(validator.check(), usable);
        const QString written = QString::fromUtf8(TestHelpers::readFile(logPath));
        QVERIFY2(written.contains(logged), qPrintable(written));
    }
};

QTEST_GUILESS_MAIN(ValidatorTest)
#include "tst_validator.moc"
