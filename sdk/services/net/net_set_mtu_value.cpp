#include <unistd.h>

#include "services/net/net_internal.h"

extern "C" int VEXANetSetMTUValue(const char *szMtu, const char *szIfName)
{
    if (szMtu == nullptr || szIfName == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    int result = 0;
    VEXAETHINFO info{};
    info.speed = 0;
    if (VEXANetGetEthInfo(&info, szIfName) < 0) {
        VRAL_LOG_ERR("Can not get EthInfo(%X).", VRALErrGet());
        info.speed = 100;
        result = -1;
    }
    // only a gigabit link changes on the interface itself
    if (info.speed == 1000) {
        if (VEXANetSetMTUEth(szMtu, szIfName) < 0) {
            VRAL_LOG_ERR("Failed to ifconfig MTU Value(0x%04X)", VRALErrGet());
            result = -1;
        }
        sleep(5);
    }
    if (VEXANetConfSetMTUValue(szMtu, szIfName) < 0) {
        VRAL_LOG_ERR("Failed to ifconfig MTU Value(0x%04X)", VRALErrGet());
        return -1;
    }
    return result;
}
