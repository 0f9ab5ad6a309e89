#include <cstdlib>

#include "base/string/vral_string.h"

extern "C" void *VRALReallocOrFree(void *pBlock, size_t cbSize)
{
    if (cbSize == 0) {
        free(pBlock);
        return nullptr;
    }
    if (pBlock == nullptr)
        return malloc(cbSize);
    void *pNew = realloc(pBlock, cbSize);
    if (pNew == nullptr)
        free(pBlock);
    return pNew;
}
