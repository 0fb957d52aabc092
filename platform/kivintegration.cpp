#include "kivintegration.h"

#include <memory>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace {

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

QString kivAppDescription()
{
    return QGuiApplication::applicationDisplayName();
}
