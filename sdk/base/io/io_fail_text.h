// The reason to log for a whole transfer that fell short: the failing
// call's errno, or, when no call failed (end of file, a write of 0 bytes),
// the count, since errno then says nothing.
#ifndef VRAL_IO_FAIL_TEXT_H
#define VRAL_IO_FAIL_TEXT_H

#include <sys/types.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>

namespace vralio {

struct FailText {
    char text[96];
    const char *c_str() const { return text; }
};

// got is what VRALIoReadAll / VRALIoWriteAll returned for want bytes, verb
// "read" or "write"; read errno before anything else can change it.
inline FailText TransferFailText(ssize_t got, size_t want, const char *verb)
{
    FailText t{};
    if (got < 0) {
        int e = errno;
        snprintf(t.text, sizeof t.text, "(%d) %s", e, strerror(e));
    } else {
        snprintf(t.text, sizeof t.text, "short %s (%zd of %zu)", verb, got, want);
    }
    return t;
}

}  // namespace vralio

#endif
