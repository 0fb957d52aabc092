#pragma once

#include <QString>
#include <QStringList>

// Every run leaves its arguments, sources and result in /var/log/norvo-update/norvo-update.log,
// one line per event, each with the time and the process id. The file is root's, readable by the
// group adm at most; what is noted carries no password.
class RunLog final
{
public:
    explicit RunLog(const QStringList& arguments);
    void note(const QString& event) const;

    static QString path();
};
