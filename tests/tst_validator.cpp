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
        QTest::newRow("recorded deb822 file")
            << "debian.sources"
            << QString::fromUtf8(TestHelpers::readFile(KIV_TEST_DATA_DIR "/recorded/debian.sources")) << true
            << "Result: 2 usable";
        QTest::newRow("deb822 second paragraph broken")
            << "a.sources"
            << "Types: deb\nURIs: http://a.example.org\nSuites: s\nComponents: main\n\n"
               "Types: deb\nURIs: ftp://b.example.org gopher://c.example.org\nSuites: s\n"
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
