// The dumps' writer of temporary files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "base/file/file_tmp_file.h"
#include "test_tmp.h"

namespace {

class TmpFileTest : public ::testing::Test {
protected:
    vexatest::TempDir dir{"tmpfile"};
    mode_t oldMask = umask(0);
    void TearDown() override { umask(oldMask); }

    std::string owner(const std::string &path)
    {
        struct stat st {};
        EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
        char b[64];
        snprintf(b, sizeof b, "%o %d %d", st.st_mode & 07777, static_cast<int>(st.st_uid),
                 static_cast<int>(st.st_gid));
        return b;
    }
    int write(const std::string &target, mode_t def, const std::string &text)
    {
        vralfile::TmpFile f(target.c_str(), (target + ".tmp").c_str(), def);
        if (!f.ok())
            return -1;
        f.text() = text;
        return f.finish() == 0 && f.moveIn() == 0 ? 0 : -2;
    }
};

TEST_F(TmpFileTest, ReplacedFileKeepsOwnerGroupAndMode)
{
    vexatest::writeFile(dir / "shadow", "old\n", 0640);
    ASSERT_EQ(chown((dir / "shadow").c_str(), 65534, 65533), 0);
    ASSERT_EQ(write(dir / "shadow", 0644, "new\n"), 0);
    EXPECT_EQ(vexatest::readFile(dir / "shadow"), "new\n");
    EXPECT_EQ(owner(dir / "shadow"), "640 65534 65533");
    EXPECT_NE(access((dir / "shadow.tmp").c_str(), F_OK), 0);
}

TEST_F(TmpFileTest, MissingFileGetsTheDefaultModeUnderAnyUmask)
{
    ASSERT_EQ(write(dir / "smbpasswd", 0600, "x\n"), 0);
    EXPECT_EQ(owner(dir / "smbpasswd"), "600 0 0");
}

TEST_F(TmpFileTest, LinkAtTheTemporaryNameIsNotFollowed)
{
    vexatest::writeFile(dir / "victim", "keep\n", 0600);
    ASSERT_EQ(symlink((dir / "victim").c_str(), (dir / "passwd.tmp").c_str()), 0);
    ASSERT_EQ(write(dir / "passwd", 0644, "root\n"), 0);
    EXPECT_EQ(vexatest::readFile(dir / "victim"), "keep\n");
    EXPECT_EQ(owner(dir / "victim"), "600 0 0");
    EXPECT_EQ(vexatest::readFile(dir / "passwd"), "root\n");
}

TEST_F(TmpFileTest, UnfinishedFileIsRemovedAndTheTargetKept)
{
    vexatest::writeFile(dir / "passwd", "old\n", 0644);
    {
        vralfile::TmpFile f((dir / "passwd").c_str(), (dir / "passwd.tmp").c_str(), 0644);
        ASSERT_TRUE(f.ok());
        f.text() = "half";
        ASSERT_EQ(f.finish(), 0);
    }
    EXPECT_NE(access((dir / "passwd.tmp").c_str(), F_OK), 0);
    EXPECT_EQ(vexatest::readFile(dir / "passwd"), "old\n");
}

}  // namespace
