/* Shell command lines of the updater: every path or name put into one is
 * quoted by the SDK's VRALStrShellQuote, and a line too long is refused
 * rather than cut. */
#ifndef UPDT_SHELL_H
#define UPDT_SHELL_H

#include "base/string/vral_string.h"

/* Longest command line the updater hands to the shell. */
#define UPDT_CMD_MAX 4096

#ifdef __cplusplus
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

namespace updt {

// A command line of fixed words and quoted paths (second: true); "" when
// it would be longer than UPDT_CMD_MAX (never cut short).
inline std::string commandLine(std::initializer_list<std::pair<std::string_view, bool>> parts)
{
    std::string cmd;
    for (const auto &[text, quote] : parts)
        cmd += quote ? VRALStrShellQuoteString(text) : std::string(text);
    return cmd.size() > UPDT_CMD_MAX ? std::string() : cmd;
}

}  // namespace updt
#endif

#endif
