#include "micdetect.h"

bool MICDetect::isCurrentProcessHasMaxMIC()
{
    return true;
}
