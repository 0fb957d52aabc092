#include <memory>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "logger.h"
#include "updatevalidatormanager.h"

using SourceFiles = QMap<QString, QString>;

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
    QTest::addColumn<SourceFiles>("files");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("logged");

    const QString signedBy = QStringLiteral("Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg\n");
    QFile recorded(QFINDTESTDATA("testdata/debian.sources"));
    recorded.open(QIODevice::ReadOnly);
    const QString debianSources = QString::fromUtf8(recorded.readAll());

    QTest::newRow("recorded deb822 file")
        << SourceFiles {{"debian.sources", debianSources}} << true << "Result: 2 usable";
    QTest::newRow("one-line entry with options") << SourceFiles {{"sources.list",
        "# main archive\ndeb [arch=amd64 signed-by=/k.gpg] http://deb.example.org/debian bookworm main contrib\n"}}
                                                 << true << "Result: 1 usable";
    QTest::newRow("options with separated brackets")
        << SourceFiles {{"sources.list", "deb [ arch=amd64 ] https://deb.example.org/debian bookworm main\n"}}
        << true << "Result: 1 usable";
    QTest::newRow("local repository that exists")
        << SourceFiles {{"local.list", "deb file:{DIR} ./\n"}} << true << "Result: 1 usable";
    QTest::newRow("local repository missing")
        << SourceFiles {{"local.list",
               "deb http://deb.example.org/debian bookworm main\ndeb file:///srv/kiv-missing ./\n"}}
        << false << "local.list:2: the directory of \"file:///srv/kiv-missing\" does not exist";
    QTest::newRow("disc whose mount point is missing")
        << SourceFiles {{"sources.list", "deb cdrom:[Norvo Disc 1]/ bookworm main\n"}} << false
        << "sources.list:1: the directory of \"cdrom:[Norvo Disc 1]/\" does not exist";
    QTest::newRow("unknown scheme") << SourceFiles {{"sources.list",
        "deb htp://deb.example.org bookworm main\n"}}
                                    << false << "sources.list:1: unsupported URI scheme \"htp\"";
    QTest::newRow("not a URI") << SourceFiles {{"sources.list", "deb deb.example.org bookworm main\n"}}
                               << false << "sources.list:1: \"deb.example.org\" is not a URI";
    QTest::newRow("network address without host")
        << SourceFiles {{"sources.list", "deb http: bookworm main\n"}} << false << "names no host";
    QTest::newRow("suite without component")
        << SourceFiles {{"sources.list", "\n\ndeb http://deb.example.org bookworm\n"}} << false
        << "sources.list:3: suite \"bookworm\" needs at least one component";
    QTest::newRow("exact path with component")
        << SourceFiles {{"sources.list", "deb http://deb.example.org ./ main\n"}} << false
        << "is an exact path and takes no components";
    QTest::newRow("unclosed option list")
        << SourceFiles {{"sources.list", "deb [arch=amd64 http://deb.example.org bookworm main\n"}} << false
        << "sources.list:1: the option list has no closing \"]\"";
    QTest::newRow("malformed option")
        << SourceFiles {{"sources.list", "deb [arch] http://deb.example.org bookworm main\n"}} << false
        << "malformed option \"arch\"";
    QTest::newRow("unknown type") << SourceFiles {{"sources.list",
        "dbe http://deb.example.org bookworm main\n"}}
                                  << false << "unknown type \"dbe\"";
    QTest::newRow("type alone") << SourceFiles {{"sources.list", "deb\n"}} << false
                                << "needs a URI and a suite";
    QTest::newRow("comments only") << SourceFiles {{"sources.list",
        "# deb http://deb.example.org bookworm main\n\n"}}
                                   << false << "no enabled package source is configured";
    QTest::newRow("deb822 disabled entry only") << SourceFiles {{"a.sources",
        "Types: deb\nURIs: http://deb.example.org\nSuites: bookworm\nComponents: main\nEnabled: no\n"}}
                                                << false << "no enabled package source is configured";
    QTest::newRow("deb822 without suites")
        << SourceFiles {{"a.sources", "Types: deb\nURIs: http://deb.example.org\nComponents: main\n"}}
        << false << "a.sources:1: an entry needs the fields Types, URIs and Suites";
    QTest::newRow("deb822 second paragraph broken")
        << SourceFiles {{"a.sources",
               "Types: deb\nURIs: http://a.example.org\nSuites: s\nComponents: main\n\n"
               "Types: deb\nURIs: ftp://b.example.org gopher://c.example.org\nSuites: s\nComponents: main\n"}}
        << false << "a.sources:6: unsupported URI scheme \"gopher\"";
    QTest::newRow("deb822 multi-line field") << SourceFiles {{"a.sources",
        "Types: deb deb-src\nURIs: http://a.example.org\nSuites: s s-updates\nComponents: main\n"
        "Signed-By:\n -----BEGIN PGP PUBLIC KEY BLOCK-----\n .\n mQINBGP\n"}}
                                             << true << "Result: 1 usable";
    QTest::newRow("deb822 line without colon")
        << SourceFiles {{"a.sources",
               "Types: deb\nURIs http://a.example.org\nSuites: s\nComponents: main\n" + signedBy}}
        << false << "a.sources:2: a field line needs a name and a colon";
    QTest::newRow("unreadable file") << SourceFiles {{"(missing).list", QString()}} << false
                                     << "cannot be read";
}

void ValidatorTest::judgesSourceFiles()
{
    QFETCH(SourceFiles, files);
    QFETCH(bool, valid);
    QFETCH(QString, logged);

    QTemporaryDir directory;
    QVERIFY(QDir(directory.path()).mkdir(QStringLiteral("repository")));
    QStringList paths;
    for (auto file = files.cbegin(); file != files.cend(); ++file) {
        const QString path = directory.filePath(file.key());
        paths.append(path);
        if (file.key().startsWith(QLatin1String("(missing)")))
            continue;
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(QString(file.value())
                      .replace(QLatin1String("{DIR}"), directory.filePath(QStringLiteral("repository")))
                      .toUtf8());
    }
    const QString logPath = directory.filePath(QStringLiteral("checks.log"));
    UpdateValidatorManager validator(std::make_shared<Logger>(logPath, 0), paths);
    QCOMPARE(validator.check(), valid);

    QFile log(logPath);
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QString written = QString::fromUtf8(log.readAll());
    QVERIFY2(written.contains(logged), qPrintable(written));
}

void ValidatorTest::thisMachinesSourcesAreUsable()
{
    QTemporaryDir directory;
    UpdateValidatorManager validator(
        std::make_shared<Logger>(directory.filePath(QStringLiteral("checks.log")), 0), {});
    QVERIFY(!UpdateValidatorManager::systemSourceFiles().isEmpty());
    QVERIFY(validator.check());
}

QTEST_GUILESS_MAIN(ValidatorTest)
#include "tst_validator.moc"
