#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include "fakeexecutables.h"
#include "kivintegration.h"
#include "mainwindow.h"
#include "sourcedialog.h"
#include "testhelpers.h"

namespace {

// Texts of the widgets a user sees: labels, buttons, group titles, placeholders, tooltips.
QStringList visibleTexts(QWidget* top)
{
    QStringList texts {top->windowTitle()};
    const QList<QWidget*> widgets = top->findChildren<QWidget*>();
    for (QWidget* widget : widgets) {
        for (const char* property : {"toolTip", "text", "title", "placeholderText"})
            texts << (widget->isVisibleTo(top) ? widget->property(property).toString() : QString());
    }
    return texts;
}

} // namespace

// The windows in Russian: started with LANG=ru_RU.UTF-8 (set by CTest), they show no English
// text. Runs in the sandbox, like the other window tests.
class TranslationTest final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        REQUIRE_SANDBOX();
        TestHelpers::prepareWindowTests(m_fakes, m_config);
        m_fakes.addDirectives(TestHelpers::ordinaryMachine);
        QCOMPARE(QLocale().name(), QStringLiteral("ru_RU"));
    }

    void windowsShowNoEnglishText()
    {
        // The simple mode names its buttons differently; the expert mode shows every other control.
        QStringList texts = visibleTexts(TestHelpers::makeWindow({{"ExpertMode", false}}).get());
        auto window = TestHelpers::makeWindow(
            {{"ExpertMode", true}, {"Sources", QStringList {QStringLiteral("/srv/a.iso")}}});
        texts << visibleTexts(window.get());

        // The launch question, with Qt's own buttons.
        auto* update = TestHelpers::child<QPushButton>(window.get(), "m_updatePushButton");
        const QStringList box = TestHelpers::answerBox("Нет", [update] { update->click(); });
        QVERIFY2(box.contains("Нет"), qPrintable(box.join(" | ")));
        texts << box;

        SourceDialog dialog(window.get());
        dialog.show();
        texts << visibleTexts(&dialog);

        // Left in English: Latin letters and no Cyrillic ones. The program's name stays as it is,
        // and so does OK, which Qt's own Russian translation keeps.
        QStringList english = texts.filter(QRegularExpression("^[^А-Яа-яЁё]*[A-Za-z][^А-Яа-яЁё]*$"));
        english.removeAll(kivAppDescription());
        english.removeAll("OK");
        QVERIFY2(english.isEmpty(), qPrintable(english.join(QStringLiteral(" | "))));
    }

private:
    FakeExecutables m_fakes;
    QTemporaryDir m_config;
};

QTEST_MAIN(TranslationTest)
#include "tst_translation.moc"
