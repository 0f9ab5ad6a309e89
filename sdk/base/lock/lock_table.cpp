// The process-wide lock table, in lock order.
#include "base/lock/vral_lock.h"

extern "C" {

VRALLockFile gLockFileTable[LOCK_FILE_COUNT + 1] = {
    {nullptr, LOCK_DIR "lock_vexainfo", LOCK_ID_VEXAINFO, 0, 0},
    {nullptr, LOCK_DIR "lock_pw", LOCK_ID_PW, 0, 0},
    {nullptr, LOCK_DIR "lock_gr", LOCK_ID_GR, 0, 0},
    {nullptr, LOCK_DIR "lock_rc", LOCK_ID_RC, 0, 0},
    {nullptr, LOCK_DIR "lock_host", LOCK_ID_HOST, 0, 0},
    {nullptr, LOCK_DIR "lock_smb", LOCK_ID_SMB, 0, 0},
    {nullptr, LOCK_DIR "lock_exports", LOCK_ID_EXPORTS, 0, 0},
    {nullptr, LOCK_DIR "lock_nw", LOCK_ID_NW, 0, 0},
    {nullptr, LOCK_DIR "lock_apple", LOCK_ID_APPLE, 0, 0},
    {nullptr, LOCK_DIR "lock_snmp", LOCK_ID_SNMP, 0, 0},
    {nullptr, LOCK_DIR "lock_win", LOCK_ID_WIN, 0, 0},
    {nullptr, LOCK_DIR "lock_tapebkp", LOCK_ID_TAPEBKP, 0, 0},
    {nullptr, LOCK_DIR "lock_connect", LOCK_ID_CONNECT, 0, 0},
    {nullptr, LOCK_DIR "lock_usbidmap", LOCK_ID_USBIDMAP, 0, 0},
    {nullptr, LOCK_DIR "lock_duseruid", LOCK_ID_DUSERUID, 0, 0},
    {nullptr, LOCK_DIR "lock_dusergid", LOCK_ID_DUSERGID, 0, 0},
    {nullptr, LOCK_DIR "lock_fstab", LOCK_ID_FSTAB, 0, 0},
    {nullptr, LOCK_DIR "lock_hotswap", LOCK_ID_HOTSWAP, 0, 0},
    {nullptr, "", 0, 0, 0},
};

}
