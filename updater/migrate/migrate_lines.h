// Reading a text file line by line for the migration steps.
#ifndef UPDT_MIGRATE_LINES_H
#define UPDT_MIGRATE_LINES_H

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "base/file/file_line_reader.h"

namespace updt::migrate {

// Hands every line of the file (NUL-terminated, newline included, free to
// change) and its number from 1 to take(line, lineNo), until take returns
// false.  0, or -1 with errno when the file cannot be opened or read to
// its end.
template <typename Take>
int ForEachLine(const char *szPath, Take take)
{
    struct Close {
        void operator()(FILE *fp) const { fclose(fp); }
    };
    std::unique_ptr<FILE, Close> fp(fopen(szPath, "re"));
    if (!fp)
        return -1;
    vralfile::LineReader line(fp.get());
    int lineNo = 0;
    errno = 0;
    while (line.Next()) {
        if (!take(line.Data(), ++lineNo))
            return 0;
    }
    // A failed read (or allocation) must not pass for the end of the file.
    return line.Failed() ? -1 : 0;
}

}  // namespace updt::migrate

#endif
