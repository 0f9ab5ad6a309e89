#include "updt_shell.h"

#include "base/string/vral_string.h"

// The updater's names for the SDK's one shell quoting.
std::string UPDTShellQuoteString(std::string_view word)
{
    return VRALStrShellQuoteString(word);
}

extern "C" int UPDTShellQuote(const char *word, char *buf, size_t cb)
{
    return VRALStrShellQuote(word, buf, cb);
}
