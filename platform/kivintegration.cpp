#include "kivintegration.h"

#include <memory>

#include <QApplication>
#include <QFile>
#include <QIcon>
#include <QKeySequence>
#include <QLibraryInfo>
#include <QLocale>
#include <QPointer>
#include <QRect>
#include <QSettings>
#include <QShortcut>
#include <QTextBrowser>
#include <QTranslator>
#include <QVBoxLayout>
#include <QWidget>

// Resources of a static library are registered only on request.
static void initPlatformResources()
{
    Q_INIT_RESOURCE(platform);
}

namespace {

QString geometryKey(const QWidget* widget)
{
    return QStringLiteral("Geometry/") + widget->objectName();
}

// The help page in the user's language when it has been translated, otherwise in English.
QString helpPagePath()
{
    const QString localized
        = QStringLiteral(":/help/help_%1.html").arg(QLocale().name().section(QLatin1Char('_'), 0, 0));
    return QFile::exists(localized) ? localized : QStringLiteral(":/help/help.html");
}

class HelpWindow final : public QWidget
{
public:
    HelpWindow()
        : m_browser(new QTextBrowser(this))
    {
        setObjectName(QStringLiteral("HelpWindow"));
        setAttribute(Qt::WA_DeleteOnClose);
        setWindowTitle(QApplication::translate("QObject", "%1 help").arg(kivAppDescription()));
        m_browser->setObjectName(QStringLiteral("HelpBrowser"));
        m_browser->setOpenExternalLinks(false);
        m_browser->setSource(QUrl(QStringLiteral("qrc") + helpPagePath()));
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(m_browser);
        new QShortcut(QKeySequence(Qt::Key_Escape), this, this, &QWidget::close);
        resize(640, 560);
    }

    void showTopic(const QString& topic)
    {
        if (topic.isEmpty())
            m_browser->home();
        else
            m_browser->scrollToAnchor(topic);
    }

private:
    QTextBrowser* m_browser;
};

// Installs the translation called name for the user's language from the first of the
// directories that has one.
void installTranslation(const QString& name, const QStringList& directories)
{
    auto translator = std::make_unique<QTranslator>(QCoreApplication::instance());
    for (const QString& directory : directories) {
        if (translator->load(QLocale(), name, QStringLiteral("_"), directory)) {
            QCoreApplication::installTranslator(translator.release());
            return;
        }
    }
}

// Qt's own texts (standard buttons, file dialogs) and the program's, in the user's language.
void installTranslators()
{
    installTranslation(QStringLiteral("qtbase"), {QLibraryInfo::location(QLibraryInfo::TranslationsPath)});
    // Beside the build tree's programs first, so that a development build never takes an
    // installed package's older texts.
    installTranslation(QStringLiteral("kiv-norvo-update"),
        {QCoreApplication::applicationDirPath() + QStringLiteral("/../translations"),
            QStringLiteral(KIV_TRANSLATIONS_DIR)});
}

} // namespace

void kivInit(const char* version, const char* displayName)
{
    QCoreApplication::setApplicationVersion(QString::fromUtf8(version));
    QCoreApplication::setOrganizationName(QStringLiteral("kiv"));
    QGuiApplication::setApplicationDisplayName(QString::fromUtf8(displayName));
    installTranslators();
    // Outside a desktop session (started by pkexec, or on a bare X server) no icon theme is
    // chosen; the desktop's default theme still has the icons the program names.
    if (QIcon::themeName().isEmpty() || QIcon::themeName() == QLatin1String("hicolor"))
        QIcon::setThemeName(QStringLiteral("Adwaita"));
}

void kivHelpShow(const QString& topic)
{
    // One help window for the whole program: asking again brings it forward.
    static QPointer<HelpWindow> window;
    if (!window) {
        initPlatformResources();
        window = new HelpWindow;
    }
    window->showTopic(topic);
    window->show();
    window->raise();
    window->activateWindow();
}

void kivSaveGeometry(const QWidget* widget, QSettings* settings, bool withPosition)
{
    if (withPosition)
        settings->setValue(geometryKey(widget), widget->saveGeometry());
    else
        settings->setValue(geometryKey(widget) + QStringLiteral("Size"), widget->size());
}

void kivRestoreGeometry(QWidget* widget, QSettings* settings, const QRect& defaultGeometry, bool withPosition)
{
    const QString key = withPosition ? geometryKey(widget) : geometryKey(widget) + QStringLiteral("Size");
    const QVariant stored = settings->value(key);
    bool restored = false;
    if (stored.isValid()) {
        if (withPosition) {
            restored = widget->restoreGeometry(stored.toByteArray());
        } else if (stored.toSize().isValid()) {
            widget->resize(stored.toSize());
            restored = true;
        }
    }
    if (!restored && defaultGeometry.isValid())
        widget->setGeometry(defaultGeometry);
}

QString kivAppDescription()
{
    return QGuiApplication::applicationDisplayName();
}
