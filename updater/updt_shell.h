/* Shell command lines of the updater: every path or name put into one
 * goes through this quoting, and a line too long is refused rather than
 * cut. */
#ifndef UPDT_SHELL_H
#define UPDT_SHELL_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Longest command line the updater hands to the shell. */
#define UPDT_CMD_MAX 4096

/* Writes word as one single-quoted shell word into buf (a quote becomes
 * '\'').  Returns the quoted length, or -1 (buf emptied when cb > 0) for a
 * NULL word or when it does not fit in cb bytes with its NUL. */
int UPDTShellQuote(const char *word, char *buf, size_t cb);

#ifdef __cplusplus
}

#include <string>
#include <string_view>

/* The same as a string. */
std::string UPDTShellQuoteString(std::string_view word);
#endif

#endif
