#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "base/string/vral_string.h"

namespace {

// What /bin/sh makes of `printf %s <quoted word>`.
std::string throughShell(const std::string &word)
{
    const std::string cmd = "printf %s " + VRALStrShellQuoteString(word);
    FILE *fp = popen(cmd.c_str(), "r");
    if (fp == nullptr)
        return "<popen failed>";
    std::string out;
    char buf[256];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, fp)) > 0)
        out.append(buf, n);
    int status = pclose(fp);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "<shell failed>";
    return out;
}

}  // namespace

TEST(ShellQuote, EveryWordReachesTheCommandUnchanged)
{
    const char *words[] = {
        "plain", "", "with blank", "it's", "''", "a;rm -rf /x", "$(touch /x)", "`id`",
        "$HOME", "back\\slash", "new\nline", "*?[a]", "&|<>", "-n", "\"dq\"",
    };
    for (const char *w : words)
        EXPECT_EQ(throughShell(w), w) << w;
}

TEST(ShellQuote, BufferFormFitsOrRefuses)
{
    char buf[16];
    EXPECT_EQ(VRALStrShellQuote("it's", buf, sizeof buf), 9);
    EXPECT_STREQ(buf, "'it'\\''s'");
    char small[5];
    EXPECT_EQ(VRALStrShellQuote("ab", small, 4), -1);
    EXPECT_STREQ(small, "");
    EXPECT_EQ(VRALStrShellQuote("ab", small, 5), 4);
    EXPECT_EQ(VRALStrShellQuote(nullptr, small, sizeof small), -1);
    EXPECT_EQ(VRALStrShellQuote("x", nullptr, 8), -1);
}
