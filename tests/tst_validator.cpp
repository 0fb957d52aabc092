#include <memory>

#include <QDir>
#include <QFile>
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
    void judgesSourceFiles_data();
    void judgesSourceFiles();
    void thisMachinesSourcesAreUsable();
};

void ValidatorTest::judgesSourceFiles_data()
{
    addRows("source-files.txt", {"file", "line", "recorded", "usable", "logged"});
}

void ValidatorTest::judgesSourceFiles()
{
    QFETCH(QStringList, file);
    QFETCH(QStringList, line);
    QFETCH(QStringList, recorded);
    QFETCH(QStringList, usable);
    QFETCH(QStringList, logged);

    QTemporaryDir directory;
    QVERIFY(QDir(directory.path()).mkdir("repository"));
    const QString path = directory.filePath(file.value(0));
    const QByteArray content = recorded.isEmpty()
        ? QString(line.join('\n') + '\n').replace("{DIR}", directory.filePath("repository")).toUtf8()
        : TestHelpers::readFile(KIV_TEST_DATA_DIR "/" + recorded.value(0));
    if (!path.contains("(missing)"))
        TestHelpers::writeFile(path, content);
    const QString logPath = directory.filePath("checks.log");
    UpdateValidatorManager validator(std::make_shared<Logger>(logPath, 0), {path});
    QCOMPARE(validator.check(), usable == QStringList {"yes"});
    const QString written = QString::fromUtf8(TestHelpers::readFile(logPath));
    QVERIFY2(written.contains(logged.value(0)), qPrintable(written));
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
