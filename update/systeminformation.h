#pragma once

#include <QCoreApplication>
#include <QString>

// The system information panel: release, security level and edition, the installed cumulative
// update, the free space on the root partition. It keeps the installed update's bulletin number
// from before a run, which tells the end of the run whether the update installed a new one.
class SystemInformation final
{
    // The panel's texts are the runner's, as they always were for the translations.
    Q_DECLARE_TR_FUNCTIONS(NorvoUpdate)

public:
    // The panel's text, read from the system now.
    QString text() const;
    // "Norvo Linux <release>" and "<level> security level, «<edition>»", each ending in a line break.
    static QString systemVersion();
    // "Update <version> installed (BULLETIN № <number>)" and a line break; null without the
    // installed-update file.
    static QString installedUpdateInfo();
    // The bulletin number in a system information text, null when there is none.
    static QString bulletinNumber(const QString& text);

    // Keeps the installed update's bulletin number as the one from before the run.
    void rememberBeforeRun();
    QString bulletinBeforeRun() const;

private:
    QString m_bulletinBeforeRun;
};
