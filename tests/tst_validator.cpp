#include <memory>

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include "logger.h"
#include "scenariotable.h"
#include "testfiles.h"
#include "updatevalidatormanager.h"

// The check of the system's package sources made before an update from them.
class ValidatorTest final : public QObject
{
    Q_OBJECT

private slots:
    void judgesSourceFiles_data()
    {
        addRows("source-files.txt", {"file", "line", "recorded", "usable", "logged"});
    }

    void judgesSourceFiles()
    {
        QFETCH(const Row, row);
        QTemporaryDir directory;
        QVERIFY(QDir(directory.path()).mkdir("repository"));
        const QString path = directory.filePath(row["file"].value(0));
        const QByteArray content = row.contains("recorded")
            ? TestHelpers::readFile(KIV_TEST_DATA_DIR "/" + row["recorded"].value(0))
            : QString(row["line"].join('\n') + '\n')
                  .replace("{DIR}", directory.filePath("repository"))
                  .toUtf8();
        if (!path.contains("(missing)"))
            TestHelpers::writeFile(path, content);
        const QString logPath = directory.filePath("checks.log");
        UpdateValidatorManager validator(std::make_shared<Logger>(logPath, 0), {path});
        QCOMPARE(validator.check(), row["usable"] == QStringList {"yes"});
        const QString written = QString::fromUtf8(TestHelpers::readFile(logPath));
        QVERIFY2(written.contains(row["logged"].value(0)), qPrintable(written));
    }
};

QTEST_GUILESS_MAIN(ValidatorTest)
#include "tst_validator.moc"
