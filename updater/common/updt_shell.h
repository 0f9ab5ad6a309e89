/* Shell command lines of the updater: every path or name put into one is
 * quoted by the SDK's VRALStrShellQuote, and a line too long is refused
 * rather than cut. */
#ifndef UPDT_SHELL_H
#define UPDT_SHELL_H

#include "base/string/vral_string.h"

/* Longest command line the updater hands to the shell. */
#define UPDT_CMD_MAX 4096

#endif
