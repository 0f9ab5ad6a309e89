#include "services/net/net_internal.h"

extern "C" int VEXANetGetMTUSetting(const char *szIfName)
{
    if (szIfName == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    if (!vexa::net::fitsRequest(szIfName)) {
        VRAL_LOG_ERR("interface name is too long");
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    struct ifreq ifr;
    vexa::net::requestFor(ifr, szIfName);
    switch (vexa::net::interfaceRequest(SIOCGIFMTU, ifr)) {
    case vexa::net::Request::NoSocket:
        return -1;
    case vexa::net::Request::Failed:
        return 0;
    case vexa::net::Request::Done:
        break;
    }
    return ifr.ifr_mtu;
}
