#include <sys/ioctl.h>

#include "services/net/net_internal.h"

extern "C" int VEXANetGetMTUSetting(const char *szIfName)
{
    if (szIfName == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    if (!vexa::net::fitsRequest(szIfName)) {
        NET_LOG("interface name is too long");
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    vexa::net::Socket sock;
    if (sock.get() < 0)
        return -1;
    struct ifreq ifr;
    vexa::net::requestFor(ifr, szIfName);
    if (ioctl(sock.get(), SIOCGIFMTU, &ifr) < 0)
        return 0;
    return ifr.ifr_mtu;
}
