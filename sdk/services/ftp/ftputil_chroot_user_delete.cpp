#include "base/err/err_guard.h"
#include "services/ftp/ftp_internal.h"

extern "C" int VEXAFTPDeleteChrootUser(VRALSzList *pNames)
{
    if (pNames == nullptr)
        return -1;
    return vral::NoThrow(-1, [&] { return vexaftp::chrootRewrite(pNames, nullptr, "VEXAFTPDeleteChrootUser"); });
}
