#include <linux/ethtool.h>
#include <linux/sockios.h>

#include <cerrno>

#include "services/net/net_internal.h"

extern "C" int VEXANetGetEthInfo(VEXAETHINFO *pInfo, const char *szIfName)
{
    if (pInfo == nullptr || szIfName == nullptr || !vexa::net::fitsRequest(szIfName)) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    struct ethtool_cmd cmd {};
    cmd.cmd = ETHTOOL_GSET;
    struct ifreq ifr;
    vexa::net::requestFor(ifr, szIfName);
    ifr.ifr_data = reinterpret_cast<char *>(&cmd);
    switch (vexa::net::interfaceRequest(SIOCETHTOOL, ifr)) {
    case vexa::net::Request::NoSocket:
        return -1;
    case vexa::net::Request::Failed:
        // no ethtool support leaves speed and duplex as the caller set them
        if (errno != EOPNOTSUPP)
            return -1;
        break;
    case vexa::net::Request::Done:
        switch (cmd.speed) {
        case 10:
        case 100:
        case 1000:
            pInfo->speed = cmd.speed;
            break;
        default:
            pInfo->speed = -1;
        }
        pInfo->duplex = cmd.duplex == DUPLEX_HALF ? 0 : cmd.duplex == DUPLEX_FULL ? 1 : -1;
        break;
    }

    const int mtu = VEXANetGetMTUSetting(szIfName);
    if (mtu <= 0) {
        pInfo->mtu = -1;
        return -1;
    }
    pInfo->mtu = mtu;
    return 0;
}
