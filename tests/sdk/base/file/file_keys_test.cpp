#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
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

const char *const kQuoted = "%s=\"%s\"\n";

struct KeyFile : ::testing::Test {
    vexatest::TempDir dir{"filekeys"};
    std::string path = dir / "vexainfo.conf";
};

// ---- VRALFileGetKeyValue ------------------------------------------------

struct GetCase {
    const char *content;
    const char *key;
    int flags;
    int result;
    const char *value;  // expected buffer when result > 0
};

const GetCase kGetCases[] = {
    {"a=1\nb=2\n", "b", 0, 2, "2"},
    {"\"a\" = \"x y\"\n", "a", 0, 4, "x y"},
    {"  a\t=  v \n", "a", 0, 2, "v"},
    {"a=1\n", " a", 0, 0, nullptr},           // the caller's key is not trimmed
    {"k=first\nk=\nk=second\n", "k", 0, 6, "first"},
    {"k=first\nk=\nk=second\n", "k", OP_FIND_LAST, 7, "second"},
    {"k=\nk=late\n", "k", 0, 0, nullptr},     // a line without value ends the search
    {"k=\n", "k", OP_FIND_LAST, 0, nullptr},
    {"k=   \n", "k", 0, 1, ""},
    {"k=\"\"\n", "k", 0, 1, ""},
    {"#k=1\n;k=2\n", "k", 0, 0, nullptr},
    {" #k=1\n", "#k", 0, 2, "1"},             // not a comment: "#" after a blank
    {"x=1\nk=last", "k", 0, 5, "last"},
    {"k=a=b\n", "k", 0, 4, "a=b"},
    {"=k=v\n", "k", 0, 2, "v"},
    {"k=v\r\n", "k", 0, 2, "v"},
    {"K=1\n", "k", 0, 0, nullptr},
    {"", "k", 0, 0, nullptr},
};

TEST_F(KeyFile, GetKeyValueCases)
{
    for (const GetCase &c : kGetCases) {
        SCOPED_TRACE(std::string("content=[") + c.content + "] key=[" + c.key + "]");
        writeFile(path, c.content);
        char buf[64];
        memset(buf, 'X', sizeof buf);
        int r = VRALFileGetKeyValue(path.c_str(), c.key, buf, sizeof buf, c.flags);
        EXPECT_EQ(r, c.result);
        if (r > 0) {
            EXPECT_STREQ(buf, c.value);
        } else {
            EXPECT_EQ(VRALErrGet(), ERR_NOT_FOUND);
        }
    }
}

TEST_F(KeyFile, GetKeyValueSizeQueryAndSmallBuffer)
{
    writeFile(path, "name=\"abcdef\"\n");
    EXPECT_EQ(VRALFileGetKeyValue(path.c_str(), "name", nullptr, 0, 0), 7);

    char buf[7];
    EXPECT_EQ(VRALFileGetKeyValue(path.c_str(), "name", buf, sizeof buf, 0), 7);
    EXPECT_STREQ(buf, "abcdef");

    char small[6];
    EXPECT_EQ(VRALFileGetKeyValue(path.c_str(), "name", small, sizeof small, 0), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BUFFER_TOO_SMALL);

    // A negative size is a buffer too small for anything; nothing is copied.
    memset(small, 'X', sizeof small);
    EXPECT_EQ(VRALFileGetKeyValue(path.c_str(), "name", small, -1, 0), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(small[0], 'X');
}

TEST_F(KeyFile, GetKeyValueFailures)
{
    char buf[16];
    EXPECT_EQ(VRALFileGetKeyValue(nullptr, "k", buf, sizeof buf, 0), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
    EXPECT_EQ(VRALFileGetKeyValue(path.c_str(), nullptr, buf, sizeof buf, 0), -1);
    EXPECT_EQ(VRALFileGetKeyValue(path.c_str(), "k", buf, sizeof buf, -1), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
    EXPECT_EQ(VRALFileGetKeyValue(path.c_str(), "k", nullptr, 4, 0), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);

    // A missing file is an error, not a missing key.
    EXPECT_EQ(VRALFileGetKeyValue(path.c_str(), "k", buf, sizeof buf, 0), -1);
    EXPECT_EQ(VRALErrGet(), ERR_OPEN_FAILED);

    // A folder reads as a file without lines.
    EXPECT_EQ(VRALFileGetKeyValue(dir.path().c_str(), "k", buf, sizeof buf, 0), 0);
    EXPECT_EQ(VRALErrGet(), ERR_NOT_FOUND);
}

TEST_F(KeyFile, GetKeyValueReadErrorIsNoMissingKey)
{
    char buf[16];
    // Reading this process's memory from address 0 fails at once.
    EXPECT_EQ(VRALFileGetKeyValue("/proc/self/mem", "k", buf, sizeof buf, 0), -1);
    EXPECT_EQ(VRALErrGet(), ERR_READ_FAILED);
}

TEST_F(KeyFile, KeyValueMatchIgnoresCase)
{
    writeFile(path, "flag=\"Yes\"\nlong=" + std::string(600, 'x') + "\n");
    EXPECT_EQ(VRALFileKeyValueMatch(path.c_str(), "flag", "yes"), 1);
    EXPECT_EQ(VRALFileKeyValueMatch(path.c_str(), "flag", "no"), 0);
    EXPECT_EQ(VRALFileKeyValueMatch(path.c_str(), "missing", ""), 1);
    EXPECT_EQ(VRALFileKeyValueMatch(path.c_str(), "long", std::string(600, 'x').c_str()), 0);
    EXPECT_EQ(VRALFileKeyValueMatch((dir / "none").c_str(), "flag", ""), 0);
    EXPECT_EQ(VRALFileKeyValueMatch(path.c_str(), nullptr, "yes"), 0);
}

// ---- VRALFileSetKeyValue ------------------------------------------------

struct SetCase {
    const char *before;
    const char *key;
    const char *value;
    const char *format;
    const char *after;
};

const SetCase kSetCases[] = {
    {"a=1\nb=2\nc=3\n", "b", "X", kQuoted, "a=1\nb=\"X\"\nc=3\n"},
    {" b =2\n", "b", "X", kQuoted, " b =\"X\"\n"},                 // the file's spelling stays
    {"\"b\"=2\n", "b", "X", kQuoted, "\"b\"=\"X\"\n"},
    {"b=1\nx=y\nb=2\n", "b", "X", nullptr, "b=X\nx=y\n"},           // later lines go
    {"#b=1\nb=2\n;b=3\n", "b", "X", nullptr, "#b=1\nb=X\n;b=3\n"},
    {"a=1", "b", "X", kQuoted, "a=1\nb=\"X\"\n"},                   // no "a=1b=..."
    {"a=1\n", "b", "X", kQuoted, "a=1\nb=\"X\"\n"},
    {"", "b", "", kQuoted, "b=\"\"\n"},
    {"=b=1\n", "b", "X", nullptr, "=b=X\n"},                       // key kept
    {"b\n", "b", "X", nullptr, "b=X\n"},
    {"a=1\r\nb=2\r\n", "b", "X", nullptr, "a=1\r\nb=X\n"},
    {"p=50%\n", "p", "100%", "%s=\"%s\" %%\n", "p=\"100%\" %\n"},
};

TEST_F(KeyFile, SetKeyValueCases)
{
    for (const SetCase &c : kSetCases) {
        SCOPED_TRACE(std::string("before=[") + c.before + "] key=[" + c.key + "]");
        writeFile(path, c.before);
        EXPECT_EQ(VRALFileSetKeyValue(path.c_str(), c.key, c.value, c.format), 1);
        EXPECT_EQ(readFile(path), c.after);
    }
    EXPECT_EQ(listDir(dir.path()).size(), 1u);
}

TEST_F(KeyFile, SetKeyValueKeepsOtherBytesOwnerAndMode)
{
    std::string longLine(100000, 'L');
    std::string before = std::string("# comment = x\n\n  spaced = \"v\"  \r\nbin=") + std::string("\x01\x00\xff", 3) +
                         "\n" + longLine + "\nkey=old\ntail=1";
    writeFile(path, before, 0640);
    ASSERT_EQ(chown(path.c_str(), 1234, 5678), 0);
    ASSERT_EQ(chmod(path.c_str(), 02640), 0);
    struct stat old = statOf(path);

    ASSERT_EQ(VRALFileSetKeyValue(path.c_str(), "key", "new", kQuoted), 1);

    std::string expected = before;
    expected.replace(expected.find("key=old"), 7, "key=\"new\"");
    EXPECT_EQ(readFile(path), expected);
    struct stat now = statOf(path);
    EXPECT_NE(now.st_ino, old.st_ino);  // replaced by a rename
    EXPECT_EQ(now.st_uid, 1234u);
    EXPECT_EQ(now.st_gid, 5678u);
    EXPECT_EQ(now.st_mode & 07777, 02640u);
    EXPECT_EQ(listDir(dir.path()).size(), 1u);
}

TEST_F(KeyFile, SetKeyValueCreatesMissingFile)
{
    EXPECT_EQ(VRALFileSetKeyValue(path.c_str(), "unique", "vexa_x", kQuoted), 1);
    EXPECT_EQ(readFile(path), "unique=\"vexa_x\"\n");
    // Through a dangling link, the file appears at the link's target.
    std::string target = dir / "target.conf";
    ASSERT_EQ(symlink("target.conf", (dir / "link.conf").c_str()), 0);
    EXPECT_EQ(VRALFileSetKeyValue((dir / "link.conf").c_str(), "k", "v", nullptr), 1);
    EXPECT_EQ(readFile(target), "k=v\n");
}

TEST_F(KeyFile, SetKeyValueThroughLinkKeepsLink)
{
    std::string sub = dir / "real";
    ASSERT_EQ(mkdir(sub.c_str(), 0755), 0);
    writeFile(sub + "/file.conf", "a=1\n", 0600);
    std::string link = dir / "link.conf";
    ASSERT_EQ(symlink("real/file.conf", link.c_str()), 0);

    ASSERT_EQ(VRALFileSetKeyValue(link.c_str(), "a", "2", nullptr), 1);
    struct stat st {};
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(readFile(sub + "/file.conf"), "a=2\n");
    EXPECT_EQ(statOf(sub + "/file.conf").st_mode & 07777, 0600u);
    EXPECT_EQ(listDir(sub).size(), 1u);
    EXPECT_EQ(listDir(dir.path()).size(), 2u);
}

TEST_F(KeyFile, SetKeyValueRefusesInjectionAndBadFormats)
{
    writeFile(path, "a=1\n");
    struct Bad {
        const char *key, *value, *format;
    } const bad[] = {
        {"a", "1\nroot=x", kQuoted}, {"a\nb", "1", kQuoted}, {"", "1", kQuoted},
        {"a", "1", "%s=%d\n"},       {"a", "1", "%s\n"},    {"a", "1", "%s=%s%s\n"},
        {"a", "1", "%s=%n\n"},       {nullptr, "1", nullptr}, {"a", nullptr, nullptr},
    };
    for (const Bad &b : bad) {
        EXPECT_EQ(VRALFileSetKeyValue(path.c_str(), b.key, b.value, b.format), -1);
        EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
    }
    EXPECT_EQ(VRALFileSetKeyValue(nullptr, "a", "1", nullptr), -1);
    EXPECT_EQ(readFile(path), "a=1\n");
}

// A key that would read back as another key, or as none, is refused: each
// call would otherwise add one more line that nothing ever finds.
TEST_F(KeyFile, KeysThatCouldNeverBeFoundAgainAreRefused)
{
    const char *const bad[] = {"a=b", "=a", " a", "a ", "\ta", "a\t", "a\r", "\"a\"", "#a", ";a"};
    const std::string before = "a=1\nb=2\n";
    writeFile(path, before);
    const ino_t ino = statOf(path).st_ino;
    for (const char *key : bad) {
        SCOPED_TRACE(std::string("key=[") + key + "]");
        VRALErrSetCode(0);
        EXPECT_EQ(VRALFileSetKeyValue(path.c_str(), key, "9", kQuoted), -1);
        EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
        VRALErrSetCode(0);
        EXPECT_EQ(VRALFileRemoveKey(path.c_str(), key), -1);
        EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
        // Nor is a missing file made for it.
        EXPECT_EQ(VRALFileSetKeyValue((dir / "new.conf").c_str(), key, "9", nullptr), -1);
    }
    EXPECT_EQ(readFile(path), before);
    EXPECT_EQ(statOf(path).st_ino, ino);
    EXPECT_EQ(listDir(dir.path()).size(), 1u);
    // Quotes or blanks inside a key are its own.
    EXPECT_EQ(VRALFileSetKeyValue(path.c_str(), "x \"y", "3", nullptr), 1);
    EXPECT_EQ(VRALFileSetKeyValue(path.c_str(), "x \"y", "4", nullptr), 1);
    EXPECT_EQ(readFile(path), before + "x \"y=4\n");
}

TEST_F(KeyFile, SetKeyValueNeverCreatesOverAnUnopenableFile)
{
    // A folder is refused as it stands.
    EXPECT_EQ(VRALFileSetKeyValue(dir.path().c_str(), "a", "1", nullptr), -1);
    EXPECT_EQ(VRALErrGet(), ERR_OPEN_FAILED);

    // Open failures other than a missing file create nothing.
    ASSERT_EQ(symlink("loop2", (dir / "loop1").c_str()), 0);
    ASSERT_EQ(symlink("loop1", (dir / "loop2").c_str()), 0);
    writeFile(path, "a=1\n");
    const std::string bad[] = {dir / "loop1", path + "/sub"};
    for (const std::string &p : bad) {
        EXPECT_EQ(VRALFileSetKeyValue(p.c_str(), "a", "1", nullptr), -1);
        EXPECT_EQ(VRALErrGet(), ERR_OPEN_FAILED);
    }
    EXPECT_EQ(readFile(path), "a=1\n");
    EXPECT_EQ(listDir(dir.path()).size(), 3u);

    // A missing folder on the way: the creation fails cleanly.
    EXPECT_EQ(VRALFileSetKeyValue((dir / "nodir/x.conf").c_str(), "a", "1", nullptr), -1);
    EXPECT_EQ(VRALErrGet(), ERR_OPEN_FAILED);
}

// A file that exists but cannot be opened as asked is never made anew: as a
// user who may write the file but not read it, "w" would truncate it.
TEST_F(KeyFile, UnreadableFileIsNeverTruncatedByACreatingCall)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    writeFile(path, "a=1\nb=2\n", 0622);
    const std::string before = readFile(path);
    ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);

    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0)
            _exit(99);
        struct Op {
            int (*call)(const char *);
        } const ops[] = {
            {[](const char *f) { return VRALFileSetKeyValue(f, "a", "9", nullptr); }},
            {[](const char *f) { return VRALFileAddLine(f, nullptr, "x", OP_FIND_PREFIX); }},
            {[](const char *f) { return VRALFileAddLine(f, "a", "x", 0); }},
            {[](const char *f) { return VRALFileSetLine(f, "a", "x", 0); }},
            {[](const char *f) { return VRALFileSetLine(f, "a", nullptr, 0); }},
        };
        int i = 0;
        for (const Op &op : ops) {
            ++i;
            VRALErrSetCode(0);
            if (op.call(path.c_str()) != -1 || VRALErrGet() != ERR_OPEN_FAILED)
                _exit(i);
        }
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_NE(WEXITSTATUS(status), 99) << "cannot become another user";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "operation " << WEXITSTATUS(status) << " of the table";
    EXPECT_EQ(readFile(path), before);
    EXPECT_EQ(statOf(path).st_mode & 07777, 0622u);
    EXPECT_EQ(listDir(dir.path()).size(), 1u);
}

TEST_F(KeyFile, ReadErrorNeverReplacesTheFile)
{
    writeFile(path, "a=1\nb=2\n");
    filetest::UnreadableFile unreadable(path);
    if (!unreadable.active())
        GTEST_SKIP() << "no private mount namespace here";

    EXPECT_EQ(VRALFileSetKeyValue(path.c_str(), "a", "9", nullptr), -1);
    EXPECT_EQ(VRALErrGet(), ERR_READ_FAILED);
    EXPECT_EQ(VRALFileRemoveKey(path.c_str(), "a"), -1);
    EXPECT_EQ(VRALErrGet(), ERR_READ_FAILED);
    EXPECT_EQ(VRALFileSetLine(path.c_str(), "a", "x", 0), -1);
    EXPECT_EQ(VRALErrGet(), ERR_READ_FAILED);
    EXPECT_EQ(VRALFileAddLine(path.c_str(), "a", "x", 0), -1);
    EXPECT_EQ(VRALErrGet(), ERR_READ_FAILED);
    EXPECT_EQ(VRALFileReplaceSubStr(path.c_str(), "a", "x"), -1);
    EXPECT_EQ(VRALErrGet(), ERR_READ_FAILED);
    char buf[16];
    EXPECT_EQ(VRALFileGetLine(path.c_str(), "a", buf, sizeof buf, 0), -1);
    EXPECT_EQ(VRALErrGet(), ERR_READ_FAILED);

    unreadable.release();
    EXPECT_EQ(readFile(path), "a=1\nb=2\n");
    EXPECT_EQ(listDir(dir.path()).size(), 1u);
}

TEST_F(KeyFile, FailedRenameIsReportedAndOldFileStays)
{
    writeFile(path, "a=1\n");
    std::string other = dir / "bind-source";
    writeFile(other, "b=2\n");
    filetest::UnreadableFile busy(path, other);
    if (!busy.active())
        GTEST_SKIP() << "no private mount namespace here";
    EXPECT_EQ(VRALFileSetKeyValue(path.c_str(), "b", "3", nullptr), -1);
    EXPECT_EQ(VRALErrGet(), ERR_RENAME_FAILED);
    EXPECT_EQ(VRALFileRemoveKey(path.c_str(), "b"), -1);
    EXPECT_EQ(VRALErrGet(), ERR_RENAME_FAILED);
    busy.release();
    EXPECT_EQ(readFile(path), "a=1\n");
    EXPECT_EQ(readFile(other), "b=2\n");
    // No temporary copy stays behind to pile up.
    EXPECT_EQ(listDir(dir.path()).size(), 2u);
}

// ---- VRALFileRemoveKey --------------------------------------------------

TEST_F(KeyFile, RemoveKeyDropsEveryKeyLineButComments)
{
    writeFile(path, "a=1\nb=2\n#a=3\n \"a\" = 4\nab=5\na");
    EXPECT_EQ(VRALFileRemoveKey(path.c_str(), "a"), 3);
    EXPECT_EQ(readFile(path), "b=2\n#a=3\nab=5\n");
}

TEST_F(KeyFile, RemoveKeyWithoutKeyLeavesFileAlone)
{
    writeFile(path, "b=2\n", 0604);
    ASSERT_EQ(chown(path.c_str(), 42, 43), 0);
    struct stat old = statOf(path);
    EXPECT_EQ(VRALFileRemoveKey(path.c_str(), "a"), 0);
    EXPECT_EQ(VRALErrGet(), ERR_NOT_FOUND);
    struct stat now = statOf(path);
    EXPECT_EQ(now.st_ino, old.st_ino);
    EXPECT_EQ(now.st_uid, 42u);
    EXPECT_EQ(now.st_mode & 07777, 0604u);
    EXPECT_EQ(readFile(path), "b=2\n");
    EXPECT_EQ(listDir(dir.path()).size(), 1u);

    EXPECT_EQ(VRALFileRemoveKey((dir / "none").c_str(), "a"), -1);
    EXPECT_EQ(VRALErrGet(), ERR_OPEN_FAILED);
    EXPECT_FALSE(exists(dir / "none"));
    EXPECT_EQ(VRALFileRemoveKey(dir.path().c_str(), "a"), -1);
    EXPECT_EQ(VRALErrGet(), ERR_OPEN_FAILED);
    EXPECT_EQ(VRALFileRemoveKey(path.c_str(), ""), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
}

// ---- VRALFileLineKeyMatch -----------------------------------------------

TEST(FileLineKeyMatch, Cases)
{
    struct Case {
        const char *line, *key;
        int result;
        const char *cut;  // the line after the call
    } const cases[] = {
        {"a=1\n", "a", 1, "a"},
        {"\"a\" = 1\n", "a", 1, "\"a\" "},
        {"#a=1\n", "a", 0, "#a=1\n"},
        {"a\n", "a", 1, "a\n"},
        {"=a=1\n", "a", 1, "=a"},
        {" a=1\n", " a", 0, " a"},
        {"==\n", "\n", 0, "==\n"},
        {"==", "", 0, "=="},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        char line[32];
        strcpy(line, c.line);
        EXPECT_EQ(VRALFileLineKeyMatch(line, c.key), c.result);
        EXPECT_STREQ(line, c.cut);
    }
    char line[] = "a=1";
    EXPECT_EQ(VRALFileLineKeyMatch(line, nullptr), 0);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
    EXPECT_EQ(VRALFileLineKeyMatch(nullptr, "a"), 0);
}

}  // namespace
