#pragma once

// The mandatory integrity level of the calling process.
class MICDetect final
{
public:
    // True when the process runs at the highest integrity level of its session. A kernel
    // without mandatory integrity control (every stock Debian kernel) has a single level,
    // so there every process runs at the highest one.
    static bool isCurrentProcessHasMaxMIC();
};
