// Removes a file; nothing is recorded.
#include <unistd.h>

#include "base/file/vral_file.h"

extern "C" int VRALFileUnlink(const char *szFile)
{
    if (szFile == nullptr)
        return -1;
    return unlink(szFile);
}
