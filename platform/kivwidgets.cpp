#include "kivwidgets.h"

#include <QApplication>
#include <QFile>
#include <QKeySequence>
#include <QLocale>
#include <QPointer>
#include <QRect>
#include <QSettings>
#include <QShortcut>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <QWidget>

#include "kivintegration.h"

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

} // namespace

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
