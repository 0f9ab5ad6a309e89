// The status-file writer on scratch paths: offset-0 rewrite, creation,
// links, the lock and its retries, a failing write.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <ctime>
#include <string>

#include <gtest/gtest.h>

#include "test_tmp.h"
#include "updt_status.h"

// The writer pauses between lock retries with usleep; counting the pauses
// here (and releasing a held lock at a chosen one) makes the retry rule
// testable without timing.
namespace {
int gPauses = 0;
useconds_t gLastPause = 0;
int gReleaseAtPause = -1;
int gHeldFd = -1;
}  // namespace

extern "C" int usleep(useconds_t us)
{
    ++gPauses;
    gLastPause = us;
    if (gPauses == gReleaseAtPause && gHeldFd >= 0)
        flock(gHeldFd, LOCK_UN);
    return 0;
}

namespace {

using vexatest::readFile;
using vexatest::writeFile;

class StatusFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        gPauses = 0;
        gLastPause = 0;
        gReleaseAtPause = -1;
        gHeldFd = -1;
    }
    void TearDown() override
    {
        if (gHeldFd >= 0)
            close(gHeldFd);
        gHeldFd = -1;
    }
    // Holds an exclusive lock on path through a descriptor of its own (flock
    // locks belong to the open file, so this process's writer is blocked).
    void holdLock(const std::string &path)
    {
        gHeldFd = open(path.c_str(), O_RDONLY);
        ASSERT_GE(gHeldFd, 0);
        ASSERT_EQ(flock(gHeldFd, LOCK_EX | LOCK_NB), 0);
    }
    vexatest::TempDir tmp{"status"};
};

TEST_F(StatusFile, CreatesAMissingFile)
{
    const std::string path = tmp / "update.progress";
    EXPECT_EQ(UPDTWriteStatusFile(path.c_str(), "A:0:      ", 0), UPDT_STATUS_OK);
    EXPECT_EQ(readFile(path), "A:0:      ");
}

TEST_F(StatusFile, RewritesAtOffsetZeroWithoutTruncating)
{
    struct Case {
        const char *before;
        const char *text;
        const char *after;
    };
    const Case cases[] = {
        {"P:100:      ", "A:0:      ", "A:0:        "},
        {"P:-24:      ", "R:0:      ", "R:0:        "},
        {"A:0:      ", "P:100:      ", "P:100:      "},
        {"C:10:      tail kept", "R:0:      ", "R:0:       tail kept"},
        {"", "P:60:      ", "P:60:      "},
    };
    for (const Case &c : cases) {
        const std::string path = tmp / "progress";
        writeFile(path, c.before);
        EXPECT_EQ(UPDTWriteStatusFile(path.c_str(), c.text, 1), UPDT_STATUS_OK) << c.before;
        EXPECT_EQ(readFile(path), c.after) << c.before;
    }
}

TEST_F(StatusFile, NeverFollowsASymbolicLink)
{
    // The link is replaced by a file of the writer's own; its target keeps
    // its bytes.
    const std::string target = tmp / "victim";
    writeFile(target, "precious");
    const std::string link = tmp / "progress";
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    EXPECT_EQ(UPDTWriteStatusFile(link.c_str(), "A:0:      ", 1), UPDT_STATUS_OK);
    EXPECT_EQ(readFile(target), "precious");
    struct stat st;
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(readFile(link), "A:0:      ");

    // A dangling link must not create its target either.
    const std::string absent = tmp / "absent";
    const std::string dangling = tmp / "message";
    ASSERT_EQ(symlink(absent.c_str(), dangling.c_str()), 0);
    EXPECT_EQ(UPDTWriteStatusFile(dangling.c_str(), "x", 1), UPDT_STATUS_OK);
    EXPECT_NE(access(absent.c_str(), F_OK), 0);
    EXPECT_EQ(readFile(dangling), "x");
}

// Anything but a regular file of the writer's with one name is replaced,
// never written through and never waited on; the other file keeps its
// bytes and mode.
TEST_F(StatusFile, HardLinksFifosAndOthersFilesAreReplaced)
{
    struct Case {
        const char *name;
        void (*plant)(const std::string &path, const std::string &other);
    };
    const Case cases[] = {
        {.name = "hard_link",
         .plant = [](const std::string &path, const std::string &other) {
             ASSERT_EQ(link(other.c_str(), path.c_str()), 0);
         }},
        {.name = "fifo",
         .plant = [](const std::string &path, const std::string &) { ASSERT_EQ(mkfifo(path.c_str(), 0666), 0); }},
        {.name = "other_users_file",
         .plant = [](const std::string &path, const std::string &) {
             writeFile(path, "P:100:      ");
             ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
         }},
        {.name = "folder_is_refused", .plant = [](const std::string &path, const std::string &) {
             ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
         }},
    };
    for (const Case &c : cases) {
        vexatest::TempDir dir{"statusplant"};
        const std::string path = dir / "update.progress";
        const std::string other = dir / "other";
        writeFile(other, "someone else's");
        ASSERT_EQ(chmod(other.c_str(), 0640), 0);
        c.plant(path, other);
        const bool folder = std::string(c.name) == "folder_is_refused";
        EXPECT_EQ(UPDTWriteStatusFile(path.c_str(), "A:0:      ", 1), folder ? UPDT_STATUS_NO_FILE : UPDT_STATUS_OK)
            << c.name;
        EXPECT_EQ(readFile(other), "someone else's") << c.name;
        struct stat st;
        ASSERT_EQ(stat(other.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0640u) << c.name;
        ASSERT_EQ(lstat(path.c_str(), &st), 0);
        if (folder) {
            EXPECT_TRUE(S_ISDIR(st.st_mode));
            continue;
        }
        EXPECT_TRUE(S_ISREG(st.st_mode)) << c.name;
        EXPECT_EQ(st.st_nlink, 1u) << c.name;
        EXPECT_EQ(st.st_uid, geteuid()) << c.name;
        EXPECT_EQ(readFile(path), "A:0:      ") << c.name;
    }
}

TEST_F(StatusFile, FileThatCannotBeCreatedGivesMinusOne)
{
    EXPECT_EQ(UPDTWriteStatusFile((tmp / "no/such/folder").c_str(), "A:0:      ", 1), UPDT_STATUS_NO_FILE);
    EXPECT_EQ(UPDTWriteStatusFile(nullptr, "A:0:      ", 1), UPDT_STATUS_NO_FILE);
    EXPECT_EQ(UPDTWriteStatusFile((tmp / "p").c_str(), nullptr, 1), UPDT_STATUS_NO_FILE);
}

TEST_F(StatusFile, BusyLockWithoutWaitFailsAtOnce)
{
    const std::string path = tmp / "progress";
    writeFile(path, "P:20:      ");
    holdLock(path);
    EXPECT_EQ(UPDTWriteStatusFile(path.c_str(), "P:60:      ", 0), UPDT_STATUS_NO_LOCK);
    EXPECT_EQ(gPauses, 0);
    EXPECT_EQ(readFile(path), "P:20:      ");
}

TEST_F(StatusFile, BusyLockWithWaitGivesUpAfterTwentyPauses)
{
    const std::string path = tmp / "progress";
    writeFile(path, "P:20:      ");
    holdLock(path);
    EXPECT_EQ(UPDTWriteStatusFile(path.c_str(), "P:60:      ", 1), UPDT_STATUS_NO_LOCK);
    EXPECT_EQ(gPauses, 20);
    EXPECT_EQ(gLastPause, 337u);
    EXPECT_EQ(readFile(path), "P:20:      ");
}

TEST_F(StatusFile, WaitingWriterWritesOnceTheLockIsFree)
{
    const std::string path = tmp / "progress";
    writeFile(path, "P:20:      ");
    holdLock(path);
    gReleaseAtPause = 5;
    EXPECT_EQ(UPDTWriteStatusFile(path.c_str(), "P:60:      ", 1), UPDT_STATUS_OK);
    EXPECT_EQ(gPauses, 5);
    EXPECT_EQ(readFile(path), "P:60:      ");
    // The writer released its own lock again.
    EXPECT_EQ(flock(gHeldFd, LOCK_EX | LOCK_NB), 0);
}

TEST_F(StatusFile, FailedWriteGivesMinusThree)
{
    const std::string path = tmp / "progress";
    writeFile(path, "");
    // A file-size limit of 0 makes the write fail; in a child of its own.
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit rl = {0, 0};
        setrlimit(RLIMIT_FSIZE, &rl);
        _exit(UPDTWriteStatusFile(path.c_str(), "A:0:      ", 1) == UPDT_STATUS_NO_WRITE ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(readFile(path), "");
}

}  // namespace
