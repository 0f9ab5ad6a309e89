// Links in a folder that others can write: planted by anyone, they must
// not turn a write of root's into a write of whatever they point at.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "base/err/vral_err.h"
#include "base/file/vral_file.h"
#include "base/hash/vral_hash.h"

#include "file_test_util.h"
#include "test_tmp.h"

using filetest::exists;
using filetest::statOf;
using vexatest::readFile;
using vexatest::writeFile;

namespace {

constexpr uid_t kOther = 65534;

struct LinkCase {
    const char *name;
    int (*call)(const char *file);
    int result;
    int err;               // recorded when result is -1
    const char *replaced;  // the new file in the link's place; NULL: link stays
};

const LinkCase kCases[] = {
    {.name = "set_key",
     .call = [](const char *f) { return VRALFileSetKeyValue(f, "k", "v", nullptr); },
     .result = 1, .err = 0, .replaced = "k=v\n"},
    {.name = "append_line",
     .call = [](const char *f) { return VRALFileAddLine(f, nullptr, "x", OP_FIND_PREFIX); },
     .result = 1, .err = 0, .replaced = "x\n"},
    {.name = "add_line_at_pattern",
     .call = [](const char *f) { return VRALFileAddLine(f, "root", "x", 0); },
     .result = 1, .err = 0, .replaced = "x\n"},
    {.name = "set_line",
     .call = [](const char *f) { return VRALFileSetLine(f, "root", "x", 0); },
     .result = 1, .err = 0, .replaced = "x\n"},
    {.name = "remove_key",
     .call = [](const char *f) { return VRALFileRemoveKey(f, "root"); },
     .result = -1, .err = ERR_OPEN_FAILED, .replaced = nullptr},
    {.name = "replace_text",
     .call = [](const char *f) { return VRALFileReplaceSubStr(f, "root", "evil"); },
     .result = -1, .err = ERR_OPEN_FAILED, .replaced = nullptr},
    {.name = "add_section",
     .call = [](const char *f) { return filetest::sectionOfOnePair(f, "s"); },
     .result = -1, .err = ERR_OPEN_FAILED, .replaced = nullptr},
    {.name = "read_key",
     .call = [](const char *f) {
         char buf[64];
         return VRALFileGetKeyValue(f, "root", buf, sizeof buf, 0);
     },
     .result = -1, .err = ERR_OPEN_FAILED, .replaced = nullptr},
};

struct StickyFolder : ::testing::Test {
    vexatest::TempDir dir{"filelinks"};
    std::string pub = dir / "pub";        // as "/tmp"
    std::string secret = dir / "shadow";  // as "/etc/shadow"
    const std::string secretText = "root=x:0:0\n";

    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "needs root to plant another user's link";
        ASSERT_EQ(mkdir(pub.c_str(), 0777), 0);
        ASSERT_EQ(chmod(pub.c_str(), 01777), 0);
        writeFile(secret, secretText, 0600);
    }

    // A link in the shared folder, owned by owner.
    std::string plant(const std::string &name, const std::string &to, uid_t owner)
    {
        const std::string link = pub + "/" + name;
        EXPECT_EQ(symlink(to.c_str(), link.c_str()), 0);
        EXPECT_EQ(lchown(link.c_str(), owner, owner), 0);
        return link;
    }

    void expectLinkStays(const std::string &link, const std::string &to)
    {
        struct stat st {};
        ASSERT_EQ(lstat(link.c_str(), &st), 0);
        ASSERT_TRUE(S_ISLNK(st.st_mode));
        char buf[4096];
        ssize_t n = readlink(link.c_str(), buf, sizeof buf);
        EXPECT_EQ(std::string(buf, n > 0 ? static_cast<size_t>(n) : 0), to);
    }

    void expectOwnFile(const std::string &path, const char *content)
    {
        struct stat st {};
        ASSERT_EQ(lstat(path.c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(st.st_uid, geteuid());
        EXPECT_EQ(readFile(path), content);
    }
};

TEST_F(StickyFolder, AnotherUsersLinkIsNeverFollowed)
{
    for (const LinkCase &c : kCases) {
        SCOPED_TRACE(c.name);
        const std::string to = secret;
        const std::string link = plant(std::string(c.name) + ".conf", to, kOther);
        VRALErrSetCode(0);
        EXPECT_EQ(c.call(link.c_str()), c.result);
        if (c.result < 0) {
            EXPECT_EQ(VRALErrGet(), c.err);
        }
        if (c.replaced != nullptr)
            expectOwnFile(link, c.replaced);
        else
            expectLinkStays(link, to);
        EXPECT_EQ(readFile(secret), secretText);
        EXPECT_EQ(statOf(secret).st_mode & 07777, 0600u);
        EXPECT_EQ(statOf(secret).st_uid, 0u);
    }
    // Nothing else appeared in the shared folder: no temporary copies.
    EXPECT_EQ(filetest::listDir(pub).size(), sizeof kCases / sizeof kCases[0]);
}

TEST_F(StickyFolder, DanglingLinkDoesNotCreateItsTarget)
{
    for (const LinkCase &c : kCases) {
        SCOPED_TRACE(c.name);
        const std::string to = dir / (std::string(c.name) + ".created");
        const std::string link = plant(std::string(c.name) + ".conf", to, kOther);
        EXPECT_EQ(c.call(link.c_str()), c.result);
        if (c.replaced != nullptr)
            expectOwnFile(link, c.replaced);
        else
            expectLinkStays(link, to);
        EXPECT_FALSE(exists(to));
    }
}

TEST_F(StickyFolder, LinksOfTheFolderOwnerAndOutsideItAreFollowed)
{
    // The folder's owner (here root, as of "/tmp") may point a link
    // anywhere; a link elsewhere is followed into the shared folder, where
    // the rule holds again for the next link.
    writeFile(dir / "real.conf", "a=1\n", 0640);
    const std::string own = plant("own.conf", dir / "real.conf", 0);
    EXPECT_EQ(VRALFileSetKeyValue(own.c_str(), "a", "2", nullptr), 1);
    EXPECT_EQ(readFile(dir / "real.conf"), "a=2\n");
    expectLinkStays(own, dir / "real.conf");

    const std::string planted = plant("planted.conf", secret, kOther);
    const std::string outside = dir / "etc.conf";
    ASSERT_EQ(symlink(planted.c_str(), outside.c_str()), 0);
    EXPECT_EQ(VRALFileSetKeyValue(outside.c_str(), "k", "v", nullptr), 1);
    expectOwnFile(planted, "k=v\n");
    expectLinkStays(outside, planted);
    EXPECT_EQ(readFile(secret), secretText);
}

TEST_F(StickyFolder, AFifoInPlaceOfTheFileNeverBlocks)
{
    const std::string fifo = pub + "/update.message";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
    ASSERT_EQ(lchown(fifo.c_str(), kOther, kOther), 0);
    EXPECT_EQ(VRALFileSetKeyValue(fifo.c_str(), "k", "v", nullptr), 1);
    expectOwnFile(fifo, "k=v\n");
    char buf[8];
    EXPECT_EQ(VRALFileGetKeyValue(fifo.c_str(), "k", buf, sizeof buf, 0), 2);
}

}  // namespace
