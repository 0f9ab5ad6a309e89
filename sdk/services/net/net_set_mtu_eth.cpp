#include <cstdlib>

#include "services/net/net_internal.h"

extern "C" int VEXANetSetMTUEth(const char *szMtu, const char *szIfName)
{
    if (szMtu == nullptr || szIfName == nullptr || !vexa::net::fitsRequest(szIfName)) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    struct ifreq ifr;
    vexa::net::requestFor(ifr, szIfName);
    ifr.ifr_mtu = atoi(szMtu);
    if (vexa::net::interfaceRequest(SIOCSIFMTU, ifr) != vexa::net::Request::Done)
        return -1;
    return 0;
}
