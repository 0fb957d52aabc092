#include <memory>

#include <QDir>
#include <QFile>
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
    void judgesSourceFiles_data();
    void judgesSourceFiles();
    void thisMachinesSourcesAreUsable();
};

void ValidatorTest::judgesSourceFiles_data()
{
    QTest::addColumn<QString>("file"); // "(missing)..." is not written
    QTest::addColumn<QString>("content");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("logged");
    const auto row
        = [](const char* name, const QString& file, const QString& content, bool valid, const char* logged) {
              QTest::newRow(name) << file << content << valid << QString(logged);
          };

    const QString signedBy = "Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg\n";
    const QString debianSources
        = QString::fromUtf8(TestHelpers::readFile(QFINDTESTDATA("testdata/debian.sources")));

    row("recorded deb822 file", "debian.sources", debianSources, true, "Result: 2 usable");
    row("one-line entry with options", "sources.list",
        "# main archive\ndeb [arch=amd64 signed-by=/k.gpg] http://deb.example.org/debian bookworm main contrib\n",
        true, "Result: 1 usable");
    row("options with separated brackets", "sources.list",
        "deb [ arch=amd64 ] https://deb.example.org/debian bookworm main\n", true, "Result: 1 usable");
    row("local repository that exists", "local.list", "deb file:{DIR} ./\n", true, "Result: 1 usable");
    row("local repository missing", "local.list",
        "deb http://deb.example.org/debian bookworm main\ndeb file:///srv/kiv-missing ./\n", false,
        "local.list:2: the directory of \"file:///srv/kiv-missing\" does not exist");
    row("disc whose mount point is missing", "sources.list", "deb cdrom:[Norvo Disc 1]/ bookworm main\n",
        false, "sources.list:1: the directory of \"cdrom:[Norvo Disc 1]/\" does not exist");
    row("unknown scheme", "sources.list", "deb htp://deb.example.org bookworm main\n", false,
        "sources.list:1: unsupported URI scheme \"htp\"");
    row("not a URI", "sources.list", "deb deb.example.org bookworm main\n", false,
        "sources.list:1: \"deb.example.org\" is not a URI");
    row("network address without host", "sources.list", "deb http: bookworm main\n", false, "names no host");
    row("suite without component", "sources.list", "\n\ndeb http://deb.example.org bookworm\n", false,
        "sources.list:3: suite \"bookworm\" needs at least one component");
    row("exact path with component", "sources.list", "deb http://deb.example.org ./ main\n", false,
        "is an exact path and takes no components");
    row("unclosed option list", "sources.list", "deb [arch=amd64 http://deb.example.org bookworm main\n",
        false, "sources.list:1: the option list has no closing \"]\"");
    row("malformed option", "sources.list", "deb [arch] http://deb.example.org bookworm main\n", false,
        "malformed option \"arch\"");
    row("unknown type", "sources.list", "dbe http://deb.example.org bookworm main\n", false,
        "unknown type \"dbe\"");
    row("type alone", "sources.list", "deb\n", false, "needs a URI and a suite");
    row("comments only", "sources.list", "# deb http://deb.example.org bookworm main\n\n", false,
        "no enabled package source is configured");
    row("deb822 disabled entry only", "a.sources",
        "Types: deb\nURIs: http://deb.example.org\nSuites: bookworm\nComponents: main\nEnabled: no\n", false,
        "no enabled package source is configured");
    row("deb822 without suites", "a.sources", "Types: deb\nURIs: http://deb.example.org\nComponents: main\n",
        false, "a.sources:1: an entry needs the fields Types, URIs and Suites");
    row("deb822 second paragraph broken", "a.sources",
        "Types: deb\nURIs: http://a.example.org\nSuites: s\nComponents: main\n\n"
        "Types: deb\nURIs: ftp://b.example.org gopher://c.example.org\nSuites: s\nComponents: main\n",
        false, "a.sources:6: unsupported URI scheme \"gopher\"");
    row("deb822 multi-line field", "a.sources",
        "Types: deb deb-src\nURIs: http://a.example.org\nSuites: s s-updates\nComponents: main\n"
        "Signed-By:\n -----BEGIN PGP PUBLIC KEY BLOCK-----\n .\n mQINBGP\n",
        true, "Result: 1 usable");
    row("deb822 line without colon", "a.sources",
        "Types: deb\nURIs http://a.example.org\nSuites: s\nComponents: main\n" + signedBy, false,
        "a.sources:2: a field line needs a name and a colon");
    row("unreadable file", "(missing).list", QString(), false, "cannot be read");
}

void ValidatorTest::judgesSourceFiles()
{
    QFETCH(QString, file);
    QFETCH(QString, content);
    QFETCH(bool, valid);
    QFETCH(QString, logged);

    QTemporaryDir directory;
    QVERIFY(QDir(directory.path()).mkdir("repository"));
    const QString path = directory.filePath(file);
    if (!file.startsWith("(missing)"))
        TestHelpers::writeFile(
            path, QString(content).replace("{DIR}", directory.filePath("repository")).toUtf8());
    const QString logPath = directory.filePath("checks.log");
    UpdateValidatorManager validator(std::make_shared<Logger>(logPath, 0), {path});
    QCOMPARE(validator.check(), valid);
    const QString written = QString::fromUtf8(TestHelpers::readFile(logPath));
    QVERIFY2(written.contains(logged), qPrintable(written));
}

void ValidatorTest::thisMachinesSourcesAreUsable()
{
    QTemporaryDir directory;
    UpdateValidatorManager validator(std::make_shared<Logger>(directory.filePath("checks.log"), 0), {});
    QVERIFY(!UpdateValidatorManager::systemSourceFiles().isEmpty());
    QVERIFY(validator.check());
}

QTEST_GUILESS_MAIN(ValidatorTest)
#include "tst_validator.moc"
