// The member list: push and free.
#include <cstdlib>

#include "services/raid/raid_internal.h"

extern "C" void VEXARaidDiskListPush(VEXARAIDDISK **ppList, VEXARAIDDISK *pDisk)
{
    if (ppList == nullptr || pDisk == nullptr) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return;
    }
    pDisk->next = *ppList;
    *ppList = pDisk;
}

extern "C" void VEXARaidDiskListFree(VEXARAIDDISK *pList)
{
    while (pList != nullptr) {
        VEXARAIDDISK *next = pList->next;
        free(pList);
        pList = next;
    }
}
