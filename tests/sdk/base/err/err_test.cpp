#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "base/err/vral_err.h"

#include "test_tmp.h"

namespace {

using vexatest::readFile;

struct TempDir {
    vexatest::TempDir dir{"err"};
    std::string path = dir.path();
};

// noinline and a live local keep every level a real frame.
__attribute__((noinline)) int recurse(int depth)
{
    volatile int keep = depth;
    if (depth == 0) {
        VRAL_ERR_SET(ERR_NOT_FOUND);
        return 0;
    }
    int r = recurse(depth - 1);
    return r + keep;
}

}  // namespace

// Kept first: the record must be empty before anything failed.
TEST(ErrState, EmptyBeforeFirstFailureThenLastFailureWins)
{
    EXPECT_EQ(VRALErrGet(), 0);
    EXPECT_EQ(VRALErrFileGet(), nullptr);
    EXPECT_EQ(VRALErrLineGet(), 0);

    VRALErrSet(ERR_OPEN_FAILED, "a.cpp", 10);
    VRALErrSet(ERR_WRITE_FAILED, "b.cpp", 20);
    EXPECT_EQ(VRALErrGet(), ERR_WRITE_FAILED);
    EXPECT_STREQ(VRALErrFileGet(), "b.cpp");
    EXPECT_EQ(VRALErrLineGet(), 20);

    VRALErrSetCode(ERR_READ_FAILED);
    EXPECT_EQ(VRALErrGet(), ERR_READ_FAILED);
    EXPECT_EQ(VRALErrFileGet(), nullptr);
    EXPECT_EQ(VRALErrLineGet(), 0);
}

TEST(ErrState, SuccessfulCallKeepsTheFailure)
{
    TempDir dir;
    VRALErrSet(ERR_NO_SPACE, "x.cpp", 1);
    ASSERT_EQ(VRALErrorLogSet((dir.path + "/log").c_str(), "ok"), 0);
    EXPECT_EQ(VRALErrGet(), ERR_NO_SPACE);
}

TEST(ErrState, DeepStackIsCappedAt64Frames)
{
    recurse(200);
    testing::internal::CaptureStdout();
    VRALErrBacktracePrint();
    std::string out = testing::internal::GetCapturedStdout();
    size_t lines = 0;
    for (char c : out)
        lines += c == '\n';
    EXPECT_EQ(lines, 64u);
}

TEST(ErrorLog, AppendsVerbatimAndNeverReadsTheFile)
{
    TempDir dir;
    std::string log = dir.path + "/update.log";
    {
        std::ofstream(log) << "no newline";
    }
    ASSERT_EQ(VRALErrorLogSet(log.c_str(), "100% done %s %n"), 0);
    EXPECT_EQ(readFile(log), "no newline100% done %s %n\n");
}

TEST(ErrorLog, BadArgumentsAndUnopenablePaths)
{
    TempDir dir;
    EXPECT_EQ(VRALErrorLogSet(nullptr, "x"), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
    EXPECT_EQ(VRALErrorLogSet("x", nullptr), -1);
    EXPECT_EQ(VRALErrorLogSet((dir.path + "/missing/log").c_str(), "x"), -1);
    EXPECT_EQ(VRALErrGet(), ERR_OPEN_FAILED);
}

TEST(ErrorLog, FullDeviceIsAFailure)
{
    // /dev/full accepts the open and fails the flush with ENOSPC.
    if (access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "no /dev/full";
    VRALErrSetCode(0);
    EXPECT_EQ(VRALErrorLogSet("/dev/full", "line"), -1);
    EXPECT_EQ(VRALErrGet(), ERR_WRITE_FAILED);
}

TEST(ErrorLog, FailedAppendLeavesNoPartOfItsLine)
{
    // A file that may grow only a little: the first bytes of a long line
    // fit, the rest is refused.
    TempDir dir;
    const std::string log = dir.path + "/log";
    {
        std::ofstream(log) << "first\n";
    }
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    struct rlimit small = old;
    small.rlim_cur = 4096;
    const sighandler_t oldSig = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    VRALErrSetCode(0);
    const int rc = VRALErrorLogSet(log.c_str(), std::string(6000, 'x').c_str());
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldSig);
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(VRALErrGet(), ERR_WRITE_FAILED);
    EXPECT_EQ(readFile(log), "first\n");
    ASSERT_EQ(VRALErrorLogSet(log.c_str(), "next"), 0);
    EXPECT_EQ(readFile(log), "first\nnext\n");
}

TEST(ErrorLog, ClearTruncatesOrCreatesAndIsQuietOtherwise)
{
    TempDir dir;
    std::string log = dir.path + "/log";
    VRALErrorLogClear(log.c_str());
    struct stat st {};
    ASSERT_EQ(stat(log.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0);
    ASSERT_EQ(VRALErrorLogSet(log.c_str(), "abc"), 0);
    VRALErrorLogClear(log.c_str());
    EXPECT_EQ(readFile(log), "");
    VRALErrSetCode(0);
    VRALErrorLogClear((dir.path + "/no/such").c_str());
    VRALErrorLogClear(nullptr);
    EXPECT_EQ(VRALErrGet(), 0);
}
