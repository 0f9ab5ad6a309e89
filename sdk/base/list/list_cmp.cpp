#include <cstring>

#include "base/list/list_internal.h"

extern "C" int VRALSzListCmp(const void *pA, const void *pB)
{
    return strcmp(*static_cast<const char *const *>(pA), *static_cast<const char *const *>(pB));
}

extern "C" int VRALSzListCaseCmp(const void *pA, const void *pB)
{
    vral::list::CaseOrder order(*static_cast<const char *const *>(pA));
    return order.compare(*static_cast<const char *const *>(pB));
}
