#include "platform/platform.h"

#include "platform/linuxplatform.h"
#include "platform/macplatform.h"

Platform &Platform::current()
{
#ifdef Q_OS_MACOS
    static MacPlatform side;
#else
    static LinuxPlatform side;
#endif
    return side;
}
