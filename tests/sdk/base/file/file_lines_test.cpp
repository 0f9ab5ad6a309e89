#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "base/err/vral_err.h"
#include "base/file/vral_file.h"

#include "file_test_util.h"
#include "test_tmp.h"

using filetest::exists;
using filetest::listDir;
using filetest::statOf;
using vexatest::readFile;
using vexatest::writeFile;

namespace {

struct LineFile : ::testing::Test {
    vexatest::TempDir dir{"filelines"};
    std::string path = dir / "crontab";
};

// ---- VRALFileLineMatch --------------------------------------------------

TEST(FileLineMatch, Cases)
{
    struct Case {
        const char *line, *pattern;
        int flags, result;
    } const cases[] = {
        {"abc\n", "b", 0, 1},
        {"abc\n", "x", 0, 0},
        {"#abc\n", "a", 0, 0},
        {";abc\n", "", 0, 0},
        {" #abc\n", "#", 0, 1},
        {"abc\n", "ab", OP_MATCH_BEGIN, 1},
        {"xabc\n", "ab", OP_MATCH_BEGIN, 0},
        {"abc\n", "bc", OP_MATCH_END, 1},
        {"abc", "bc", OP_MATCH_END, 1},
        {"abc\n", "ab", OP_MATCH_END, 0},
        {"ab\n", "xab", OP_MATCH_END, 0},
        {"abc\n", "c\n", OP_MATCH_END, 0},
        {"abc\n", "ab", OP_MATCH_BEGIN | OP_MATCH_END, 1},
        {"abc\n", "c\n", 0, 1},
        {"Straße\n", "STRASSE", OP_MATCH_NOCASE, 1},
        {"abc\n", "ß", OP_MATCH_NOCASE, 0},  // grows when upper-cased: no empty pattern
        {"ß\n", "x", OP_MATCH_NOCASE, 0},
        {"Ärger\n", "äR", OP_MATCH_NOCASE | OP_MATCH_BEGIN, 1},
        {"abc\n", "ABC", 0, 0},
        {"", "", 0, 1},
        {"x", "", 0, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string("[") + c.line + "] [" + c.pattern + "]");
        EXPECT_EQ(VRALFileLineMatch(c.line, c.pattern, c.flags), c.result);
    }
    EXPECT_EQ(VRALFileLineMatch(nullptr, "a", 0), 0);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
    EXPECT_EQ(VRALFileLineMatch("a", nullptr, 0), 0);
    EXPECT_EQ(VRALFileLineMatch("a", "a", -1), 0);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
}

// ---- VRALFileGetLine ----------------------------------------------------

TEST_F(LineFile, GetLineCases)
{
    struct Case {
        const char *content, *pattern;
        int flags, result;
        const char *line;
    } const cases[] = {
        {"a\nfoo bar\nbar\n", "bar", 0, 8, "foo bar"},
        {"a\nfoo bar\nbar\n", "bar", OP_FIND_LAST, 4, "bar"},
        {"x\r\n", "x", 0, 3, "x\r"},
        {"a\nlast", "last", OP_MATCH_END, 5, "last"},
        {"#x\n\ny\n", "", 0, 1, ""},
        {"a\n", "b", 0, 0, nullptr},
        {"", "", 0, 0, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string("[") + c.content + "] [" + c.pattern + "]");
        writeFile(path, c.content);
        char buf[32];
        memset(buf, 'X', sizeof buf);
        int r = VRALFileGetLine(path.c_str(), c.pattern, buf, sizeof buf, c.flags);
        EXPECT_EQ(r, c.result);
        if (r > 0) {
            EXPECT_STREQ(buf, c.line);
        } else {
            EXPECT_EQ(VRALErrGet(), ERR_NOT_FOUND);
        }
    }
}

TEST_F(LineFile, GetLineFailures)
{
    char buf[4];
    writeFile(path, "long line\n");
    EXPECT_EQ(VRALFileGetLine(path.c_str(), "line", buf, sizeof buf, 0), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(VRALFileGetLine(path.c_str(), "line", buf, 0, 0), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
    EXPECT_EQ(VRALFileGetLine(path.c_str(), "line", nullptr, 4, 0), -1);
    EXPECT_EQ(VRALFileGetLine(path.c_str(), "line", buf, sizeof buf, -2), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
    EXPECT_EQ(VRALFileGetLine((dir / "none").c_str(), "x", buf, sizeof buf, 0), -1);
    EXPECT_EQ(VRALErrGet(), ERR_OPEN_FAILED);
    EXPECT_EQ(VRALFileGetLine(dir.path().c_str(), "x", buf, sizeof buf, 0), 0);
    EXPECT_EQ(VRALErrGet(), ERR_NOT_FOUND);
}

// ---- VRALFileAddLine ----------------------------------------------------

struct EditCase {
    const char *before;
    const char *pattern;
    const char *line;
    int flags;
    int result;
    const char *after;
};

TEST_F(LineFile, AddLineCases)
{
    const EditCase cases[] = {
        {"a\nb\n", nullptr, "x", 0, 1, "x\na\nb\n"},
        {"", nullptr, "x", 0, 1, "x\n"},
        {"a\nb\n", nullptr, "x", OP_FIND_PREFIX, 1, "a\nb\nx\n"},
        {"a\nb", nullptr, "x", OP_FIND_PREFIX, 1, "a\nb\nx\n"},  // never "bx"
        {"", nullptr, "x", OP_FIND_PREFIX, 1, "x\n"},
        {"a\nb\nc\n", "b", "x", 0, 1, "a\nx\nb\nc\n"},
        {"a\nb\nc\n", "b", "x", OP_FIND_PREFIX, 1, "a\nb\nx\nc\n"},
        {"a\nb\nc\n", "c", "x", OP_FIND_PREFIX, 1, "a\nb\nc\nx\n"},
        {"a\nb\nc", "c", "x", OP_FIND_PREFIX, 1, "a\nb\nc\nx\n"},
        {"ab\nab\n", "ab", "x", OP_FIND_LAST, 1, "ab\nx\nab\n"},
        {"#b\nb\n", "b", "x", 0, 1, "#b\nx\nb\n"},
        {"lock file = /x\n", "LOCK FILE =", "use chroot = no", OP_FIND_PREFIX | OP_MATCH_NOCASE, 1,
         "lock file = /x\nuse chroot = no\n"},
        {"a\n", "z", "x", 0, 0, "a\n"},
        {"", "a", "x", 0, 0, ""},
    };
    for (const EditCase &c : cases) {
        SCOPED_TRACE(std::string("[") + c.before + "] [" + (c.pattern ? c.pattern : "(null)") + "]");
        writeFile(path, c.before);
        EXPECT_EQ(VRALFileAddLine(path.c_str(), c.pattern, c.line, c.flags), c.result);
        EXPECT_EQ(readFile(path), c.after);
        if (c.result == 0) {
            EXPECT_EQ(VRALErrGet(), ERR_NOT_FOUND);
        }
    }
    EXPECT_EQ(listDir(dir.path()).size(), 1u);
}

TEST_F(LineFile, AddLineCreatesOnlyAMissingFile)
{
    EXPECT_EQ(VRALFileAddLine(path.c_str(), "pattern", "x", 0), 1);
    EXPECT_EQ(readFile(path), "x\n");

    EXPECT_EQ(VRALFileAddLine(dir.path().c_str(), nullptr, "x", OP_FIND_PREFIX), -1);
    EXPECT_EQ(VRALErrGet(), ERR_OPEN_FAILED);
    EXPECT_EQ(VRALFileAddLine((path + "/sub").c_str(), nullptr, "x", 0), -1);
    EXPECT_EQ(VRALErrGet(), ERR_OPEN_FAILED);
    EXPECT_EQ(readFile(path), "x\n");

    EXPECT_EQ(VRALFileAddLine(path.c_str(), nullptr, "root::0:0::/:/bin/sh\nx", 0), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
    EXPECT_EQ(VRALFileAddLine(path.c_str(), nullptr, nullptr, 0), -1);
    EXPECT_EQ(VRALFileAddLine(path.c_str(), nullptr, "x", -1), -1);
    EXPECT_EQ(readFile(path), "x\n");
}

TEST_F(LineFile, AddLineKeepsOwnerAndModeInBothWays)
{
    writeFile(path, "a\n", 0600);
    ASSERT_EQ(chown(path.c_str(), 77, 88), 0);
    ASSERT_EQ(VRALFileAddLine(path.c_str(), nullptr, "first", 0), 1);     // rewrite
    ASSERT_EQ(VRALFileAddLine(path.c_str(), nullptr, "last", OP_FIND_PREFIX), 1);  // append
    EXPECT_EQ(readFile(path), "first\na\nlast\n");
    struct stat st = statOf(path);
    EXPECT_EQ(st.st_uid, 77u);
    EXPECT_EQ(st.st_gid, 88u);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}

// ---- VRALFileSetLine ----------------------------------------------------

TEST_F(LineFile, SetLineCases)
{
    const EditCase cases[] = {
        {"a\nb\nc\n", "b", "x", 0, 1, "a\nx\nc\n"},
        {"a\nb\nc\n", "b", nullptr, 0, 1, "a\nc\n"},
        {"a\nb", "b", "x", 0, 1, "a\nx\n"},
        {"b1\nb2\n", "b", "x", OP_FIND_LAST, 1, "b1\nx\n"},
        {"xab\nab\n", "ab", "x", OP_MATCH_BEGIN, 1, "xab\nx\n"},
        {"#b\nb\n", "b", nullptr, 0, 1, "#b\n"},
        {"a\n", "z", "x", 0, 0, "a\n"},
        {"", "z", "x", 0, 0, ""},
        {"a\n", "a", "x", -1, 0, "a\n"},
    };
    for (const EditCase &c : cases) {
        SCOPED_TRACE(std::string("[") + c.before + "] [" + c.pattern + "]");
        writeFile(path, c.before);
        EXPECT_EQ(VRALFileSetLine(path.c_str(), c.pattern, c.line, c.flags), c.result);
        EXPECT_EQ(readFile(path), c.after);
        if (c.result == 0) {
            EXPECT_EQ(VRALErrGet(), ERR_NOT_FOUND);
        }
    }
    EXPECT_EQ(listDir(dir.path()).size(), 1u);
}

TEST_F(LineFile, SetLineMissingFileAndFailures)
{
    EXPECT_EQ(VRALFileSetLine(path.c_str(), "x", "line", 0), 1);
    EXPECT_EQ(readFile(path), "line\n");
    std::string other = dir / "empty";
    EXPECT_EQ(VRALFileSetLine(other.c_str(), "x", nullptr, 0), 1);
    EXPECT_TRUE(exists(other));
    EXPECT_EQ(readFile(other), "");

    EXPECT_EQ(VRALFileSetLine(dir.path().c_str(), "x", "y", 0), -1);
    EXPECT_EQ(VRALErrGet(), ERR_OPEN_FAILED);
    EXPECT_EQ(VRALFileSetLine(path.c_str(), "line", "a\nb", 0), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
    EXPECT_EQ(VRALFileSetLine(path.c_str(), nullptr, "y", 0), -1);
    EXPECT_EQ(readFile(path), "line\n");
}

// ---- VRALFileReplaceSubStr ----------------------------------------------

TEST_F(LineFile, ReplaceSubStrCases)
{
    struct Case {
        const char *before, *oldText, *newText;
        int result;
        const char *after;
    } const cases[] = {
        {"aaaa\n", "aa", "a", 2, "aa\n"},
        {"#x\nx y x\n", "x", "yx", 3, "#yx\nyx y yx\n"},
        {"uams_noguest.so", "uams_noguest.so", "uams_guest.so", 1, "uams_guest.so"},
        {"a\nb\n", "a\n", "c\n", 1, "c\nb\n"},
        {"a\nb\n", "z", "y", 0, "a\nb\n"},
        {"", "z", "y", 0, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string("[") + c.before + "] [" + c.oldText + "]");
        writeFile(path, c.before);
        EXPECT_EQ(VRALFileReplaceSubStr(path.c_str(), c.oldText, c.newText), c.result);
        EXPECT_EQ(readFile(path), c.after);
    }
    EXPECT_EQ(listDir(dir.path()).size(), 1u);

    EXPECT_EQ(VRALFileReplaceSubStr(path.c_str(), "", "y"), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
    EXPECT_EQ(VRALFileReplaceSubStr(path.c_str(), "a", "b\nc"), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
    EXPECT_EQ(VRALFileReplaceSubStr((dir / "none").c_str(), "a", "b"), -1);
    EXPECT_EQ(VRALErrGet(), ERR_OPEN_FAILED);
    EXPECT_EQ(VRALFileReplaceSubStr(dir.path().c_str(), "a", "b"), -1);
    EXPECT_EQ(VRALErrGet(), ERR_OPEN_FAILED);
}

TEST_F(LineFile, UnlinkRemovesFile)
{
    writeFile(path, "x\n");
    EXPECT_EQ(VRALFileUnlink(path.c_str()), 0);
    EXPECT_FALSE(exists(path));
    EXPECT_EQ(VRALFileUnlink(path.c_str()), -1);
}

}  // namespace
