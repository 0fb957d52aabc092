#pragma once

#include <QString>
#include <QStringList>

// Every run leaves its arguments, sources and result in /var/log/norvo-update/norvo-update.log,
// one line per event, each with the time and the process id.
class RunLog final
{
public:
    explicit RunLog(const QStringList& arguments);
    void note(const QString& event) const;

    static QString path();
};
