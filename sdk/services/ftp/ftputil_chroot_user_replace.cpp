#include "base/err/err_guard.h"
#include "services/ftp/ftp_internal.h"

extern "C" int VEXAFTPReplaceChrootUser(VRALSzList *pDelete, VRALSzList *pAdd)
{
    return vral::NoThrow(-1, [&] { return vexaftp::chrootRewrite(pDelete, pAdd, "VEXAFTPReplaceChrootUser"); });
}
