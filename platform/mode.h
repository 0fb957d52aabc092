#pragma once

#include <QString>

namespace KivAdmin {

// The security level the system was installed with.
class Mode final
{
public:
    enum class SecurityLevel
    {
        Base,
        Advanced,
        Maximum
    };

    // The configuration file that holds the level: a whole number on its first line.
    static const char* const configurationPath;

    // 1 for the advanced level, 2 for the maximum level, anything else for the base level;
    // 0 when the file is absent, unreadable or holds no number.
    static int getCurrentMode();
    static int readMode(const QString& path);
    // The level getCurrentMode() stands for.
    static SecurityLevel currentLevel();
    static SecurityLevel levelOf(int mode);
};

} // namespace KivAdmin
