// "code id", one line for each exit code the updater has a result id for.
#include <cstdio>

#include "updt_driver.h"

int main()
{
    for (int code = 0; code < UPDT_RESULT_IDS; ++code)
        std::printf("%d %s\n", code, gResultIds[code]);
    return 0;
}
