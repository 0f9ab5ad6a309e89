// Heap copy of a string for the splitters, freed on scope exit, and the
// splitting loop they share.
#ifndef VRAL_STRING_DUP_H
#define VRAL_STRING_DUP_H

#include <cstring>

#include "base/err/vral_err.h"
#include "base/list/vral_list.h"
#include "base/string/heap_ptr.h"

namespace vral::string {

using Dup = HeapPtr<char>;

inline Dup dup(const char *sz)
{
    return Dup(strdup(sz));
}

// The splitters' prelude: with fArgsOk, szStr and a list behind ppList, a
// heap copy of szStr to cut up.  An empty result means failure, recorded
// (ERR_BAD_PARAMETERS or ERR_OUT_OF_MEMORY).
inline Dup splitCopy(const char *szStr, VRALSzList **ppList, bool fArgsOk = true)
{
    if (!fArgsOk || szStr == nullptr || ppList == nullptr || *ppList == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return Dup();
    }
    Dup copy = dup(szStr);
    if (!copy)
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
    return copy;
}

// Pushes every token that next(&cursor) yields from the copy until it gives
// NULL; the number pushed, or -1 at the first failed push (tokens pushed
// before it stay).
template <typename Next>
int pushTokens(char *cursor, VRALSzList **ppList, Next next)
{
    int n = 0;
    for (char *tok = next(&cursor); tok != nullptr; tok = next(&cursor)) {
        if (VRALSzListPush(ppList, tok) < 0)
            return -1;
        ++n;
    }
    return n;
}

}  // namespace vral::string

#endif
