#pragma once

#include "childrun.h"

class RunLog;

// While dpkg may change the system, logind holds a shutdown and sleep off ("block" mode): a
// desktop's power-off waits and says why. Taken through systemd-inhibit, which holds it for as
// long as its command runs: a command that ends when the tool closes its input, or dies.
class ShutdownInhibitor final
{
public:
    // Without logind (a container, another init) the update goes on; the log says so.
    explicit ShutdownInhibitor(const RunLog& log);
    ~ShutdownInhibitor();
    ShutdownInhibitor(const ShutdownInhibitor&) = delete;
    ShutdownInhibitor& operator=(const ShutdownInhibitor&) = delete;

private:
    ChildProcess m_holder {true};
};
