#include <memory>

#include <QDir>
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
        QTest::addColumn<QString>("file"); // "(missing)..." is not written
        QTest::addColumn<QString>("content"); // {DIR}: a repository folder that exists
        QTest::addColumn<bool>("usable");
        QTest::addColumn<QString>("logged");
        const QString deb822 = "Types: deb\nURIs: http://a.example.org\nSuites: s\nComponents: main\n";
        QTest::newRow("recorded deb822 file")
            << "debian.sources"
            << QString::fromUtf8(TestHelpers::readFile(KIV_TEST_DATA_DIR "/recorded/debian.sources")) << true
            << "Result: 2 usable";
        QTest::newRow("one-line entry with options")
            << "sources.list"
            << "# main archive\ndeb [arch=amd64 signed-by=/k.gpg] http://deb.example.org/debian bookworm main contrib"
            << true << "Result: 1 usable";
        QTest::newRow("local repository that exists") << "local.list"
                                                      << "deb file:{DIR} ./" << true << "Result: 1 usable";
        QTest::newRow("local repository missing")
            << "local.list"
            << "deb http://deb.example.org/debian bookworm main\ndeb file:///srv/kiv-missing ./" << false
            << "local.list:2: the directory of \"file:///srv/kiv-missing\" does not exist";
        QTest::newRow("disc whose mount point is missing")
            << "sources.list"
            << "deb cdrom:[Norvo Disc 1]/ bookworm main" << false
            << "sources.list:1: the directory of \"cdrom:[Norvo Disc 1]/\" does not exist";
        QTest::newRow("unknown scheme") << "sources.list"
                                        << "deb htp://deb.example.org bookworm main" << false
                                        << "sources.list:1: unsupported URI scheme \"htp\"";
        QTest::newRow("network address without host")
            << "sources.list"
            << "deb http: bookworm main" << false << "names no host";
        QTest::newRow("suite without component")
            << "sources.list"
            << "\n\ndeb http://deb.example.org bookworm" << false
            << "sources.list:3: suite \"bookworm\" needs at least one component";
        QTest::newRow("unclosed option list")
            << "sources.list"
            << "deb [arch=amd64 http://deb.example.org bookworm main" << false
            << "sources.list:1: the option list has no closing \"]\"";
        QTest::newRow("unknown type")
            << "sources.list"
            << "dbe http://deb.example.org bookworm main" << false << "unknown type \"dbe\"";
        QTest::newRow("comments only") << "sources.list"
                                       << "# deb http://deb.example.org bookworm main\n"
                                       << false << "no enabled package source is configured";
        QTest::newRow("deb822 disabled entry only")
            << "a.sources" << deb822 + "Enabled: no" << false << "no enabled package source is configured";
        QTest::newRow("deb822 without suites")
            << "a.sources"
            << "Types: deb\nURIs: http://deb.example.org\nComponents: main" << false
            << "a.sources:1: an entry needs the fields Types, URIs and Suites";
        QTest::newRow("deb822 second paragraph broken")
            << "a.sources"
            << deb822 + "\nTypes: deb\nURIs: ftp://b.example.org gopher://c.example.org\nSuites: s\n"
            << false << "a.sources:6: unsupported URI scheme \"gopher\"";
        QTest::newRow("deb822 multi-line field")
            << "a.sources"
            << "Types: deb deb-src\nURIs: http://a.example.org\nSuites: s s-updates\nComponents: main\nSigned-By:\n"
               " -----BEGIN PGP PUBLIC KEY BLOCK-----\n .\n mQINBGP"
            << true << "Result: 1 usable";
        QTest::newRow("unreadable file") << "(missing).list"
                                         << "" << false << "cannot be read";
    }

    void judgesSourceFiles()
    {
        QFETCH(const QString, file);
        QFETCH(const QString, content);
        QFETCH(const bool, usable);
        QFETCH(const QString, logged);
        QTemporaryDir directory;
        QVERIFY(QDir(directory.path()).mkdir("repository"));
        const QString path = directory.filePath(file);
        if (!file.contains("(missing)"))
            TestHelpers::writeFile(
                path, QString(content + '\n').replace("{DIR}", directory.filePath("repository")).toUtf8());
        const QString logPath = directory.filePath("checks.log");
        UpdateValidatorManager validator(std::make_shared<Logger>(logPath, 0), {path});
        QCOMPARE(validator.check(), usable);
        const QString written = QString::fromUtf8(TestHelpers::readFile(logPath));
        QVERIFY2(written.contains(logged), qPrintable(written));
    }
};

QTEST_GUILESS_MAIN(ValidatorTest)
#include "tst_validator.moc"
