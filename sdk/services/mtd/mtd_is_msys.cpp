#include "services/mtd/vexa_mtd.h"

#include <sys/syscall.h>
#include <unistd.h>

extern "C" int VEXAMTDIsMSys(void)
{
    int flags = 0;
    long rc = syscall(VEXA_SYS_IS_MSYS, &flags);
    return (rc == 0 && (flags & VEXA_IS_MSYS_BIT)) ? 1 : 0;
}
