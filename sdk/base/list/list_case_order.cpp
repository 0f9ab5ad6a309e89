#include <cstring>

#include "base/list/list_internal.h"
#include "base/unicode/vral_unicode.h"

namespace vral::list {

CaseOrder::CaseOrder(const char *sz) : sz_(sz), pColl_(VRALUnicodeOpenCollator())
{
    if (pColl_ != nullptr)
        fValid_ = key_.set(sz) >= 0;
}

int CaseOrder::compare(const char *szItem)
{
    if (pColl_ == nullptr || (!fValid_ && !key_.refused()))
        return -2;
    bool fItemValid = item_.set(szItem) >= 0;
    if (!fItemValid && !item_.refused())
        return -2;
    if (fValid_ && fItemValid)
        return vral::unicode::collate(pColl_, key_, item_);
    if (fValid_ != fItemValid)
        return fValid_ ? -1 : 1;
    int r = strcmp(sz_, szItem);
    return (r > 0) - (r < 0);
}

}  // namespace vral::list
