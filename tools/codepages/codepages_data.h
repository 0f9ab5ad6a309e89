// Test side: where the built stand-ins of the platform's code-page
// converters lie, and pointing ICU at them.  Call useTestConverters()
// before the program's first ICU call (ICU reads ICU_DATA once).  ICU_DATA
// only names the folder for data outside the common data built into the
// ICU library, so stock converters, collation and case mapping stay there.
#ifndef VEXA_TOOLS_CODEPAGES_DATA_H
#define VEXA_TOOLS_CODEPAGES_DATA_H

#include <cstdlib>

namespace codepages {

inline const char *icuDataDir()
{
    return CODEPAGES_ICU_DATA;
}

inline bool useTestConverters()
{
    return setenv("ICU_DATA", icuDataDir(), 1) == 0;
}

}  // namespace codepages

#endif
