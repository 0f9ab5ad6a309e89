/* Network interface MTU and link information. */
#ifndef VEXA_NET_H
#define VEXA_NET_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct _tag_VEXAETHINFO {
    int speed;   /* 10, 100, 1000; -1 other */
    int duplex;  /* 0 half, 1 full; -1 other */
    int mtu;     /* -1 when it could not be read */
} VEXAETHINFO;

int VEXANetSetMTUValue(const char *szMtu, const char *szIfName);
int VEXANetConfSetMTUValue(const char *szMtu, const char *szIfName);
int VEXANetSetMTUEth(const char *szMtu, const char *szIfName);
int VEXANetGetEthInfo(VEXAETHINFO *pInfo, const char *szIfName);
int VEXANetGetMTUSetting(const char *szIfName);

#ifdef __cplusplus
}
#endif

#endif
