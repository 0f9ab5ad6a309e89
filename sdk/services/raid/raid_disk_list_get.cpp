#include <glob.h>

#include <cstdio>

#include "services/raid/raid_internal.h"

extern "C" int VEXARaidDiskListGet(const char *szPath, VEXARAIDDISK **ppList)
{
    if (szPath == nullptr || ppList == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    const int md = vexa::raid::mdNumberOf(szPath);
    if (md < 0) {
        VRAL_LOG(LOG_DEBUG, "invalide path %s, errno=%m", szPath);
        VRAL_ERR_SET(ERR_BAD_MD_PATH);
        return -1;
    }
    char pattern[64];
    snprintf(pattern, sizeof pattern, "/sys/block/md%d/md/dev-*", md);

    glob_t g{};
    const int rc = glob(pattern, 0, nullptr, &g);
    if (rc == GLOB_NOMATCH) {
        globfree(&g);
        return 0;
    }
    if (rc != 0) {
        VRAL_LOG(LOG_DEBUG, "failed to glob '%s', errno=%m", pattern);
        VRAL_ERR_SET(ERR_CONVERSION_FAILED);
        globfree(&g);
        return -1;
    }
    VEXARAIDDISK *head = nullptr;
    for (size_t i = 0; i < g.gl_pathc; ++i) {
        VEXARAIDDISK *disk = nullptr;
        if (VEXARaidDiskCreate(g.gl_pathv[i], &disk) < 0) {
            VRAL_LOG(LOG_DEBUG, "Failed to create disk info from %s ,errno=0X%X", g.gl_pathv[i], VRALErrGet());
            VEXARaidDiskListFree(head);
            globfree(&g);
            return -1;
        }
        VEXARaidDiskListPush(&head, disk);
    }
    globfree(&g);
    *ppList = head;
    return 0;
}
