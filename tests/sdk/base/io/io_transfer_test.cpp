#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "base/io/io_fail_text.h"
#include "base/io/io_fd.h"
#include "base/io/vral_io.h"

#include "failcall.h"
#include "test_tmp.h"

namespace {

using vexatest::readFile;
using vexatest::writeFile;

// A socket pair that hands over one packet per read: every read is short.
struct Packets {
    int fds[2] = {-1, -1};
    Packets() { socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds); }
    ~Packets()
    {
        for (int fd : fds)
            if (fd >= 0)
                close(fd);
    }
    void send(const std::string &s) { ASSERT_EQ(::send(fds[1], s.data(), s.size(), 0), static_cast<ssize_t>(s.size())); }
    void endSending()
    {
        close(fds[1]);
        fds[1] = -1;
    }
};

TEST(IoReadAll, GoesOnAfterShortReadsUntilTheCountOrTheEnd)
{
    Packets p;
    p.send("abc");
    p.send("de");
    p.send("fgh");
    p.endSending();
    char buf[16] = {};
    EXPECT_EQ(VRALIoReadAll(p.fds[0], buf, 4), 4);
    EXPECT_EQ(std::string(buf, 4), "abcd");
    // The packet's rest is gone with it; the next one ends at the end.
    errno = EINVAL;
    EXPECT_EQ(VRALIoReadAll(p.fds[0], buf, sizeof buf), 3);
    EXPECT_EQ(std::string(buf, 3), "fgh");
    EXPECT_EQ(errno, 0);  // an end of file is no failed call
    EXPECT_STREQ(vralio::TransferFailText(3, sizeof buf, "read").c_str(), "short read (3 of 16)");
}

TEST(IoReadAll, AFailedReadKeepsItsErrno)
{
    vexatest::TempDir dir("io");
    writeFile(dir / "f", "data");
    vralio::Fd fd((dir / "f").c_str(), O_WRONLY);
    ASSERT_TRUE(fd.ok());
    char buf[4];
    EXPECT_EQ(VRALIoReadAll(fd.get(), buf, sizeof buf), -1);
    EXPECT_EQ(errno, EBADF);
    errno = EBADF;
    EXPECT_STREQ(vralio::TransferFailText(-1, 4, "read").c_str(), "(9) Bad file descriptor");
}

TEST(IoPositional, ReadAndWriteAtAnOffsetLeaveTheFileOffset)
{
    vexatest::TempDir dir("io");
    writeFile(dir / "f", "0123456789");
    vralio::Fd fd((dir / "f").c_str(), O_RDWR);
    ASSERT_TRUE(fd.ok());
    ASSERT_EQ(lseek(fd.get(), 2, SEEK_SET), 2);
    char buf[8] = {};
    EXPECT_EQ(VRALIoPReadAll(fd.get(), buf, 8, 6), 4);  // ends at the end of the file
    EXPECT_EQ(std::string(buf, 4), "6789");
    EXPECT_EQ(VRALIoPWriteAll(fd.get(), "ab", 2, 4), 2);
    EXPECT_EQ(lseek(fd.get(), 0, SEEK_CUR), 2);
    EXPECT_EQ(readFile(dir / "f"), "0123ab6789");
}

struct WriteCase {
    const char *name;
    failcall::Rule rule;
    ssize_t result;
    int err;  // errno after the call
    const char *text;
    const char *file;  // what reached the file
};

const WriteCase kWriteCases[] = {
    {.name = "all_out",  // a rule for no file
     .rule = {.call = failcall::Call::Write, .pathPrefix = "/nowhere/"},
     .result = 8, .err = 0, .text = "", .file = "12345678"},
    {.name = "interrupted_and_retried",
     .rule = {.call = failcall::Call::Write, .err = EINTR, .times = 2},
     .result = 8, .err = 0, .text = "", .file = "12345678"},
    {.name = "nothing_moved_is_a_failure",
     .rule = {.call = failcall::Call::Write, .err = 0},
     .result = 0, .err = 0, .text = "short write (0 of 8)", .file = ""},
    {.name = "failed_write_keeps_errno",
     .rule = {.call = failcall::Call::Write, .err = ENOSPC},
     .result = -1, .err = ENOSPC, .text = "(28) No space left on device", .file = ""},
};

TEST(IoWriteAll, Cases)
{
    vexatest::TempDir dir("io");
    for (const WriteCase &c : kWriteCases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir / c.name;
        vralio::Fd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        ASSERT_TRUE(fd.ok());
        ssize_t r;
        int err;
        {
            failcall::Armed armed(c.rule);
            r = VRALIoWriteAll(fd.get(), "12345678", 8);
            err = errno;
        }
        EXPECT_EQ(r, c.result);
        EXPECT_EQ(err, c.err);
        if (r != 8) {
            errno = err;
            EXPECT_STREQ(vralio::TransferFailText(r, 8, "write").c_str(), c.text);
        }
        EXPECT_EQ(readFile(path), c.file);
    }
}

TEST(IoFd, ClosesWhatItOwnsAndHandsItOnWhenMoved)
{
    int raw;
    {
        vralio::Fd a("/dev/null", O_RDONLY | O_CLOEXEC);
        ASSERT_TRUE(a.ok());
        raw = a.get();
        vralio::Fd b(std::move(a));
        EXPECT_FALSE(a.ok());
        EXPECT_EQ(b.get(), raw);
        EXPECT_GE(fcntl(raw, F_GETFD), 0);
    }
    EXPECT_EQ(fcntl(raw, F_GETFD), -1);
    EXPECT_FALSE(vralio::Fd("/nonexistent/x", O_RDONLY).ok());
}

}  // namespace
